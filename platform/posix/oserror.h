// errno to the system's failure descriptions.
#pragma once

#include <string>

#include "platform/failure.h"

namespace fl::posix {

Text DescribeErrno(int err);
[[noreturn]] void ThrowErrno(int err);

}  // namespace fl::posix
