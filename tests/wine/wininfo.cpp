// What Windows tells about a program, for the tests under Wine:
//   wininfo exe FILE   its version strings and its manifest
//   wininfo windows [FOLDER]
//                      every top-level window (of a program in FOLDER):
//                      process, class, visibility and title; for the form,
//                      its client area and its label with its text; for a
//                      message box, its text
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void PrintUtf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  std::fwrite(out.data(), 1, out.size(), stdout);
}

int Exe(const wchar_t* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  std::vector<char> info(size);
  if (size == 0 || !GetFileVersionInfoW(file, 0, size, info.data())) {
    std::puts("no version resource");
  } else {
    for (const wchar_t* name :
         {L"CompanyName", L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion"}) {
      void* value = nullptr;
      UINT length = 0;
      const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
      if (VerQueryValueW(info.data(), key.c_str(), &value, &length) && length > 0) {
        PrintUtf8(std::wstring(name) + L"=" + static_cast<const wchar_t*>(value) + L"\n");
      }
    }
  }
  HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module != nullptr ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))
                                  : nullptr;
  if (found == nullptr) {
    std::puts("no manifest");
    return 0;
  }
  const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
  std::printf("manifest:\n%.*s\n", static_cast<int>(SizeofResource(module, found)), text);
  return 0;
}

// The file a process runs, empty when it cannot be asked.
std::wstring ImageOf(DWORD pid) {
  std::wstring image(MAX_PATH, L'\0');
  DWORD size = MAX_PATH;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return L"";
  if (!QueryFullProcessImageNameW(process, 0, image.data(), &size)) size = 0;
  CloseHandle(process);
  image.resize(size);
  return image;
}

BOOL CALLBACK Each(HWND window, LPARAM folder) {
  wchar_t title[512] = L"", kind[256] = L"";
  GetWindowTextW(window, title, 512);
  GetClassNameW(window, kind, 256);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  const auto* in = reinterpret_cast<const std::wstring*>(folder);
  if (!in->empty() && _wcsnicmp(ImageOf(pid).c_str(), in->c_str(), in->size()) != 0) return TRUE;
  PrintUtf8(std::to_wstring(pid) + L"|" + kind + L"|" + (IsWindowVisible(window) ? L"1" : L"0") +
            L"|" + title + L"\n");
  if (std::wstring(kind) == L"FirstLoadForm") {
    RECT client{};
    GetClientRect(window, &client);
    std::printf("client|%ld|%ld\n", client.right, client.bottom);
    if (HWND label = FindWindowExW(window, nullptr, L"STATIC", nullptr)) {
      RECT r{};
      GetWindowRect(label, &r);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
      std::printf("label|%ld|%ld|%ld|%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      wchar_t text[512] = L"";
      GetWindowTextW(label, text, 512);
      PrintUtf8(std::wstring(L"text|") + text + L"\n");
    }
  }
  // A message box: its text is the static control 0xFFFF.
  if (std::wstring(kind) == L"#32770") {
    wchar_t text[1024] = L"";
    if (GetDlgItemTextW(window, 0xFFFF, text, 1024) > 0) {
      PrintUtf8(std::wstring(L"message|") + text + L"\n");
    }
  }
  return TRUE;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count >= 3 && std::wstring(args[1]) == L"exe") return Exe(args[2]);
  if (count >= 2 && std::wstring(args[1]) == L"windows") {
    // A folder's full path, with its separator, begins the name of each file in it.
    std::wstring folder;
    if (count >= 3) {
      folder.resize(MAX_PATH);
      folder.resize(GetFullPathNameW(args[2], MAX_PATH, folder.data(), nullptr));
      if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    }
    EnumWindows(Each, reinterpret_cast<LPARAM>(&folder));
    return 0;
  }
  std::fputs("usage: wininfo exe FILE | wininfo windows [FOLDER]\n", stderr);
  return 2;
}
