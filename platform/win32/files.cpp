#include "platform/files.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include <windows.h>

#include <sddl.h>

// After the system's headers: it takes back the names they define as macros.
#include "platform/win32/files_win32.h"
#include "platform/win32/oserror.h"

namespace fl {

using win32::ThrowLastError;
using win32::WidePath;

namespace {

// Readers let others replace or remove the file meanwhile, as a POSIX reader
// would; writers let others read.
constexpr DWORD kReadShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kWriteShare = FILE_SHARE_READ;

HANDLE OpenOrThrow(const Text& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError();
  return h;
}

void WriteAll(HANDLE h, const char* data, size_t n) {
  while (n > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr)) ThrowLastError();
    data += written;
    n -= written;
  }
}

void CloseOrThrow(HANDLE h) {
  if (!CloseHandle(h)) ThrowLastError();
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE h_;
};

std::wstring ParentFolder(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  if (cut == 0 || path[cut - 1] == L':') return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

}  // namespace

bool FileExists(const Text& path) {
  if (path.find(u'\0') != Text::npos) return false;
  const DWORD attributes = GetFileAttributesW(win32::Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteFile(const Text& path, bool force) {
  const std::wstring p = WidePath(path);
  const DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) ThrowLastError();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) Fail(desc::kFileNotFound);
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    if (!force) Fail(desc::kPermission);
    if (!SetFileAttributesW(p.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) ThrowLastError();
  }
  if (!DeleteFileW(p.c_str())) ThrowLastError();
}

void MoveFile(const Text& source, const Text& target) {
  // Without MOVEFILE_REPLACE_EXISTING an existing target is refused.
  if (!MoveFileExW(WidePath(source).c_str(), WidePath(target).c_str(), 0)) ThrowLastError();
}

void ReplaceFile(const Text& source, const Text& target) {
  const std::wstring s = WidePath(source), t = WidePath(target);
  const DWORD attributes = GetFileAttributesW(t.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    // A read-only file cannot be replaced, only one whose attribute is cleared.
    if (!SetFileAttributesW(t.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) ThrowLastError();
  }
  if (!MoveFileExW(s.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ThrowLastError();
  }
}

std::string ReadFileBytes(const Text& path) {
  Handle h(OpenOrThrow(path, GENERIC_READ, kReadShare, OPEN_EXISTING));
  std::string out;
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h.get(), buf, sizeof buf, &got, nullptr)) ThrowLastError();
    if (got == 0) break;
    out.append(buf, got);
  }
  return out;
}

void WriteFileBytes(const Text& path, const std::string& bytes, bool truncate) {
  // FILE_APPEND_DATA alone makes every write land at the end, as O_APPEND does.
  Handle h(truncate ? OpenOrThrow(path, GENERIC_WRITE, kWriteShare, CREATE_ALWAYS)
                    : OpenOrThrow(path, FILE_APPEND_DATA, kWriteShare, OPEN_ALWAYS));
  WriteAll(h.get(), bytes.data(), bytes.size());
  CloseOrThrow(h.release());
}

// ---- FolderWriteLock ----

namespace win32 {

std::wstring FolderLockName(const Text& filePath) {
  const std::wstring folder = ParentFolder(WidePath(filePath));
  HANDLE dir =
      CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // Without a folder there is nothing to write into; the write itself says so.
  if (dir == INVALID_HANDLE_VALUE) return {};
  std::wstring final(32768, L'\0');
  DWORD n = GetFinalPathNameByHandleW(dir, final.data(), static_cast<DWORD>(final.size()),
                                      FILE_NAME_NORMALIZED);
  CloseHandle(dir);
  final.resize(n > 0 && n < final.size() ? n : 0);
  if (final.empty()) final = folder;
  CharUpperBuffW(final.data(), static_cast<DWORD>(final.size()));

  // Object names are limited to MAX_PATH characters, so the path is hashed.
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : final) {
    hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  }
  wchar_t name[64];
  // A Global\ mutex, not a lock file: all sessions of the machine meet here, no file is left.
  swprintf(name, 64, L"Global\\FirstLoad-folder-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace win32

// A folder cannot be locked on Windows, so writers meet at a mutex named
// after the folder's final path. The system releases a mutex whose holder
// dies, and the next waiter gets it as abandoned, which is as good.
FolderWriteLock::FolderWriteLock(const Text& filePath) {
  const std::wstring name = win32::FolderLockName(filePath);
  if (name.empty()) return;
  // Runs of other users open the same mutex, so everyone may wait on it and
  // release it; the default would admit its creator only.
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:(A;;0x00100001;;;WD)", SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
    attributes.lpSecurityDescriptor = nullptr;
  }
  // Only the rights to wait and release, which the descriptor grants to all.
  HANDLE mutex = CreateMutexExW(&attributes, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  if (attributes.lpSecurityDescriptor != nullptr) LocalFree(attributes.lpSecurityDescriptor);
  if (mutex == nullptr) return;  // no locking here: go on without
  // Writers hold the lock for one file's rewrite; a holder that keeps it far
  // longer is stuck, and waiting on it would hang this run.
  const DWORD waited = WaitForSingleObject(mutex, 30000);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    Fail(desc::kPermission + Text(u": another process keeps rewriting files in ") +
         win32::FromWide(ParentFolder(WidePath(filePath))));
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

FolderWriteLock::~FolderWriteLock() {
  if (handle_ != -1) {
    HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

// ---- ByteReader ----

struct ByteReader::Impl {
  HANDLE h = INVALID_HANDLE_VALUE;
  char buf[1 << 16];
  size_t pos = 0, len = 0;

  // Refills the buffer; false at the end of the file.
  bool Fill() {
    if (pos < len) return true;
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) ThrowLastError();
    pos = 0;
    len = got;
    return got > 0;
  }
};

// Plain new leaves the buffer uninitialised: it is always filled before use,
// and zeroing 64 KiB on every open is most of a small read's cost.
ByteReader::ByteReader(const Text& path) : impl_(new Impl) {
  impl_->h = OpenOrThrow(path, GENERIC_READ, kReadShare, OPEN_EXISTING);
}

ByteReader::~ByteReader() {
  Close();
}

bool ByteReader::AtEnd() {
  if (impl_->h == INVALID_HANDLE_VALUE) Fail(desc::kBadFileName);
  return !impl_->Fill();
}

void ByteReader::Read(size_t n, std::string& out) {
  if (impl_->h == INVALID_HANDLE_VALUE) Fail(desc::kBadFileName);
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
  if (impl_ && impl_->h != INVALID_HANDLE_VALUE) {
    CloseHandle(impl_->h);
    impl_->h = INVALID_HANDLE_VALUE;
  }
}

// ---- ByteWriter ----

struct ByteWriter::Impl {
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string buf;

  void Flush() {
    if (!buf.empty()) {
      WriteAll(h, buf.data(), buf.size());
      buf.clear();
    }
  }
};

ByteWriter::ByteWriter(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->h = OpenOrThrow(path, GENERIC_WRITE, kWriteShare, CREATE_ALWAYS);
  impl_->buf.reserve(1 << 16);
}

ByteWriter::~ByteWriter() {
  Close();
}

void ByteWriter::Write(const char* data, size_t n) {
  if (impl_->h == INVALID_HANDLE_VALUE) Fail(desc::kBadFileName);
  if (impl_->buf.size() + n > (1 << 16)) {
    impl_->Flush();
    if (n >= (1 << 16)) {
      WriteAll(impl_->h, data, n);
      return;
    }
  }
  impl_->buf.append(data, n);
}

void ByteWriter::Commit() {
  if (impl_->h == INVALID_HANDLE_VALUE) Fail(desc::kBadFileName);
  impl_->Flush();
  if (!FlushFileBuffers(impl_->h)) ThrowLastError();
  CloseOrThrow(std::exchange(impl_->h, INVALID_HANDLE_VALUE));
}

void ByteWriter::Close() {
  if (impl_ && impl_->h != INVALID_HANDLE_VALUE) {
    CloseHandle(impl_->h);  // unflushed bytes of an abandoned file are dropped
    impl_->h = INVALID_HANDLE_VALUE;
  }
}

}  // namespace fl
