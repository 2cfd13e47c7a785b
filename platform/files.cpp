// Whole-file reads and writes and the buffered byte streams, the same on
// every platform over the backend's handle calls (platform/files_os.h).
#include "platform/files.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/failure.h"
#include "platform/files_os.h"

namespace fl {

namespace {

// Bytes read or written at a time; a record file's cells are far smaller.
constexpr std::size_t kBufferSize = std::size_t{1} << 16;

// Closes the file when a failure leaves it open.
class OpenFile {
 public:
  explicit OpenFile(os::File file) : file_(file) {}
  ~OpenFile() {
    if (file_ != os::kNoFile) os::CloseQuietly(file_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  os::File get() const { return file_; }
  os::File release() { return std::exchange(file_, os::kNoFile); }

 private:
  os::File file_;
};

}  // namespace

void os::FailFolderLockWait(const Text& folder) {
  Fail(desc::kPermission + Text(u": another process keeps rewriting files in ") + folder);
}

std::string ReadFileBytes(const Text& path) {
  OpenFile file(os::OpenForReading(path));
  std::string out;
  char buffer[kBufferSize];
  while (const std::size_t got = os::ReadSome(file.get(), buffer, sizeof buffer)) {
    out.append(buffer, got);
  }
  return out;
}

void WriteFileBytes(const Text& path, const std::string& bytes, bool truncate) {
  OpenFile file(
      os::OpenForWriting(path, truncate ? os::WriteStart::kEmpty : os::WriteStart::kAtEnd));
  os::WriteAll(file.get(), bytes.data(), bytes.size());
  os::CloseOrThrow(file.release());
}

// ---- ByteReader ----

struct ByteReader::Impl {
  os::File file = os::kNoFile;
  char* buffer = ownBuffer;
  std::size_t size = kBufferSize;
  std::size_t pos = 0, len = 0;
  // Only a record longer than the buffer, which Peek must show whole, needs a
  // bigger one.
  std::unique_ptr<char[]> bigger;
  char ownBuffer[kBufferSize];

  // Refills the buffer; false at the end of the file.
  bool Fill() {
    if (pos < len) return true;
    len = os::ReadSome(file, buffer, size);
    pos = 0;
    return len > 0;
  }
};

// Plain new leaves the buffer uninitialised: it is always filled before use,
// and zeroing 64 KiB on every open is most of a small read's cost.
ByteReader::ByteReader(const Text& path) : impl_(new Impl) {
  impl_->file = os::OpenForReading(path);
}

ByteReader::~ByteReader() {
  Close();
}

bool ByteReader::AtEnd() {
  if (impl_->file == os::kNoFile) Fail(desc::kBadFileName);
  return !impl_->Fill();
}

void ByteReader::Read(std::size_t n, std::string& out) {
  if (impl_->file == os::kNoFile) Fail(desc::kBadFileName);
  out.clear();
  while (n > 0) {
    if (!impl_->Fill()) Fail(desc::kPastEnd);
    const std::size_t take = std::min(n, impl_->len - impl_->pos);
    out.append(impl_->buffer + impl_->pos, take);
    impl_->pos += take;
    n -= take;
  }
}

std::string_view ByteReader::Peek(std::size_t n) {
  Impl& r = *impl_;
  if (r.file == os::kNoFile) Fail(desc::kBadFileName);
  if (r.len - r.pos < n) {
    // What is left moves to the front, and the buffer grows only as far as
    // the file really holds bytes for: a count in a damaged file does not
    // make it take memory the file cannot fill.
    std::memmove(r.buffer, r.buffer + r.pos, r.len - r.pos);
    r.len -= r.pos;
    r.pos = 0;
    while (r.len < n) {
      if (r.len == r.size) {
        const std::size_t size = std::max(n, 2 * r.size);
        std::unique_ptr<char[]> bigger(new char[size]);  // left unset: it is read into
        std::memcpy(bigger.get(), r.buffer, r.len);
        r.bigger = std::move(bigger);
        r.buffer = r.bigger.get();
        r.size = size;
      }
      const std::size_t got = os::ReadSome(r.file, r.buffer + r.len, r.size - r.len);
      if (got == 0) Fail(desc::kPastEnd);
      r.len += got;
    }
  }
  return {r.buffer + r.pos, r.len - r.pos};
}

void ByteReader::Skip(std::size_t n) {
  impl_->pos += std::min(n, impl_->len - impl_->pos);
}

void ByteReader::Close() {
  if (impl_ && impl_->file != os::kNoFile) {
    os::CloseQuietly(std::exchange(impl_->file, os::kNoFile));
  }
}

// ---- ByteWriter ----

struct ByteWriter::Impl {
  os::File file = os::kNoFile;
  std::string buffer;

  void Flush() {
    if (!buffer.empty()) {
      os::WriteAll(file, buffer.data(), buffer.size());
      buffer.clear();
    }
  }
};

ByteWriter::ByteWriter(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->file = os::OpenForWriting(path, os::WriteStart::kEmpty);
  impl_->buffer.reserve(kBufferSize);
}

ByteWriter::~ByteWriter() {
  Close();
}

void ByteWriter::Write(const char* data, std::size_t n) {
  if (impl_->file == os::kNoFile) Fail(desc::kBadFileName);
  if (impl_->buffer.size() + n > kBufferSize) {
    impl_->Flush();
    if (n >= kBufferSize) {
      os::WriteAll(impl_->file, data, n);
      return;
    }
  }
  impl_->buffer.append(data, n);
}

void ByteWriter::Commit() {
  if (impl_->file == os::kNoFile) Fail(desc::kBadFileName);
  impl_->Flush();
  os::SyncFile(impl_->file);
  os::CloseOrThrow(std::exchange(impl_->file, os::kNoFile));
}

void ByteWriter::Close() {
  if (impl_ && impl_->file != os::kNoFile) {
    // Unflushed bytes of an abandoned file are dropped.
    os::CloseQuietly(std::exchange(impl_->file, os::kNoFile));
  }
}

}  // namespace fl
