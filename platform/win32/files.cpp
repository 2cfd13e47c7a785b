#include "platform/files.h"

#include <algorithm>
#include <cstdint>

#include <windows.h>

#include <sddl.h>

// After the system's headers: it takes back the names they define as macros.
#include "platform/files_os.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/oserror.h"

namespace fl {

using win32::ThrowError;
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

std::wstring ParentFolder(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  if (cut == 0 || path[cut - 1] == L':') return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

HANDLE Native(os::File file) {
  return reinterpret_cast<HANDLE>(file);
}

// An antivirus scanner or the search indexer opens a new file for a moment,
// without sharing its deletion, and a rename meets that as a sharing
// violation; an open target makes it access denied. Both pass, so the rename
// is tried again for about a second; an access denied that stays costs that
// second before it is reported.
constexpr ULONGLONG kReplaceWaitMs = 1000;
constexpr DWORD kReplaceRetryMs = 25;

bool Transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

}  // namespace

// ---- the handle calls of the shared byte streams ----

os::File os::OpenForReading(const Text& path) {
  return reinterpret_cast<File>(OpenOrThrow(path, GENERIC_READ, kReadShare, OPEN_EXISTING));
}

os::File os::OpenForWriting(const Text& path, WriteStart start) {
  // FILE_APPEND_DATA alone makes every write land at the end, as O_APPEND does.
  HANDLE h = start == WriteStart::kEmpty
                 ? OpenOrThrow(path, GENERIC_WRITE, kWriteShare, CREATE_ALWAYS)
                 : OpenOrThrow(path, FILE_APPEND_DATA, kWriteShare, OPEN_ALWAYS);
  return reinterpret_cast<File>(h);
}

std::size_t os::ReadSome(File file, char* buffer, std::size_t n) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
  if (!ReadFile(Native(file), buffer, want, &got, nullptr)) ThrowLastError();
  return got;
}

void os::WriteAll(File file, const char* data, std::size_t n) {
  while (n > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(Native(file), data, chunk, &written, nullptr)) ThrowLastError();
    data += written;
    n -= written;
  }
}

void os::SyncFile(File file) {
  if (!FlushFileBuffers(Native(file))) ThrowLastError();
}

void os::CloseOrThrow(File file) {
  if (!CloseHandle(Native(file))) ThrowLastError();
}

void os::CloseQuietly(File file) {
  CloseHandle(Native(file));
}

// ---- the file-system object ----

bool FileExists(const Text& path) {
  if (path.find(u'\0') != Text::npos) return false;
  const DWORD attributes = GetFileAttributesW(win32::Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteFile(const Text& path, bool force) {
  const std::wstring p = WidePath(path);
  const DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) ThrowLastError();
  // The file-system object deletes files only, and finds none by a folder's
  // name.
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
  const ULONGLONG deadline = GetTickCount64() + kReplaceWaitMs;
  while (!MoveFileExW(s.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    if (!Transient(error) || GetTickCount64() >= deadline) ThrowError(error);
    Sleep(kReplaceRetryMs);
  }
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
  const DWORD waited = WaitForSingleObject(mutex, os::kFolderLockWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    os::FailFolderLockWait(win32::FromWide(ParentFolder(WidePath(filePath))));
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

}  // namespace fl
