#include "platform/posix/http_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"
#include "platform/posix/http_module.h"
#include "platform/posix/modules.h"

namespace fl::posix::http {

namespace {

using Clock = std::chrono::steady_clock;

// Beyond any page (16 MiB) and its texts: a longer frame is a broken one.
constexpr std::uint32_t kLargestFrame = std::uint32_t{64} << 20;

// Reads size bytes, giving up after silence without a byte; a silence of
// zero waits as long as it takes.
Received ReadExactly(int fd, char* to, std::size_t size, const fl::http::Cancel* cancel,
                     std::chrono::seconds silence) {
  const bool limited = silence.count() > 0;
  Clock::time_point lastWord = Clock::now();
  while (size > 0) {
    if (cancel != nullptr && (*cancel)()) return Received::kCancelled;
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, cancel != nullptr ? 50 : limited ? 1000 : -1);
    if (ready < 0 && errno != EINTR) return Received::kClosed;
    if (ready <= 0) {
      if (limited && Clock::now() - lastWord >= silence) return Received::kSilent;
      continue;
    }
    const ssize_t got = ::read(fd, to, size);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return Received::kClosed;
    to += got;
    size -= static_cast<std::size_t>(got);
    lastWord = Clock::now();
  }
  return Received::kFrame;
}

Received ReadFrame(int fd, std::string* frame, const fl::http::Cancel* cancel,
                   std::chrono::seconds silence) {
  std::uint32_t size = 0;
  Received got = ReadExactly(fd, reinterpret_cast<char*>(&size), sizeof size, cancel, silence);
  if (got != Received::kFrame) return got;
  if (size == 0 || size > kLargestFrame) return Received::kClosed;
  frame->assign(size, '\0');
  return ReadExactly(fd, frame->data(), size, cancel, silence);
}

// The child's side.

std::uint64_t HandleOf(const FirstLoadHttpNode* node) {
  return reinterpret_cast<std::uintptr_t>(node);
}

FirstLoadHttpNode* NodeOf(std::uint64_t handle) {
  return reinterpret_cast<FirstLoadHttpNode*>(static_cast<std::uintptr_t>(handle));
}

struct Serving {
  int fd;
  mutable Clock::time_point said;
};

// The module asks this now and then while it loads; the parent cancels by
// ending the child, so it only says that the child is still at work.
int StillWorking(const void* context) {
  const auto* serving = static_cast<const Serving*>(context);
  const Clock::time_point now = Clock::now();
  if (now - serving->said >= kWorkingEvery) {
    serving->said = now;
    Send(serving->fd, Frame(kWorking));
  }
  return 0;
}

// One request; false when the parent has gone or sent what makes no sense.
bool Answer(const FirstLoadHttpApi* api, int fd, Frame& request) {
  std::string text;
  std::uint64_t handle = 0;
  switch (request.Kind()) {
    case kLoad: {
      std::string caFile;
      std::uint64_t connect = 0, stall = 0;
      if (!request.Next(&text) || !request.Next(&caFile) || !request.Next(&connect) ||
          !request.Next(&stall) || !request.Next(&handle)) {
        return false;
      }
      // The module reads proxies and more from the environment, which is the
      // program's as it is now, not as it was when the child was forked.
      ::clearenv();
      for (std::string variable; handle > 0; --handle) {
        if (!request.Next(&variable)) return false;
        const std::size_t equals = variable.find('=');
        if (equals != std::string::npos && equals > 0) {
          variable[equals] = '\0';
          ::setenv(variable.c_str(), variable.c_str() + equals + 1, 1);
        }
      }
      const Serving serving{fd, Clock::now()};
      char* why = nullptr;
      FirstLoadHttpNode* page = api->load(text.c_str(), caFile.c_str(), static_cast<int>(connect),
                                          static_cast<int>(stall), &StillWorking, &serving, &why);
      Frame answer = page != nullptr ? std::move(Frame(kNode).Number(HandleOf(page)))
                                     : std::move(Frame(kFailed).Text(why ? why : "out of memory"));
      api->freeText(why);
      return Send(fd, answer);
    }
    case kMember: {
      if (!request.Next(&handle) || !request.Next(&text)) return false;
      FirstLoadHttpNode* found = nullptr;
      const int lookup = api->member(NodeOf(handle), text.c_str(), &found);
      return Send(
          fd, Frame(kLookup).Number(static_cast<std::uint64_t>(lookup)).Number(HandleOf(found)));
    }
    case kValue: {
      if (!request.Next(&handle)) return false;
      char* value = nullptr;
      const int has = api->value(NodeOf(handle), &value);
      Frame answer(kText);
      answer.Number(static_cast<std::uint64_t>(has)).Text(has != 0 ? value : "");
      if (has != 0) api->freeText(value);
      return Send(fd, answer);
    }
    case kRelease:
      if (!request.Next(&handle)) return false;
      api->release(NodeOf(handle));
      return true;
    default:
      return false;
  }
}

[[noreturn]] void Serve(int fd) {
  const FirstLoadHttpApi* api = nullptr;
  try {
    api = LoadModuleApi<FirstLoadHttpApi>(kModuleFile, kEntrySymbol, kInterfaceVersion);
  } catch (const std::exception& e) {
    Send(fd, Frame(kNotReady).Text(e.what()));
    ::_exit(0);
  }
  if (!Send(fd, Frame(kReady))) ::_exit(0);
  std::string bytes;
  while (ReadFrame(fd, &bytes, nullptr, std::chrono::seconds(0)) == Received::kFrame) {
    Frame request(std::move(bytes));
    if (!Answer(api, fd, request)) break;
  }
  ::_exit(0);
}

// The program's signal set-up is not the helper's, but for SIGPIPE, which
// the program ignores from the start and the module was loaded with.
void ResetSignals() {
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  // glibc refuses its own two; so does the kernel SIGKILL and SIGSTOP.
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGPIPE) ::sigaction(signal, &plain, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

Frame& Frame::Number(std::uint64_t value) {
  bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
  return *this;
}

Frame& Frame::Text(const std::string& text) {
  const auto size = static_cast<std::uint32_t>(text.size());
  bytes_.append(reinterpret_cast<const char*>(&size), sizeof size);
  bytes_ += text;
  return *this;
}

bool Frame::Next(std::uint64_t* value) {
  if (bytes_.size() - read_ < sizeof *value) return false;
  std::memcpy(value, bytes_.data() + read_, sizeof *value);
  read_ += sizeof *value;
  return true;
}

bool Frame::Next(std::string* text) {
  std::uint32_t size = 0;
  if (bytes_.size() - read_ < sizeof size) return false;
  std::memcpy(&size, bytes_.data() + read_, sizeof size);
  if (bytes_.size() - read_ - sizeof size < size) return false;
  text->assign(bytes_, read_ + sizeof size, size);
  read_ += sizeof size + size;
  return true;
}

bool Send(int fd, const Frame& frame) {
  const std::string& bytes = frame.Bytes();
  const auto size = static_cast<std::uint32_t>(bytes.size());
  std::string out(reinterpret_cast<const char*>(&size), sizeof size);
  out += bytes;
  for (std::size_t sent = 0; sent < out.size();) {
    const ssize_t wrote = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    sent += static_cast<std::size_t>(wrote);
  }
  return true;
}

Frame LoadRequest(const std::string& url, const std::string& caFile,
                  const fl::http::Limits& limits) {
  Frame request(kLoad);
  request.Text(url).Text(caFile);
  request.Number(static_cast<std::uint64_t>(limits.connectSeconds));
  request.Number(static_cast<std::uint64_t>(limits.stallSeconds));
  std::uint64_t count = 0;
  for (char** variable = environ; *variable != nullptr; ++variable) ++count;
  request.Number(count);
  for (char** variable = environ; *variable != nullptr; ++variable) request.Text(*variable);
  return request;
}

Received Receive(int fd, std::string* frame, std::chrono::seconds silence,
                 const fl::http::Cancel* cancel) {
  return ReadFrame(fd, frame, cancel, silence);
}

Helper StartHelper() {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return {};
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // glibc has reset its malloc, stdio and loader locks here, so the child
    // may allocate and dlopen; it touches nothing of GTK, GLib or X, whose
    // threads it did not inherit.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(0);
    ResetSignals();
    // Only the socket (as 3) and 0-2 stay open.
    if (pair[1] != 3 && ::dup2(pair[1], 3) != 3) ::_exit(0);
    ::closefrom(4);
    Serve(3);
  }
  ::close(pair[1]);
  if (pid < 0) {
    ::close(pair[0]);
    return {};
  }
  return {pid, pair[0]};
}

}  // namespace fl::posix::http
