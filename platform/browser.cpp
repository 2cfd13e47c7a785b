// The browser control over the platform's HTTP stack: one helper thread per
// navigation, its outcome handed to the user-interface thread as an event.
#include "platform/browser.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/events.h"
#include "platform/failure.h"
#include "platform/http/stack.h"
#include "platform/utf8.h"

namespace fl {

namespace {

// What the runtime says when a late-bound member is not there.
constexpr char16_t kNoSuchMember[] = u"Object doesn't support this property or method";

class PageNode final : public HtmlNode {
 public:
  explicit PageNode(std::shared_ptr<const http::Node> node) : node_(std::move(node)) {}

  std::shared_ptr<HtmlNode> Member(const Text& name) const override {
    std::shared_ptr<const http::Node> found;
    // Missing and ambiguous alike: a browser hands back no single element.
    if (node_->Member(ToUtf8(name), &found) != http::Node::Lookup::kFound) Fail(kNoSuchMember);
    return std::make_shared<PageNode>(std::move(found));
  }

  Text Property(const Text& name) const override {
    std::string value;
    if (name != u"value" || !node_->Value(&value)) Fail(kNoSuchMember);
    return FromUtf8(value);
  }

 private:
  std::shared_ptr<const http::Node> node_;
};

// One navigation's helper thread and what it shares with the browser.
struct Navigation {
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> holdsSource{true};
  std::thread thread;

  // Whichever comes first, the event running or a Stop, lets the waiters go.
  // Not at posting time: a waiter that has just run the event would find a
  // source still registered and wait for an event that never comes.
  void ReleaseSource() {
    if (holdsSource.exchange(false)) RemoveEventSource();
  }
};

}  // namespace

// Touched only on the user-interface thread; helper threads reach it through
// events that carry a weak reference and the generation they belong to.
struct WebBrowser::Impl {
  WebBrowser* browser;
  std::uint64_t generation = 0;
  bool busy = false;
  std::shared_ptr<Navigation> current;
  std::vector<std::shared_ptr<Navigation>> retired;  // threads still to join
  std::shared_ptr<HtmlNode> document;
  Text address;
  Text failure;

  explicit Impl(WebBrowser* owner) : browser(owner) {}

  void Cancel() {
    ++generation;
    busy = false;
    if (!current) return;
    current->cancel = true;
    current->ReleaseSource();
    retired.push_back(std::move(current));
    current.reset();
  }

  void JoinFinished(bool all) {
    for (auto it = retired.begin(); it != retired.end();) {
      if (all || (*it)->finished) {
        if ((*it)->thread.joinable()) (*it)->thread.join();
        it = retired.erase(it);
      } else {
        ++it;
      }
    }
  }

  static void Deliver(const std::weak_ptr<Impl>& owner, std::uint64_t generation,
                      const http::Outcome& outcome) {
    std::shared_ptr<Impl> impl = owner.lock();
    if (!impl || impl->generation != generation || impl->browser == nullptr) return;
    impl->busy = false;
    const std::shared_ptr<const http::Node>& page = outcome.document;
    if (page) {
      impl->document = std::make_shared<PageNode>(page);
    } else {
      impl->failure = FromUtf8(outcome.error.empty() ? "unknown failure" : outcome.error);
    }
    // A copy, so that a handler may replace itself or destroy the browser.
    std::function<void()> handler =
        page ? impl->browser->DocumentComplete : impl->browser->NavigateError;
    if (handler) handler();
  }

  static int Cancelled(const void* flag) {
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
  }

  static void Run(std::string url, std::string caFile, http::Limits limits,
                  std::shared_ptr<Navigation> nav, std::weak_ptr<Impl> owner,
                  std::uint64_t generation) {
    http::Outcome outcome;
    // Started here, not on the user-interface thread, so that the window is
    // drawn and answers while a module loads or a library sets itself up.
    http::Stack* stack = nullptr;
    try {
      stack = &http::PlatformStack();
    } catch (const Failure& failure) {
      outcome.error = "the HTTP stack could not be started: " + std::string(failure.what());
    } catch (const std::exception&) {
      outcome.error = "the HTTP stack could not be started: out of memory";
    }
    if (stack != nullptr) {
      outcome = stack->Load(url, caFile, limits, http::Cancel{&Cancelled, &nav->cancel});
    }
    if (!nav->cancel) {
      PostEvent([nav, owner = std::move(owner), generation, outcome = std::move(outcome)] {
        nav->ReleaseSource();
        Deliver(owner, generation, outcome);
      });
    }
    nav->finished = true;
  }
};

WebBrowser::WebBrowser() : impl_(std::make_shared<Impl>(this)) {}

WebBrowser::~WebBrowser() {
  impl_->browser = nullptr;
  impl_->Cancel();
  impl_->JoinFinished(true);
}

// Nothing is ever cached, so the no-read and no-write flags hold whatever
// flags say.
void WebBrowser::Navigate(const Text& address, std::int32_t /*flags*/) {
  impl_->Cancel();
  impl_->JoinFinished(false);
  impl_->document.reset();
  impl_->address = address;
  impl_->failure.clear();

  auto nav = std::make_shared<Navigation>();
  const std::uint64_t generation = impl_->generation;
  AddEventSource();
  try {
    nav->thread = std::thread(&Impl::Run, ToUtf8(address), ToUtf8(TrustedCaFile), Limits, nav,
                              std::weak_ptr<Impl>(impl_), generation);
  } catch (const std::system_error&) {
    nav->ReleaseSource();
    Fail(desc::kOutOfMemory);
  }
  impl_->current = std::move(nav);
  impl_->busy = true;
}

void WebBrowser::Stop() {
  impl_->Cancel();
}

bool WebBrowser::Busy() const {
  return impl_->busy;
}

Text WebBrowser::LocationURL() const {
  return impl_->address;
}

Text WebBrowser::FailureReason() const {
  return impl_->failure;
}

std::shared_ptr<HtmlNode> WebBrowser::Document() const {
  if (!impl_->document) Fail(desc::kNoObject);
  return impl_->document;
}

}  // namespace fl
