// The browser's HTTP stack on Windows: WinINet for the transfer, linked in.
#include "platform/http/fetch.h"

namespace fl::http {

Stack& PlatformStack() {
  // Lives as long as the process: navigations may still be winding down
  // while the program exits.
  static Stack* const stack = NewPageStack();
  return *stack;
}

}  // namespace fl::http
