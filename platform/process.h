// Running processes and starting programs.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/types.h"
#include "platform/window.h"

namespace fl {

// A snapshot of the running processes, walked once and released when
// destroyed. Each entry is the bare file name of the process's executable.
class ProcessSnapshot {
 public:
  ProcessSnapshot();
  ~ProcessSnapshot();
  ProcessSnapshot(const ProcessSnapshot&) = delete;
  ProcessSnapshot& operator=(const ProcessSnapshot&) = delete;

  // False when no snapshot could be taken.
  bool Valid() const;
  // The next entry's executable file name; false at the end of the list.
  bool Next(Text& exeFile);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The shell's show command for a normal window.
inline constexpr int SW_SHOWNORMAL = 1;

// Starts file with parameters as the shell's "Open" does, without waiting for
// it; the program outlives this one. Returns a value above 32 on success, or
// the shell's error: 2 file not found, 3 path not found, 5 access denied,
// 11 bad format, 31 otherwise.
std::int32_t ShellExecute(WindowHandle owner, const Text& operation, const Text& file,
                          const Text& parameters, const Text& directory, int showCmd);

// Ends the process at once with the given exit status; windows still open go
// with it.
[[noreturn]] void EndProcess(int status);

}  // namespace fl
