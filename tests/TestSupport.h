// Helpers shared by the tests: real temporary folders, raw file bytes and the
// error log of the folder under test.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/types.h"

namespace fl::test {

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  Text File(const std::string& name) const;  // path of a file inside, as text
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Points AppPath at a fresh folder for the test's duration, so that logged
// failures land there; restores the run-wide state afterwards.
class AppFolderScope {
 public:
  AppFolderScope();
  ~AppFolderScope();
  const TempDir& Dir() const { return dir_; }
  // Lines of NetError.log, without their line ends.
  std::vector<std::string> LogLines() const;
  // The "Proc:" names of the logged lines, in order.
  std::vector<std::string> LoggedProcs() const;

 private:
  TempDir dir_;
  Text savedAppPath_;
};

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
Text T(const std::string& utf8);   // UTF-8 literal to text
std::string U8(const Text& text);  // text to UTF-8, for messages

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
};

// Sends a window the close request that a title bar's close button sends.
void RequestWindowClose(unsigned long window);

// Runs a shell command with a time limit and returns its standard output.
std::string RunCommand(const std::string& command, int timeoutSeconds = 20);

// Bytes of one record in the file layout.
std::string RecordBytes(const std::vector<std::string>& cells);

}  // namespace fl::test
