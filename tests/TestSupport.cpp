#include "tests/TestSupport.h"
#include "platform/utf8.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "ModMain/ModMain.h"
#include "ModMain/errorlog/LogNetError.h"
#include "platform/failure.h"

namespace fl::test {

TempDir::TempDir() {
  static std::mt19937_64 rng(std::random_device{}());
  const auto base = std::filesystem::temp_directory_path();
  // create_directory reports whether it made the folder, so a name another
  // process took meanwhile is never shared.
  for (int tries = 0; tries < 100; ++tries) {
    char name[32];
    std::snprintf(name, sizeof name, "firstload-test-%012llx",
                  static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
    if (std::filesystem::create_directory(base / name)) {
      path_ = base / name;
      return;
    }
  }
  throw std::runtime_error("no fresh temporary folder");
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
  const std::u8string utf8(name.begin(), name.end());
  return (path_ / std::filesystem::path(utf8)).u16string();
}

AppFolderScope::AppFolderScope() : savedAppPath_(AppPath) {
  AppPath = dir_.Path().u16string();
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

#ifdef _WIN32
const std::string kExeSuffix = ".exe";
#else
const std::string kExeSuffix;
#endif

void MakeReadOnly(const std::filesystem::path& path) {
  std::filesystem::permissions(path,
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
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
