// errno to the system's failure descriptions.
#pragma once

#include <string>

#include "platform/failure.h"

namespace fl::posix {

Text DescribeErrno(int err);
[[noreturn]] void ThrowErrno(int err);

// Paths of the system are 16-bit text; the POSIX file system takes UTF-8.
std::string NativePath(const Text& path);

}  // namespace fl::posix
