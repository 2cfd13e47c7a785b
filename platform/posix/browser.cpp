// The browser's HTTP stack on POSIX: libFirstLoadHttp.so, loaded on the first
// navigation and kept for the life of the process.
#include <mutex>

#include "platform/failure.h"
#include "platform/http/stack.h"
#include "platform/posix/http_module.h"
#include "platform/posix/modules.h"

namespace fl::http {

Stack& PlatformStack() {
  static std::mutex mutex;
  static Stack* stack = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (stack == nullptr) {
    namespace module = posix::http;
    auto factory = reinterpret_cast<module::Factory>(
        posix::LoadModuleSymbol(module::kModuleFile, module::kFactorySymbol));
    stack = factory(module::kInterfaceVersion);
    if (stack == nullptr) {
      Fail(u"Cannot load " + FromUtf8(module::kModuleFile) +
           u": it was built for another version of this program");
    }
  }
  return *stack;
}

}  // namespace fl::http
