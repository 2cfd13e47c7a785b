// A stand-in for the product's download program, for whole runs under Wine.
// Started by FirstLoad, it records its command line beside itself: the wide
// form as UTF-8 in started-with.txt and the bytes a single-byte program
// reads in started-with.ansi, and adds a line to started-with.starts for each
// start; with FIRSTLOAD_TEST_LINGER set, it then stays that many seconds,
// or until a file "stop" appears beside it.
// Started with "--stay", it records nothing and runs until a file "stop"
// appears beside it, or a minute has passed.
#include <windows.h>

#include <string>

namespace {

std::wstring Folder() {
  wchar_t path[32768];
  DWORD n = GetModuleFileNameW(nullptr, path, 32768);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Written aside and moved into place, so that a reader never sees half.
void Record(const std::wstring& path, const std::string& bytes) {
  const std::wstring part = path + L".part";
  HANDLE h = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int main() {
  const std::wstring folder = Folder();
  const std::wstring line = GetCommandLineW();
  if (line.size() >= 6 && line.compare(line.size() - 6, 6, L"--stay") == 0) {
    Record(folder + L"ready", "");
    for (int i = 0;
         i < 600 && GetFileAttributesW((folder + L"stop").c_str()) == INVALID_FILE_ATTRIBUTES;
         ++i) {
      Sleep(100);
    }
    return 0;
  }
  HANDLE starts = CreateFileW((folder + L"started-with.starts").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (starts != INVALID_HANDLE_VALUE) {
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    WriteFile(starts, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
    CloseHandle(starts);
  }
  Record(folder + L"started-with.ansi", GetCommandLineA());
  Record(folder + L"started-with.txt", Utf8(line.c_str()));
  wchar_t linger[16];
  if (GetEnvironmentVariableW(L"FIRSTLOAD_TEST_LINGER", linger, 16) > 0) {
    for (int i = 0; i < _wtoi(linger) * 10 &&
                    GetFileAttributesW((folder + L"stop").c_str()) == INVALID_FILE_ATTRIBUTES;
         ++i) {
      Sleep(100);
    }
  }
  return 0;
}
