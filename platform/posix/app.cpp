#include "platform/app.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/oserror.h"

namespace fl {

const Text kPathSep = u"/";

namespace {

std::string ExePath() {
  std::string buf(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n < 0) posix::ThrowErrno(errno);
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace

Text AppFolder() {
  std::string path = ExePath();
  size_t slash = path.find_last_of('/');
  if (slash == 0 || slash == std::string::npos) return u"/";
  return FromUtf8(path.substr(0, slash));
}

Text AppExeName() {
  std::string path = ExePath();
  std::string name = path.substr(path.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return FromUtf8(name);
}

}  // namespace fl
