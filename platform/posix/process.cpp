#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/failure.h"

namespace fl {

namespace {

std::string BaseName(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The bare name of the file a process runs; failing that, of its first
// argument. Empty for kernel threads, which have neither. Paths are taken
// relative to the open /proc folder, sparing a lookup of /proc per process.
std::string ExeNameOf(int procFd, const char* pid) {
  char link[300];  // a name of /proc, up to 255 bytes, and "/cmdline"
  const size_t pidLength = strnlen(pid, 256);
  std::memcpy(link, pid, pidLength);
  std::memcpy(link + pidLength, "/exe", 5);
  char target[4096];
  ssize_t n = ::readlinkat(procFd, link, target, sizeof target - 1);
  if (n > 0) {
    std::string path(target, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";  // the file was replaced while running
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.resize(path.size() - deleted.size());
    }
    return BaseName(path);
  }
  // No link at all means no memory image: a kernel thread, or a process that
  // has ended, whose argument list reads empty too. Most entries of /proc are
  // kernel threads, so this spares three system calls each.
  if (n < 0 && errno == ENOENT) return {};
  std::memcpy(link + pidLength, "/cmdline", 9);
  int fd = ::openat(procFd, link, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char args[4096];
  ssize_t got = ::read(fd, args, sizeof args - 1);
  ::close(fd);
  if (got <= 0) return {};
  return BaseName(std::string(args, strnlen(args, static_cast<size_t>(got))));
}

}  // namespace

struct ProcessSnapshot::Impl {
  DIR* dir = nullptr;
};

ProcessSnapshot::ProcessSnapshot() : impl_(std::make_unique<Impl>()) {
  impl_->dir = ::opendir("/proc");
}

ProcessSnapshot::~ProcessSnapshot() {
  if (impl_->dir != nullptr) ::closedir(impl_->dir);
}

bool ProcessSnapshot::Valid() const {
  return impl_->dir != nullptr;
}

bool ProcessSnapshot::Next(Text& exeFile) {
  if (impl_->dir == nullptr) return false;
  while (dirent* entry = ::readdir(impl_->dir)) {
    const char* name = entry->d_name;
    if (*name < '1' || *name > '9') continue;  // only process ids
    std::string exe = ExeNameOf(::dirfd(impl_->dir), name);
    if (exe.empty()) continue;  // gone meanwhile, or a kernel thread
    exeFile = FromUtf8(exe);
    return true;
  }
  return false;
}

namespace {

std::int32_t ShellError(int err, const std::string& file) {
  switch (err) {
    case ENOENT: {
      std::string folder = file.substr(0, file.find_last_of('/') + 1);
      struct stat st;
      if (!folder.empty() && (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return 3;
      return 2;
    }
    case ENOTDIR:
      return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
      return 5;
    case ENOEXEC:
    case ELIBBAD:
      return 11;
    default:
      return 31;
  }
}

}  // namespace

std::int32_t ShellExecute(WindowHandle /*owner*/, const Text& operation, const Text& file,
                          const Text& parameters, const Text& directory, int /*showCmd*/) {
  if (operation != u"Open" && operation != u"open" && !operation.empty()) return 31;
  const std::string path = ToUtf8(file);
  const std::string args = ToUtf8(parameters);
  const std::string dir = ToUtf8(directory);
  if (path.find('\0') != std::string::npos || args.find('\0') != std::string::npos) return 31;

  // The grandchild reports a failed exec through this pipe; it closes on a
  // successful one.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return 31;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return 31;
  }
  if (child == 0) {
    // Detach from this process so the program outlives it, and let init
    // reap it.
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      if (null > 2) ::close(null);
    }
    ::signal(SIGPIPE, SIG_DFL);
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
      int err = errno;
      (void)!::write(report[1], &err, sizeof err);
      ::_exit(127);
    }
    // Never through a shell: the parameter string is one argument, as is.
    char* argv[3] = {const_cast<char*>(path.c_str()),
                     args.empty() ? nullptr : const_cast<char*>(args.c_str()), nullptr};
    ::execv(path.c_str(), argv);
    int err = errno;
    (void)!::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t got;
  while ((got = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof err)) return ShellError(err, path);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 31;
  return 42;
}

void EndProcess(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace fl
