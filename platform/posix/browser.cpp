// The browser's HTTP stack on POSIX: libFirstLoadHttp.so, loaded not here but
// in a helper process (http_process.h) started on the first navigation and
// kept for the life of the process, its calls made by messages. A cancelled
// load ends the helper; the next load starts another.
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/http/stack.h"
#include "platform/posix/http_process.h"
#include "platform/utf8.h"

namespace fl::http {

namespace {

namespace helper = posix::http;
using helper::Frame;
using helper::Received;

// How long a helper may be silent when it answers a lookup or says it is
// ready; a load says its own.
const std::chrono::seconds kSilence{Limits().silenceSeconds};

// Forks every helper from a thread of its own that lasts as long as the
// process: a child's parent-death signal follows the thread that forked it,
// and a navigation's thread ends with its load. One, never destroyed.
class Spawner {
 public:
  static constexpr char kName[] = "FirstLoad-http";

  helper::Helper Start() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!serving_) {
      try {
        std::thread([this] { Serve(); }).detach();
      } catch (const std::system_error&) {
        return {};
      }
      serving_ = true;
    }
    asked_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !asked_; });
    return started_;
  }

 private:
  [[noreturn]] void Serve() {
    // The helpers take the name too: ps and top show them as the HTTP stack.
    ::pthread_setname_np(::pthread_self(), kName);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return asked_; });
      started_ = helper::StartHelper();
      asked_ = false;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool serving_ = false;
  bool asked_ = false;
  helper::Helper started_;
};

// One helper process. Its nodes keep it; it is ended (killed and reaped) when
// a call to it fails or is cancelled, or when nothing refers to it any more.
class Child {
 public:
  explicit Child(helper::Helper started) : started_(started) {}
  ~Child() { End(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // One exchange at a time; a lookup waits for a load under way.
  std::timed_mutex use;

  bool Ended() const { return ended_; }

  // With use held.
  void End() {
    if (ended_.exchange(true)) return;
    ::close(started_.socket);
    ::kill(started_.pid, SIGKILL);
    while (::waitpid(started_.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }

  // With use held: sends the releases that waited for it, then request.
  bool Send(const Frame& request) {
    return SendReleases() && helper::Send(started_.socket, request);
  }

  // With use held: the next answer other than "still working". Ends the
  // child and says why when there is none.
  bool Receive(Frame* answer, std::string* why, std::chrono::seconds silence = kSilence,
               const Cancel* cancel = nullptr) {
    std::string bytes;
    for (;;) {
      const Received got = helper::Receive(started_.socket, &bytes, silence, cancel);
      if (got == Received::kFrame && !bytes.empty() && bytes[0] == helper::kWorking) continue;
      if (got == Received::kFrame) {
        *answer = Frame(std::move(bytes));
        return true;
      }
      End();
      *why = got == Received::kCancelled ? "cancelled"
             : got == Received::kSilent  ? helper::kSilent
                                         : helper::kEnded;
      return false;
    }
  }

  // A node given up, from any thread, without waiting for a load under way.
  void Release(std::uint64_t handle) {
    {
      std::lock_guard<std::mutex> lock(releasesMutex_);
      releases_.push_back(handle);
    }
    std::unique_lock<std::timed_mutex> lock(use, std::try_to_lock);
    if (lock.owns_lock() && !Ended() && !SendReleases()) End();
  }

 private:
  // With use held.
  bool SendReleases() {
    std::vector<std::uint64_t> releases;
    {
      std::lock_guard<std::mutex> lock(releasesMutex_);
      releases.swap(releases_);
    }
    for (std::uint64_t handle : releases) {
      if (!helper::Send(started_.socket, Frame(helper::kRelease).Number(handle))) return false;
    }
    return true;
  }

  helper::Helper started_;
  std::atomic<bool> ended_{false};
  std::mutex releasesMutex_;
  std::vector<std::uint64_t> releases_;
};

class ChildNode final : public Node {
 public:
  ChildNode(std::shared_ptr<Child> child, std::uint64_t handle)
      : child_(std::move(child)), handle_(handle) {}
  ~ChildNode() override { child_->Release(handle_); }
  ChildNode(const ChildNode&) = delete;
  ChildNode& operator=(const ChildNode&) = delete;

  // A node of a helper that has ended has no members and no value.
  Lookup Member(const std::string& name, std::shared_ptr<const Node>* found) const override {
    std::uint64_t lookup = 1, member = 0;
    {
      std::lock_guard<std::timed_mutex> lock(child_->use);
      Frame answer('\0');
      std::string why;
      if (child_->Ended() || !child_->Send(Frame(helper::kMember).Number(handle_).Text(name)) ||
          !child_->Receive(&answer, &why) || answer.Kind() != helper::kLookup ||
          !answer.Next(&lookup) || !answer.Next(&member)) {
        child_->End();
        return Lookup::kMissing;
      }
    }
    // Outside the lock: the node replaced may be released.
    if (lookup == 0) *found = std::make_shared<ChildNode>(child_, member);
    return lookup == 0 ? Lookup::kFound : lookup == 2 ? Lookup::kAmbiguous : Lookup::kMissing;
  }

  bool Value(std::string* value) const override {
    std::lock_guard<std::timed_mutex> lock(child_->use);
    Frame answer('\0');
    std::string why;
    std::uint64_t has = 0;
    if (child_->Ended() || !child_->Send(Frame(helper::kValue).Number(handle_)) ||
        !child_->Receive(&answer, &why) || answer.Kind() != helper::kText || !answer.Next(&has) ||
        !answer.Next(value)) {
      child_->End();
      return false;
    }
    return has != 0;
  }

 private:
  std::shared_ptr<Child> child_;
  std::uint64_t handle_;
};

class ChildStack final : public Stack {
 public:
  // Starts the first helper; why says why it could not, empty when it did.
  explicit ChildStack(std::string* why) { Current(why); }

  Outcome Load(const std::string& url, const std::string& caFile, const Limits& limits,
               const Cancel& cancel) override {
    Outcome outcome;
    for (;;) {
      std::shared_ptr<Child> child = Current(&outcome.error);
      if (!child) return outcome;
      std::unique_lock<std::timed_mutex> lock(child->use, std::defer_lock);
      while (!lock.try_lock_for(std::chrono::milliseconds(50))) {
        if (cancel()) {
          outcome.error = "cancelled";
          return outcome;
        }
      }
      // Ended by another load's cancel while this one waited: start anew.
      if (child->Ended()) continue;
      Frame answer('\0');
      std::uint64_t handle = 0;
      if (!child->Send(helper::LoadRequest(url, caFile, limits))) {
        child->End();
        outcome.error = helper::kEnded;
      } else if (child->Receive(&answer, &outcome.error,
                                std::chrono::seconds(limits.silenceSeconds), &cancel)) {
        if (answer.Kind() == helper::kNode && answer.Next(&handle)) {
          outcome.document = std::make_shared<ChildNode>(child, handle);
        } else if (answer.Kind() != helper::kFailed || !answer.Next(&outcome.error)) {
          child->End();
          outcome.error = helper::kEnded;
        }
      }
      return outcome;
    }
  }

 private:
  // The helper in use, or a new one when there is none or it has ended.
  std::shared_ptr<Child> Current(std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ && !current_->Ended()) return current_;
    current_.reset();
    static Spawner* const spawner = new Spawner;
    const helper::Helper started = spawner->Start();
    if (started.pid < 0) {
      *why = "the HTTP helper process could not be started";
      return nullptr;
    }
    auto child = std::make_shared<Child>(started);
    std::lock_guard<std::timed_mutex> using_(child->use);
    Frame hello('\0');
    if (!child->Receive(&hello, why)) return nullptr;
    if (hello.Kind() != helper::kReady) {
      if (hello.Kind() != helper::kNotReady || !hello.Next(why)) *why = helper::kEnded;
      child->End();
      return nullptr;
    }
    current_ = std::move(child);
    return current_;
  }

  std::mutex mutex_;
  std::shared_ptr<Child> current_;
};

}  // namespace

Stack& PlatformStack() {
  static std::mutex mutex;
  static Stack* stack = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (stack == nullptr) {
    // Lives as long as the process; so does its helper, which ends when the
    // process does and its socket closes.
    std::string why;
    auto* started = new ChildStack(&why);
    if (!why.empty()) {
      delete started;
      Fail(FromUtf8(why));
    }
    stack = started;
  }
  return *stack;
}

}  // namespace fl::http
