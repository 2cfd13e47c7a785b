#include "tests/posix/TestSupportPosix.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <cstdio>

namespace fl::test {

XServer::XServer() {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", "-nolisten", "unix", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return;
  }
  // Xvfb writes its display number once it accepts connections.
  std::string number;
  char ch;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 20000) > 0 && read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
  close(fds[0]);
  if (number.empty()) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return;
  }
  pid_ = pid;
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  // Make sure a client gets in before any test relies on it, and stays.
  for (int tries = 0; tries < 100; ++tries) {
    if (::Display* d = XOpenDisplay(display_.c_str())) {
      keeper_ = d;
      return;
    }
    usleep(100000);
  }
}

XServer::~XServer() {
  if (keeper_ != nullptr) XCloseDisplay(static_cast<::Display*>(keeper_));
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

void RequestWindowClose(unsigned long window) {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = window;
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &ev);
  XCloseDisplay(d);
}

std::string RunCommand(const std::string& command, int timeoutSeconds) {
  std::string full = "timeout " + std::to_string(timeoutSeconds) + " " + command;
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  return out;
}

}  // namespace fl::test
