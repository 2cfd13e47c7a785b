// Helpers shared by the tests on every platform: real temporary folders, raw
// file bytes and the error log of the folder under test.
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

// Clears the write permission (on Windows, sets the read-only attribute).
void MakeReadOnly(const std::filesystem::path& path);

// The file name suffix of this platform's programs: "" or ".exe".
extern const std::string kExeSuffix;

// Bytes of one record in the file layout.
std::string RecordBytes(const std::vector<std::string>& cells);

}  // namespace fl::test
