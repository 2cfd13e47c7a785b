// Runs of the installed utility: application folders, the example feature
// service on a port of its own, and the program run as a user runs it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "tests/TestSupport.h"
#include "tests/posix/TestSupportPosix.h"

namespace fl::test::e2e {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

inline const fs::path kBuild = FIRSTLOAD_BUILD_DIR;
inline const fs::path kSource = FIRSTLOAD_SOURCE_DIR;

// argv as this machine runs it: a build for another machine goes through
// its emulator (FIRSTLOAD_EMULATOR, which CMake names once).
inline std::vector<std::string> Emulated(std::vector<std::string> argv) {
  if (*FIRSTLOAD_EMULATOR != '\0') argv.insert(argv.begin(), FIRSTLOAD_EMULATOR);
  return argv;
}

struct Outcome {
  int status = -1;
  std::string err;
  long maxRssKb = 0;  // peak memory of the process
};

// Starts a program headless, with no proxy but the NAME=value settings of
// env, its standard error into errFd (/dev/null when -1).
inline pid_t StartProgram(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env = {}, int errFd = -1) {
  pid_t pid = fork();
  if (pid == 0) {
    dup2(errFd >= 0 ? errFd : open("/dev/null", O_WRONLY), 2);
    if (errFd > 2) close(errFd);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    // No proxy, of the machine's or the desktop's, stands between the run and
    // the tests' service; the proxy cases are whole-run cases of their own.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "NO_PROXY"}) {
      unsetenv(name);
    }
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Runs a program as StartProgram does, with a time limit; returns its exit
// status and standard error.
inline Outcome RunProgram(const std::vector<std::string>& argv, int timeoutSeconds = 90,
                          const std::vector<std::string>& env = {}) {
  int errPipe[2];
  EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
  const pid_t pid = StartProgram(argv, env, errPipe[1]);
  close(errPipe[1]);
  Outcome out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buf[4096];
  for (;;) {
    pollfd p{errPipe[0], POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      ssize_t n = read(errPipe[0], buf, sizeof buf);
      if (n <= 0) break;
      out.err.append(buf, static_cast<size_t>(n));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "FirstLoad did not end in time";
      break;
    }
  }
  close(errPipe[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  out.maxRssKb = usage.ru_maxrss;
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return out;
}

// The example feature service on a port the system chose, which the tests'
// FirstLoad asks while the service runs (FIRSTLOAD_TEST_SERVICE_PORT).
class Service {
 public:
  explicit Service(const std::string& answer, const fs::path& log) {
    int outPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(outPipe[1], 1);
      close(outPipe[0]);
      close(outPipe[1]);
      const std::string script = (kSource / "tools" / "feature_service.py").string();
      execlp("python3", "python3", script.c_str(), "--port", "0", "--answer", answer.c_str(),
             "--log", log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(outPipe[1]);
    std::string line;
    char ch;
    pollfd p{outPipe[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(outPipe[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(outPipe[0]);
    EXPECT_EQ(line.rfind("PORT ", 0), 0u) << "the example service did not start: " << line;
    setenv("FIRSTLOAD_TEST_SERVICE_PORT", line.substr(line.find(' ') + 1).c_str(), 1);
  }
  ~Service() {
    unsetenv("FIRSTLOAD_TEST_SERVICE_PORT");
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

// An installed application folder with a setup record and a stand-in
// download program that records how it was started; the tests' build of
// FirstLoad unless another is named.
class AppFolder {
 public:
  explicit AppFolder(const fs::path& program = kBuild / "testhost" / "FirstLoad")
      : dir_(tmp_.Path() / "app") {
    fs::create_directory(dir_);
    fs::copy_file(program, dir_ / "FirstLoad");
    fs::copy_file(kBuild / "libFirstLoadHttp.so", dir_ / "libFirstLoadHttp.so");
    fs::copy_file(kBuild / "libFirstLoadGtk.so", dir_ / "libFirstLoadGtk.so");
    fs::create_directory(dir_ / "Update");
  }

  fs::path operator/(const std::string& name) const { return dir_ / name; }

  // Product and feature in the ANSI code page's bytes.
  void WriteSetup(const std::string& product, const std::string& feature) {
    std::vector<std::string> cells(26);
    cells[0] = "ZELVAN";
    cells[1] = product;
    cells[2] = feature;
    WriteBytes(dir_ / "Orvistane.txt", RecordBytes(cells));
  }

  // The stand-in records its arguments in Update/started-with.txt, or where
  // the environment variable FIRSTLOAD_TEST_RECORD says.
  void InstallDownloader(const std::string& name) {
    const fs::path program = dir_ / "Update" / name;
    WriteBytes(
        program,
        "#!/bin/sh\n"
        "record=\"${FIRSTLOAD_TEST_RECORD:-$(dirname \"$0\")/started-with.txt}\"\n"
        "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$record.part\"\n"
        "mv \"$record.part\" \"$record\"\n");
    fs::permissions(program, fs::perms::owner_all);
  }

  Outcome Run() { return RunProgram(Emulated({(dir_ / "FirstLoad").string()})); }

  // The download program's argument, once it has started; nullopt when it
  // was not started within a few seconds.
  static std::optional<std::string> ReadLaunchRecord(const fs::path& record, int waitMs = 5000) {
    for (int waited = 0; waited < waitMs && !fs::exists(record); waited += 50) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!fs::exists(record)) return std::nullopt;
    std::string text = ReadBytes(record);
    fs::remove(record);
    EXPECT_EQ(text.substr(0, 2), "1\n") << "the parameter string must be one argument: " << text;
    text = text.substr(2);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  std::string Log() const {
    return fs::exists(dir_ / "NetError.log") ? ReadBytes(dir_ / "NetError.log") : "";
  }

 private:
  TempDir tmp_;
  fs::path dir_;
};

}  // namespace fl::test::e2e
