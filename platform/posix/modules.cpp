#include "platform/posix/modules.h"

#include <dlfcn.h>

#include "platform/app.h"
#include "platform/failure.h"
#include "platform/posix/names.h"
#include "platform/utf8.h"

namespace fl::posix {

void* LoadModuleSymbol(const char* fileName, const char* symbol) {
  // Modules are found beside the executable, never on the library path, so
  // an installation folder carries everything it runs.
  const std::string path = NativeName(AppFolder() + kPathSep) + fileName;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    Fail(u"Cannot load " + FromUtf8(fileName) + u": " + FromUtf8(why ? why : "unknown error"));
  }
  void* address = ::dlsym(handle, symbol);
  if (address == nullptr) {
    Fail(u"Cannot load " + FromUtf8(fileName) + u": no " + FromUtf8(symbol));
  }
  return address;
}

void FailStaleModule(const char* fileName) {
  Fail(u"Cannot load " + FromUtf8(fileName) +
       u": it was built for another version of this program");
}

}  // namespace fl::posix
