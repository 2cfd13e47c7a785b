#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

void WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
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
  if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
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

std::string ReadFileBytes(const Text& path) {
  int fd = OpenOrThrow(NativeName(path), O_RDONLY);
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ThrowErrno(err);
    }
    if (r == 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  ::close(fd);
  return out;
}

void WriteFileBytes(const Text& path, const std::string& bytes, bool truncate) {
  int fd = OpenOrThrow(NativeName(path), O_WRONLY | O_CREAT | (truncate ? O_TRUNC : O_APPEND));
  try {
    WriteAll(fd, bytes.data(), bytes.size());
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) ThrowErrno(errno);
}

// ---- FolderWriteLock ----

FolderWriteLock::FolderWriteLock(const Text& filePath) {
  const std::string folder = ParentFolder(NativeName(filePath));
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without a folder there is nothing to write into; the write itself says so.
  if (fd < 0) return;
  // Writers hold the lock for one file's rewrite; a holder that keeps it far
  // longer is stuck, and waiting on it would hang this run.
  for (int waitedMs = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; waitedMs += 10) {
    if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locking here: go on without
    if (waitedMs >= 30000) {
      ::close(fd);
      Fail(desc::kPermission + Text(u": another process keeps rewriting files in ") +
           posix::FromNativeName(folder));
    }
    ::usleep(10000);
  }
  handle_ = fd;
}

FolderWriteLock::~FolderWriteLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing releases the lock
}

// ---- ByteReader ----

struct ByteReader::Impl {
  int fd = -1;
  char buf[1 << 16];
  size_t pos = 0, len = 0;

  // Refills the buffer; false at the end of the file.
  bool Fill() {
    if (pos < len) return true;
    for (;;) {
      ssize_t r = ::read(fd, buf, sizeof buf);
      if (r < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno);
      }
      pos = 0;
      len = static_cast<size_t>(r);
      return r > 0;
    }
  }
};

// Plain new leaves the buffer uninitialised: it is always filled before use,
// and zeroing 64 KiB on every open is most of a small read's cost.
ByteReader::ByteReader(const Text& path) : impl_(new Impl) {
  std::string p = NativeName(path);
  impl_->fd = OpenOrThrow(p, O_RDONLY);
  struct stat st;
  if (::fstat(impl_->fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(impl_->fd);
    impl_->fd = -1;
    Fail(desc::kPermission);
  }
}

ByteReader::~ByteReader() {
  Close();
}

bool ByteReader::AtEnd() {
  if (impl_->fd < 0) Fail(desc::kBadFileName);
  return !impl_->Fill();
}

void ByteReader::Read(size_t n, std::string& out) {
  if (impl_->fd < 0) Fail(desc::kBadFileName);
  out.clear();
  while (n > 0) {
    if (!impl_->Fill()) Fail(desc::kPastEnd);
    size_t take = std::min(n, impl_->len - impl_->pos);
    out.append(impl_->buf + impl_->pos, take);
    impl_->pos += take;
    n -= take;
  }
}

void ByteReader::Close() {
  if (impl_ && impl_->fd >= 0) {
    ::close(impl_->fd);
    impl_->fd = -1;
  }
}

// ---- ByteWriter ----

struct ByteWriter::Impl {
  int fd = -1;
  std::string buf;

  void Flush() {
    if (!buf.empty()) {
      WriteAll(fd, buf.data(), buf.size());
      buf.clear();
    }
  }
};

ByteWriter::ByteWriter(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->fd = OpenOrThrow(NativeName(path), O_WRONLY | O_CREAT | O_TRUNC);
  impl_->buf.reserve(1 << 16);
}

ByteWriter::~ByteWriter() {
  Close();
}

void ByteWriter::Write(const char* data, size_t n) {
  if (impl_->fd < 0) Fail(desc::kBadFileName);
  if (impl_->buf.size() + n > (1 << 16)) {
    impl_->Flush();
    if (n >= (1 << 16)) {
      WriteAll(impl_->fd, data, n);
      return;
    }
  }
  impl_->buf.append(data, n);
}

void ByteWriter::Commit() {
  if (impl_->fd < 0) Fail(desc::kBadFileName);
  impl_->Flush();
  if (::fsync(impl_->fd) != 0) ThrowErrno(errno);
  int fd = impl_->fd;
  impl_->fd = -1;
  if (::close(fd) != 0) ThrowErrno(errno);
}

void ByteWriter::Close() {
  if (impl_ && impl_->fd >= 0) {
    ::close(impl_->fd);  // unflushed bytes of an abandoned file are dropped
    impl_->fd = -1;
  }
}

}  // namespace fl
