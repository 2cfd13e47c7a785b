#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files_os.h"
#include "platform/posix/names.h"
#include "platform/posix/oserror.h"

namespace fl {

using posix::NativeName;
using posix::ThrowErrno;

namespace {

int OpenOrThrow(const std::string& path, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) ThrowErrno(errno);
  return fd;
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A rename is durable only once the folder that records it is on disk too.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

// ---- the handle calls of the shared byte streams ----

os::File os::OpenForReading(const Text& path) {
  const int fd = OpenOrThrow(NativeName(path), O_RDONLY);
  // A folder opens for reading here, but not on Windows; both refuse it alike.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    Fail(desc::kPermission);
  }
  return fd;
}

os::File os::OpenForWriting(const Text& path, WriteStart start) {
  return OpenOrThrow(NativeName(path),
                     O_WRONLY | O_CREAT | (start == WriteStart::kEmpty ? O_TRUNC : O_APPEND));
}

std::size_t os::ReadSome(File file, char* buffer, std::size_t n) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(file), buffer, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowErrno(errno);
  }
}

void os::WriteAll(File file, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::write(static_cast<int>(file), data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    data += put;
    n -= static_cast<std::size_t>(put);
  }
}

void os::SyncFile(File file) {
  if (::fsync(static_cast<int>(file)) != 0) ThrowErrno(errno);
}

void os::CloseOrThrow(File file) {
  if (::close(static_cast<int>(file)) != 0) ThrowErrno(errno);
}

void os::CloseQuietly(File file) {
  ::close(static_cast<int>(file));
}

// ---- the file-system object ----

bool FileExists(const Text& path) {
  std::string p;
  try {
    p = NativeName(path);
  } catch (const Failure&) {
    return false;
  }
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void DeleteFile(const Text& path, bool force) {
  std::string p = NativeName(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) ThrowErrno(errno);
  // The file-system object deletes files only, and finds none by a folder's
  // name.
  if (S_ISDIR(st.st_mode)) Fail(desc::kFileNotFound);
  // Unlinking needs no write permission on the file itself, which is how a
  // forced delete treats read-only files; an unforced one refuses them.
  if (!force && (st.st_mode & S_IWUSR) == 0) ThrowErrno(EACCES);
  if (::unlink(p.c_str()) != 0) ThrowErrno(errno);
}

void MoveFile(const Text& source, const Text& target) {
  std::string s = NativeName(source), t = NativeName(target);
  struct stat st;
  if (::lstat(t.c_str(), &st) == 0) ThrowErrno(EEXIST);
  if (::rename(s.c_str(), t.c_str()) != 0) ThrowErrno(errno);
}

void ReplaceFile(const Text& source, const Text& target) {
  std::string s = NativeName(source), t = NativeName(target);
  struct stat st;
  if (::stat(t.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
  if (::rename(s.c_str(), t.c_str()) != 0) ThrowErrno(errno);
  SyncFolder(ParentFolder(t));
}

// ---- FolderWriteLock ----

FolderWriteLock::FolderWriteLock(const Text& filePath) {
  const std::string folder = ParentFolder(NativeName(filePath));
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without a folder there is nothing to write into; the write itself says so.
  if (fd < 0) return;
  for (unsigned waitedMs = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; waitedMs += 10) {
    if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locking here: go on without
    if (waitedMs >= os::kFolderLockWaitMs) {
      ::close(fd);
      os::FailFolderLockWait(posix::FromNativeName(folder));
    }
    ::usleep(10000);
  }
  handle_ = fd;
}

FolderWriteLock::~FolderWriteLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing releases the lock
}

}  // namespace fl
