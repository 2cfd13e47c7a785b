#include "platform/app.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files_os.h"
#include "platform/posix/names.h"
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
  return posix::FromNativeName(std::string_view(path).substr(0, slash));
}

Text AppExeName() {
  std::string path = ExePath();
  std::string name = path.substr(path.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return posix::FromNativeName(name);
}

namespace {

// A reader that has gone or a full disk just loses the text.
void WriteQuietly(int fd, const std::string& bytes) {
  try {
    os::WriteAll(fd, bytes.data(), bytes.size());
  } catch (const Failure&) {
  }
}

}  // namespace

void WriteStandardError(const Text& line) {
  // One write where it fits, so lines of several writers do not interleave.
  WriteQuietly(STDERR_FILENO, posix::NativeArgument(line) + "\n");
}

void WriteStandardOutput(const Text& text) {
  WriteQuietly(STDOUT_FILENO, posix::NativeArgument(text));
}

std::vector<Text> ProgramArguments(int argc, char** argv) {
  std::vector<Text> args;
  for (int i = 0; i < argc; ++i) args.push_back(posix::FromNativeName(argv[i]));
  return args;
}

Text FullPath(const Text& path) {
  if (!path.empty() && path[0] == u'/') return path;
  std::string cwd(4096, '\0');
  if (::getcwd(cwd.data(), cwd.size()) == nullptr) posix::ThrowErrno(errno);
  cwd.resize(std::strlen(cwd.c_str()));
  return posix::FromNativeName(cwd) + (cwd == "/" ? u"" : u"/") + path;
}

Text EnvironmentValue(const Text& name) {
  const char* value = std::getenv(posix::NativeArgument(name).c_str());
  return value != nullptr ? posix::FromNativeName(value) : Text();
}

}  // namespace fl
