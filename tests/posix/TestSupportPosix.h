// Helpers for the tests that only POSIX runs: an X server for windows, and
// commands of the host's shell.
#pragma once

#include <string>

namespace fl::test {

// A private X server (Xvfb) for window tests; DISPLAY points at it while it
// lives. Skips the test when Xvfb is not installed.
class XServer {
 public:
  XServer();
  ~XServer();
  bool Running() const { return pid_ > 0; }
  const std::string& Display() const { return display_; }

 private:
  int pid_ = -1;
  std::string display_;
  // A client held for the server's life: when its last client leaves, Xvfb
  // starts over, refusing connections for a moment and forgetting the root
  // window's properties.
  void* keeper_ = nullptr;
};

// Sends a window the close request that a title bar's close button sends.
void RequestWindowClose(unsigned long window);

// Runs a shell command with a time limit and returns its standard output.
std::string RunCommand(const std::string& command, int timeoutSeconds = 20);

}  // namespace fl::test
