// libFirstLoadHttp.so, the HTTP stack behind the browser control. It lives in
// a module of its own so that the program neither links nor needs curl and
// libxml2 until a page is first loaded. Both sides are built by the same
// compiler from platform/http/stack.h.
#pragma once

#include "platform/http/stack.h"

namespace fl::posix::http {

inline constexpr char kModuleFile[] = "libFirstLoadHttp.so";
inline constexpr char kFactorySymbol[] = "FirstLoadHttpStack";
// Bumped whenever the stack's interface changes shape, so that a stale
// module is refused rather than called through the wrong vtable.
inline constexpr int kInterfaceVersion = 1;

// The module's one export: the process-wide stack, or null when version is
// not the one the module was built for. The module is never unloaded.
using Factory = fl::http::Stack* (*)(int version);

}  // namespace fl::posix::http
