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
#include "platform/posix/names.h"

namespace fl {

namespace {

// What the kernel keeps of a program's file name as the process's name.
constexpr size_t kKernelNameBytes = 15;

std::string_view BaseName(std::string_view path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Reads a small file of /proc into buf; its length, or 0.
size_t ReadProcFile(int procFd, const char* name, char* buf, size_t size) {
  const int fd = ::openat(procFd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  ssize_t got;
  while ((got = ::read(fd, buf, size)) < 0 && errno == EINTR) {
  }
  ::close(fd);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

// The names of one process; false for kernel threads and processes that
// have ended, which run no program. Paths are taken relative to the open
// /proc folder, sparing a lookup of /proc per process.
bool NamesOf(int procFd, const char* pid, ProcessEntry& entry) {
  char link[300];  // a name of /proc, up to 255 bytes, and "/cmdline"
  const size_t pidLength = strnlen(pid, 256);
  std::memcpy(link, pid, pidLength);
  std::memcpy(link + pidLength, "/exe", 5);
  char target[4096];
  const ssize_t n = ::readlinkat(procFd, link, target, sizeof target);
  // No link at all means no memory image. Most entries of /proc are kernel
  // threads, so this spares them the other reads.
  if (n < 0 && errno == ENOENT) return false;
  std::string_view exe;
  if (n > 0) {
    exe = std::string_view(target, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";  // replaced while it runs
    if (exe.size() > kDeleted.size() && exe.substr(exe.size() - kDeleted.size()) == kDeleted) {
      exe.remove_suffix(kDeleted.size());
    }
    exe = BaseName(exe);
  }
  entry.exeFile = posix::FromNativeName(exe);

  // A script's or an interpreted program's executable is its interpreter;
  // the kernel's name and the first argument still carry its own name.
  char buf[4096];
  std::memcpy(link + pidLength, "/comm", 6);
  size_t got = ReadProcFile(procFd, link, buf, sizeof buf);
  if (got > 0 && buf[got - 1] == '\n') --got;
  entry.kernelName = posix::FromNativeName(std::string_view(buf, got));

  std::memcpy(link + pidLength, "/cmdline", 9);
  got = ReadProcFile(procFd, link, buf, sizeof buf);
  entry.firstArgument = posix::FromNativeName(BaseName(std::string_view(buf, strnlen(buf, got))));
  return !entry.exeFile.empty() || !entry.kernelName.empty() || !entry.firstArgument.empty();
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

bool ProcessSnapshot::Next(ProcessEntry& entry) {
  if (impl_->dir == nullptr) return false;
  while (dirent* found = ::readdir(impl_->dir)) {
    const char* name = found->d_name;
    if (*name < '1' || *name > '9') continue;  // only process ids
    if (NamesOf(::dirfd(impl_->dir), name, entry)) return true;
  }
  return false;
}

Text KernelNameFor(const Text& fileName) {
  std::string bytes = posix::NativeArgument(fileName);
  if (bytes.size() <= kKernelNameBytes) return fileName;
  bytes.resize(kKernelNameBytes);
  return posix::FromNativeName(bytes);
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
  std::string path, dir;
  try {
    path = posix::NativeName(file);
    dir = posix::NativeName(directory);
  } catch (const Failure&) {
    return 2;  // a name no file can have
  }
  const std::string args = posix::NativeArgument(parameters);
  if (args.find('\0') != std::string::npos) return 31;

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
    // The program starts as from a fresh shell: dispositions that this
    // process or its starter set up (an ignored SIGPIPE, nohup's SIGHUP) and
    // blocked signals would otherwise pass through exec.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
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

void PrepareProcess() {
  // A reader of standard error that has gone must not end the run before it
  // asks the service or starts the program; the write just fails.
  ::signal(SIGPIPE, SIG_IGN);
}

void EndProcess(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace fl
