// Holds a file as an antivirus scanner or the search indexer does, for whole
// runs under Wine: hold_file PATH MILLISECONDS waits for PATH to appear,
// opens it as soon as it does, sharing reading and writing but not its
// deletion, and keeps it open that long. Prints "waiting" once it watches,
// and exits 0 when it held the file, 1 when none appeared within a minute.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: hold_file PATH MILLISECONDS\n");
    return 2;
  }
  const std::wstring path = argv[1];
  const DWORD holdMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  // A new name in the folder wakes it at once; the short timeout covers a
  // change that came between two waits.
  HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  std::printf("waiting\n");
  std::fflush(stdout);
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (GetTickCount64() < deadline) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      Sleep(holdMs);
      CloseHandle(file);
      return 0;
    }
    if (change == INVALID_HANDLE_VALUE) {
      Sleep(1);
    } else if (WaitForSingleObject(change, 1) == WAIT_OBJECT_0) {
      FindNextChangeNotification(change);
    }
  }
  return 1;
}
