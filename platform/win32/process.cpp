#include "platform/process.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>

// After the system's headers: it takes back the names they define as macros.
#include "platform/win32/oserror.h"

namespace fl {

struct ProcessSnapshot::Impl {
  HANDLE snapshot = INVALID_HANDLE_VALUE;
  bool started = false;
};

ProcessSnapshot::ProcessSnapshot() : impl_(std::make_unique<Impl>()) {
  impl_->snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
}

ProcessSnapshot::~ProcessSnapshot() {
  if (Valid()) CloseHandle(impl_->snapshot);
}

bool ProcessSnapshot::Valid() const {
  return impl_->snapshot != INVALID_HANDLE_VALUE && impl_->snapshot != nullptr;
}

bool ProcessSnapshot::Next(ProcessEntry& entry) {
  if (!Valid()) return false;
  PROCESSENTRY32W found{};
  found.dwSize = sizeof found;
  const BOOL delivered = impl_->started ? Process32NextW(impl_->snapshot, &found)
                                        : Process32FirstW(impl_->snapshot, &found);
  impl_->started = true;
  if (!delivered) return false;
  size_t length = 0;
  while (length < MAX_PATH && found.szExeFile[length] != L'\0') ++length;
  entry.exeFile = win32::FromWide(found.szExeFile, length);
  // The snapshot knows a process by its executable's name only.
  entry.kernelName.clear();
  entry.firstArgument.clear();
  entry.scriptArgument.clear();
  return true;
}

bool ProcessSnapshot::ScriptExists() const {
  return false;
}

// Windows keeps a process's whole executable name.
Text KernelNameFor(const Text& fileName) {
  return fileName;
}

std::int32_t ShellExecute(WindowHandle owner, const Text& operation, const Text& file,
                          const Text& parameters, const Text& directory, int showCmd) {
  // The shell may hand the start to extensions that expect COM on this
  // thread, in a single-threaded apartment as a form's thread has it.
  static const HRESULT com =
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  (void)com;
  for (const Text* text : {&operation, &file, &parameters, &directory}) {
    if (text->find(u'\0') != Text::npos) return SE_ERR_NOASSOC;
  }
  const HINSTANCE result = ShellExecuteW(
      reinterpret_cast<HWND>(owner), win32::Wide(operation).c_str(), win32::Wide(file).c_str(),
      win32::Wide(parameters).c_str(), win32::Wide(directory).c_str(), showCmd);
  return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(result));
}

// A console or pipe whose reader has gone makes a write fail with an error,
// never a signal, so nothing needs readying.
void PrepareProcess() {}

void EndProcess(int status) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace fl
