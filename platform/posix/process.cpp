#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
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

// The first argument after the program's own that is no option: the script
// an interpreter runs, as `env` or a person starts it.
std::string_view ScriptArgument(std::string_view arguments) {
  size_t at = arguments.find('\0');
  while (at != std::string_view::npos && at + 1 < arguments.size()) {
    const std::string_view next =
        arguments.substr(at + 1, strnlen(arguments.data() + at + 1, arguments.size() - at - 1));
    if (!next.empty() && next.front() != '-') return next;
    at = arguments.find('\0', at + 1);
  }
  return {};
}

// The names of one process; false for kernel threads and processes that
// have ended, which run no program. Paths are taken relative to the open
// /proc folder, sparing a lookup of /proc per process. script gets the raw
// script argument.
bool NamesOf(int procFd, const char* pid, ProcessEntry& entry, std::string& script) {
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
  // Another user's process that shows neither its executable nor any
  // argument has ended and waits to be reaped: a zombie runs nothing.
  if (n < 0 && got == 0) return false;
  entry.firstArgument = posix::FromNativeName(BaseName(std::string_view(buf, strnlen(buf, got))));
  script = ScriptArgument(std::string_view(buf, got));
  entry.scriptArgument = posix::FromNativeName(BaseName(script));
  return !entry.exeFile.empty() || !entry.kernelName.empty() || !entry.firstArgument.empty();
}

}  // namespace

struct ProcessSnapshot::Impl {
  DIR* dir = nullptr;
  std::string pid;     // of the last entry
  std::string script;  // its script argument as it stands
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
    if (NamesOf(::dirfd(impl_->dir), name, entry, impl_->script)) {
      impl_->pid = name;
      return true;
    }
  }
  return false;
}

bool ProcessSnapshot::ScriptExists() const {
  const std::string& script = impl_->script;
  if (impl_->dir == nullptr || script.empty()) return false;
  // /proc/PID/cwd leads into the process's working folder.
  const std::string path = script.front() == '/' ? script : impl_->pid + "/cwd/" + script;
  struct stat st;
  return ::fstatat(::dirfd(impl_->dir), path.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
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

// Libraries of the fetch may have left descriptors open without
// close-on-exec (libproxy's pipes to its settings reader): none may pass on
// to the program. glibc has a spawn action for this only from 2.34, so each
// is marked here; without /proc, every number up to the limit is.
void CloseOnExecFrom3() {
  auto mark = [](int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  };
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir)) {
      char* end;
      const long fd = std::strtol(entry->d_name, &end, 10);
      if (*end == '\0' && end != entry->d_name && fd >= 3 && fd != ::dirfd(dir)) {
        mark(static_cast<int>(fd));
      }
    }
    ::closedir(dir);
    return;
  }
  const long limit = ::sysconf(_SC_OPEN_MAX);
  for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd) mark(fd);
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

  // One call, with no copy of this process: everything the program must not
  // inherit is set in the spawn. This process ends soon after, so the program
  // needs no second fork to outlive it, and is not waited for.
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  if (::posix_spawnattr_init(&attr) != 0) return 31;
  if (::posix_spawn_file_actions_init(&actions) != 0) {
    ::posix_spawnattr_destroy(&attr);
    return 31;
  }
  // As from a fresh shell, in a session of its own: dispositions that this
  // process or its starter set up (an ignored SIGPIPE, nohup's SIGHUP) and
  // blocked signals would otherwise pass through exec.
  sigset_t all, none;
  ::sigfillset(&all);
  // glibc's sigaddset refuses its own two signals (32 and 33), and its spawn
  // leaves them ignored in the program unless they are in this set: their
  // bits are set directly, as the kernel's layout has them.
  constexpr int kBitsPerWord = 8 * sizeof all.__val[0];
  for (int sig = 1; sig < NSIG; ++sig) {
    all.__val[(sig - 1) / kBitsPerWord] |= 1UL << ((sig - 1) % kBitsPerWord);
  }
  ::sigemptyset(&none);
  int err = ::posix_spawnattr_setflags(
      &attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (err == 0) err = ::posix_spawnattr_setsigdefault(&attr, &all);
  if (err == 0) err = ::posix_spawnattr_setsigmask(&attr, &none);
  if (err == 0) err = ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
  if (err == 0) err = ::posix_spawn_file_actions_adddup2(&actions, 0, 1);
  if (err == 0) err = ::posix_spawn_file_actions_adddup2(&actions, 0, 2);
  if (err == 0) CloseOnExecFrom3();
  if (err == 0 && !dir.empty()) err = ::posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  if (err == 0) {
    // Never through a shell: the parameter string is one argument, as is.
    char* argv[3] = {const_cast<char*>(path.c_str()),
                     args.empty() ? nullptr : const_cast<char*>(args.c_str()), nullptr};
    pid_t child;
    err = ::posix_spawn(&child, path.c_str(), &actions, &attr, argv, environ);
    if (err != 0) err = ShellError(err, path);
  } else {
    err = 31;
  }
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  return err == 0 ? 42 : err;
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
