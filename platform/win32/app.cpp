#include "platform/app.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string>

#include "platform/codepage.h"
#include "platform/files_os.h"
#include "platform/win32/oserror.h"

namespace fl {

const Text kPathSep = u"\\";

namespace {

Text ExePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) win32::ThrowLastError();
    if (n < buf.size()) return win32::FromWide(buf.data(), n);
    buf.resize(buf.size() * 2);  // cut short: a long path
  }
}

// Text to a standard handle: a console takes it as it is, a file or a pipe
// gets it in the ANSI code page. A failed write just loses the text.
void WriteText(HANDLE handle, const Text& text) {
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = win32::Wide(text);
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  const std::string bytes = ToAnsi(text);
  try {
    os::WriteAll(reinterpret_cast<os::File>(handle), bytes.data(), bytes.size());
  } catch (const Failure&) {
  }
}

// One line on its way to standard error; owned by the thread that writes it.
struct ErrorLine {
  HANDLE handle;
  Text text;
};

DWORD WINAPI WriteErrorLine(void* param) {
  const std::unique_ptr<ErrorLine> line(static_cast<ErrorLine*>(param));
  WriteText(line->handle, line->text);
  return 0;
}

// How long the run waits for a write that does not return.
constexpr DWORD kErrorWriteWaitMs = 1000;

}  // namespace

Text AppFolder() {
  const Text path = ExePath();
  const size_t cut = path.find_last_of(u"\\/");
  if (cut == Text::npos) return path;
  // A drive root keeps its separator: "C:\".
  if (cut > 0 && path[cut - 1] == u':') return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

Text AppExeName() {
  const Text path = ExePath();
  Text name = path.substr(path.find_last_of(u"\\/") + 1);
  const size_t dot = name.find_last_of(u'.');
  if (dot != Text::npos && dot > 0) name.resize(dot);
  return name;
}

std::vector<Text> ProgramArguments(int, char**) {
  // The wide command line: the narrow argv holds only what the ANSI code page
  // can spell.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<Text> args;
  if (wide == nullptr) return args;
  for (int i = 0; i < count; ++i) args.push_back(win32::FromWide(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return args;
}

void WriteStandardOutput(const Text& text) {
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  Text lines;
  for (char16_t ch : text) {
    if (ch == u'\n') lines += u'\r';
    lines += ch;
  }
  WriteText(handle, lines);
}

Text FullPath(const Text& path) {
  const std::wstring wide = win32::Wide(path);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) win32::ThrowLastError();
    if (n < full.size()) return win32::FromWide(full.data(), n);
    full.resize(n);
  }
}

void WriteStandardError(const Text& line) {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  try {
    auto pending = std::make_unique<ErrorLine>(ErrorLine{handle, line + u"\r\n"});
    // A console write stalls while the user selects text in the window, and a
    // pipe write while its reader does not read, so the write gets a thread
    // of its own and a bounded wait.
    const HANDLE thread = CreateThread(nullptr, 0, WriteErrorLine, pending.get(), 0, nullptr);
    if (thread == nullptr) return;
    pending.release();
    if (WaitForSingleObject(thread, kErrorWriteWaitMs) == WAIT_TIMEOUT) {
      CancelSynchronousIo(thread);
    }
    CloseHandle(thread);
  } catch (...) {
    // Out of memory for one line: it is lost, the run goes on.
  }
}

Text EnvironmentValue(const Text& name) {
  const std::wstring wide = win32::Wide(name);
  std::wstring value(64, L'\0');
  for (;;) {
    const DWORD n =
        GetEnvironmentVariableW(wide.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return Text();
    if (n < value.size()) return win32::FromWide(value.data(), n);
    value.resize(n);
  }
}

}  // namespace fl
