// The browser's HTTP stack on Windows: WinINet for the transfer, linked in.
#include "platform/http/stack.h"

#include <exception>

#include "platform/win32/http/internal.h"

namespace fl::http {

namespace {

class WinInetStack final : public Stack {
 public:
  // libxml2 wants its global set-up done once, before any thread uses it;
  // the stack is made on the user-interface thread.
  WinInetStack() { xmlInitParser(); }

  Outcome Load(const std::string& url, const std::atomic<bool>& cancel) override {
    Outcome outcome;
    try {
      Response response;
      outcome.error = Fetch(url, cancel, &response);
      if (!outcome.error.empty()) return outcome;
      if (cancel) {
        outcome.error = "cancelled";
        return outcome;
      }
      outcome.document = ParsePage(response.body, response.contentType);
      if (!outcome.document) outcome.error = "libxml2 could not parse the page";
    } catch (const std::exception& e) {
      outcome.document.reset();
      outcome.error = e.what();
    }
    return outcome;
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
