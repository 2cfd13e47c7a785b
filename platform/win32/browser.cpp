// The browser's HTTP stack on Windows: WinINet for the transfer, linked in.
#include "platform/http/stack.h"

#include <exception>

#include "platform/http/fetch.h"

namespace fl::http {

namespace {

class WinInetStack final : public Stack {
 public:
  // libxml2 wants its global set-up done once, before any thread uses it;
  // the stack is made on the user-interface thread.
  WinInetStack() { xmlInitParser(); }

  Outcome Load(const std::string& url, const std::atomic<bool>& cancel) override {
    return LoadPage(url, cancel);
  }
};

}  // namespace

Stack& PlatformStack() {
  // Lives as long as the process: navigations may still be winding down
  // while the program exits.
  static Stack* const stack = new WinInetStack;
  return *stack;
}

}  // namespace fl::http
