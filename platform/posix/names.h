// File names and program arguments in the locale's character set (UTF-8 in
// the C locale). Names convert losslessly: a byte that does not decode
// becomes the lone surrogate U+DC00 + byte and goes back out as that byte, so
// any name the file system allows survives a trip through the system's text.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace fl::posix {

// The name's bytes; fails with "Bad file name or number" for a character
// the locale cannot spell or an embedded NUL, which the OS would cut short.
std::string NativeName(const Text& name);

// A program argument's bytes; a character the locale cannot spell becomes
// "?".
std::string NativeArgument(const Text& text);

// Bytes from the OS (a path, a process name) as text.
Text FromNativeName(std::string_view bytes);

}  // namespace fl::posix
