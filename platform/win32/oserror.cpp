#include "platform/win32/oserror.h"
#include "platform/utf8.h"

namespace fl::win32 {

Text DescribeError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return desc::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return desc::kPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return desc::kPermission;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return desc::kDiskFull;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_HANDLE:
      return desc::kBadFileName;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return desc::kOutOfMemory;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return desc::kFileExists;
    default: {
      wchar_t* message = nullptr;
      DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
      Text text = message != nullptr ? FromWide(message, n) : Text(u"System error");
      if (message != nullptr) LocalFree(message);
      while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' ||
                               text.back() == u' ' || text.back() == u'.')) {
        text.pop_back();
      }
      return text + u" (error " + FromUtf8(std::to_string(error)) + u")";
    }
  }
}

void ThrowError(DWORD error) {
  throw Failure(DescribeError(error));
}

void ThrowLastError() {
  ThrowError(GetLastError());
}

std::wstring Wide(const Text& text) {
  return std::wstring(text.begin(), text.end());
}

Text FromWide(const wchar_t* text, std::size_t length) {
  return Text(text, text + length);
}

Text FromWide(const std::wstring& text) {
  return FromWide(text.data(), text.size());
}

std::wstring WidePath(const Text& path) {
  if (path.find(u'\0') != Text::npos) Fail(desc::kBadFileName);
  return Wide(path);
}

}  // namespace fl::win32
