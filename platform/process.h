// Running processes and starting programs.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace fl {

// The names under which one running process is known.
struct ProcessEntry {
  Text exeFile;        // file name of its executable (bare, or a full path)
  Text kernelName;     // the kernel's short name for it; empty where none
  Text firstArgument;  // bare name of its first argument; empty where none
  // Bare name of the first of its later arguments that is no option, as an
  // interpreter names the script it runs; empty where none.
  Text scriptArgument;
};

// A snapshot of the running processes, walked once and released when
// destroyed.
class ProcessSnapshot {
 public:
  ProcessSnapshot();
  ~ProcessSnapshot();
  ProcessSnapshot(const ProcessSnapshot&) = delete;
  ProcessSnapshot& operator=(const ProcessSnapshot&) = delete;

  // False when no snapshot could be taken.
  bool Valid() const;
  // The next entry; false at the end of the list.
  bool Next(ProcessEntry& entry);
  // True when the last entry's scriptArgument names an existing file, a
  // relative path taken from that process's working folder. Asked only of a
  // name that matters, since it looks at the file system.
  bool ScriptExists() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What kernelName shows for a program file of this name: the name cut to
// what the kernel keeps, or the name itself where nothing is cut.
Text KernelNameFor(const Text& fileName);

// The shell's show command for a normal window.
inline constexpr int SW_SHOWNORMAL = 1;

// Starts file with parameters as the shell's "Open" does, without waiting for
// it; the program outlives this one. Returns a value above 32 on success, or
// the shell's error: 2 file not found, 3 path not found, 5 access denied,
// 11 bad format, 31 otherwise.
std::int32_t ShellExecute(WindowHandle owner, const Text& operation, const Text& file,
                          const Text& parameters, const Text& directory, int showCmd);

// Readies the process for a run before anything else: output to a reader
// that has gone must fail quietly, never end the run.
void PrepareProcess();

// Ends the process at once with the given exit status; windows still open go
// with it.
[[noreturn]] void EndProcess(int status);

}  // namespace fl
