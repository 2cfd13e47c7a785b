#include "tests/TestSupport.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ModMain/ModMain.h"
#include "ModMain/errorlog/LogNetError.h"
#include "platform/failure.h"

namespace fl::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "firstload-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make read-only leftovers removable.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

Text TempDir::File(const std::string& name) const {
  return FromUtf8((path_ / name).string());
}

AppFolderScope::AppFolderScope() : savedAppPath_(AppPath) {
  AppPath = FromUtf8(dir_.Path().string());
  LogRolloverDone = 0;
}

AppFolderScope::~AppFolderScope() {
  AppPath = savedAppPath_;
  LogRolloverDone = 0;
}

std::vector<std::string> AppFolderScope::LogLines() const {
  std::vector<std::string> lines;
  std::filesystem::path log = dir_ / "NetError.log";
  if (!std::filesystem::exists(log)) return lines;
  std::string all = ReadBytes(log);
  size_t start = 0, end;
  while ((end = all.find("\r\n", start)) != std::string::npos) {
    lines.push_back(all.substr(start, end - start));
    start = end + 2;
  }
  if (start < all.size()) lines.push_back(all.substr(start));
  return lines;
}

std::vector<std::string> AppFolderScope::LoggedProcs() const {
  std::vector<std::string> procs;
  for (const auto& line : LogLines()) {
    size_t p = line.find(", Proc:");
    size_t q = line.find(", in ", p);
    if (p != std::string::npos && q != std::string::npos)
      procs.push_back(line.substr(p + 7, q - p - 7));
  }
  return procs;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Text T(const std::string& utf8) {
  return FromUtf8(utf8);
}
std::string U8(const Text& text) {
  return ToUtf8(text);
}

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
}

XServer::~XServer() {
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

std::string RecordBytes(const std::vector<std::string>& cells) {
  std::string out;
  for (const auto& c : cells) {
    out += static_cast<char>(c.size() & 0xFF);
    out += static_cast<char>((c.size() >> 8) & 0xFF);
    out += c;
  }
  return out;
}

}  // namespace fl::test
