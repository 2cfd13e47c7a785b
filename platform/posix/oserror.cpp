#include "platform/posix/oserror.h"
#include "platform/utf8.h"

#include <cerrno>
#include <cstring>

namespace fl::posix {

Text DescribeErrno(int err) {
  switch (err) {
    case ENOENT:
      return desc::kFileNotFound;
    case ENOTDIR:
      return desc::kPathNotFound;
    case EEXIST:
      return desc::kFileExists;
    // Windows refuses a folder where a file is wanted as access denied.
    case EISDIR:
    case EACCES:
    case EPERM:
    case EROFS:
      return desc::kPermission;
    case ENOSPC:
    case EDQUOT:
      return desc::kDiskFull;
    case ENAMETOOLONG:
      return desc::kBadFileName;
    case ENOMEM:
      return desc::kOutOfMemory;
    default: {
      char buf[256];
      // GNU strerror_r may return a static string instead of filling buf.
      const char* msg = strerror_r(err, buf, sizeof buf);
      return FromUtf8(msg) + u" (errno " + FromUtf8(std::to_string(err)) + u")";
    }
  }
}

void ThrowErrno(int err) {
  throw Failure(DescribeErrno(err));
}

}  // namespace fl::posix
