// The module's one export, through which the program has the stack.
#include "platform/http/fetch.h"
#include "platform/posix/http_module.h"

extern "C" __attribute__((visibility("default"))) fl::http::Stack* FirstLoadHttpStack(int version) {
  if (version != fl::posix::http::kInterfaceVersion) return nullptr;
  // Lives as long as the process: the module is never unloaded, and
  // navigations may still be winding down while the program exits.
  static fl::http::Stack* const stack = fl::http::NewPageStack();
  return stack;
}
