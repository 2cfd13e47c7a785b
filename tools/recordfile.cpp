// recordfile: reads and writes the product's record files for the engineers
// who ship it, through the same store the utility uses.
//
//   recordfile dump [--cols N] [--encrypted] FILE
//   recordfile put  [--cols N] [--encrypted] FILE KEY CELL...
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ModMain/ModMain.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/files.h"

namespace {

using fl::FromUtf8;
using fl::Text;
using fl::ToUtf8;

const char kUsage[] =
    "Usage:\n"
    "  recordfile dump [--cols N] [--encrypted] FILE\n"
    "      Print every record of FILE as a table, one row per record.\n"
    "  recordfile put [--cols N] [--encrypted] FILE KEY [CELL...]\n"
    "      Insert the record KEY CELL..., or update cells 1 and on of the record\n"
    "      whose first cell is KEY. FILE is created if missing.\n"
    "Options:\n"
    "  --cols N      cells per record (default 26, as the product's files have)\n"
    "  --encrypted   the file's cells are enciphered\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "recordfile: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

// The store logs its failures into AppPath; the tool gives them a private
// folder and shows them on standard error instead.
class LogRelay {
 public:
  LogRelay() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "recordfile-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) folder_ = tmpl;
    fl::AppPath = FromUtf8(folder_);
  }
  ~LogRelay() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  // Prints what the store logged; true when it logged anything.
  bool Relay() const {
    const auto log = std::filesystem::path(folder_) / "NetError.log";
    if (folder_.empty() || !std::filesystem::exists(log)) return false;
    std::string text = ToUtf8(fl::FromAnsi(fl::ReadFileBytes(FromUtf8(log.string()))));
    size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
      std::string line = text.substr(start, end - start);
      // Keep the description and the procedure; the rest is about the run.
      size_t in = line.find(", in ");
      std::fprintf(stderr, "recordfile: %s\n", line.substr(0, in).c_str());
      start = end + 2;
    }
    return true;
  }

 private:
  std::string folder_;
};

std::vector<std::string> RowCells(const fl::FeatureGrid& grid, std::int32_t row) {
  std::vector<std::string> cells;
  for (std::int32_t c = 0; c < grid.Cols(); ++c) cells.push_back(ToUtf8(grid.TextMatrix(row, c)));
  return cells;
}

size_t DisplayWidth(const std::string& utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char ch) { return (ch & 0xC0) != 0x80; }));
}

int Dump(const Text& file, std::int16_t lastCol, fl::VBool encrypted) {
  if (!fl::FileExists(file)) {
    std::fprintf(stderr, "recordfile: %s: no such file\n", ToUtf8(file).c_str());
    return 1;
  }
  LogRelay relay;
  fl::FeatureGrid grid;
  fl::TextArray unused;
  Text header;
  const fl::VBool ok =
      fl::FileReadWrite(file, encrypted, lastCol, u"", u"RA", unused, u"", &grid, u"", header);
  const bool logged = relay.Relay();

  // Columns that are empty in every record are left out at the right.
  std::int32_t shown = 0;
  std::vector<size_t> width(static_cast<size_t>(grid.Cols()), 0);
  for (std::int32_t r = 0; r < grid.Rows(); ++r) {
    auto cells = RowCells(grid, r);
    for (size_t c = 0; c < cells.size(); ++c) {
      width[c] = std::max(width[c], DisplayWidth(cells[c]));
      if (!cells[c].empty()) shown = std::max(shown, static_cast<std::int32_t>(c) + 1);
    }
  }
  shown = std::max<std::int32_t>(shown, std::min<std::int32_t>(grid.Cols(), 1));
  const size_t rowWidth = std::max<size_t>(std::to_string(grid.Rows()).size(), 3);
  std::printf("%-*s", static_cast<int>(rowWidth), "row");
  for (std::int32_t c = 0; c < shown; ++c) {
    width[c] = std::max(width[c], std::to_string(c).size());
    std::printf(" | %-*d", static_cast<int>(width[c]), c);
  }
  std::printf("\n");
  for (std::int32_t r = 0; r < grid.Rows(); ++r) {
    auto cells = RowCells(grid, r);
    std::printf("%-*d", static_cast<int>(rowWidth), r);
    for (std::int32_t c = 0; c < shown; ++c) {
      const std::string& cell = cells[static_cast<size_t>(c)];
      std::printf(" | %s%*s", cell.c_str(), static_cast<int>(width[c] - DisplayWidth(cell)), "");
    }
    std::printf("\n");
  }
  std::printf("(%d record%s of %d cells)\n", grid.Rows(), grid.Rows() == 1 ? "" : "s", lastCol + 1);
  return ok == fl::kTrue && !logged ? 0 : 1;
}

int Put(const Text& file, std::int16_t lastCol, fl::VBool encrypted, const Text& key,
        const std::vector<Text>& cells) {
  if (cells.size() > static_cast<size_t>(lastCol)) {
    std::fprintf(stderr, "recordfile: %zu cells after the key, but a record has only %d\n",
                 cells.size(), lastCol + 1);
    return 2;
  }
  LogRelay relay;
  fl::TextArray record(static_cast<size_t>(lastCol) + 1);
  record[0] = key;
  std::copy(cells.begin(), cells.end(), record.begin() + 1);
  Text header;
  const fl::VBool ok =
      fl::FileReadWrite(file, encrypted, lastCol, key, u"W", record, u"", nullptr, u"0", header);
  relay.Relay();
  return ok == fl::kTrue ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  long cols = 26;
  fl::VBool encrypted = fl::kFalse;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (args[i] == "--encrypted") {
      encrypted = fl::kTrue;
    } else if (args[i] == "--cols") {
      if (i + 1 == args.size()) return Usage("--cols needs a number");
      char* end = nullptr;
      cols = std::strtol(args[++i].c_str(), &end, 10);
      if (*end != '\0' || cols < 1 || cols > 32767) return Usage("--cols takes 1 to 32767");
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage(("unknown option " + args[i]).c_str());
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty()) return Usage(nullptr);
  const auto lastCol = static_cast<std::int16_t>(cols - 1);
  const std::string command = rest[0];
  if (command == "dump") {
    if (rest.size() != 2) return Usage("dump takes one FILE");
    return Dump(FromUtf8(std::filesystem::absolute(rest[1]).string()), lastCol, encrypted);
  }
  if (command == "put") {
    if (rest.size() < 3) return Usage("put takes FILE, KEY and the cells");
    std::vector<Text> cells;
    for (size_t i = 3; i < rest.size(); ++i) cells.push_back(FromUtf8(rest[i]));
    return Put(FromUtf8(std::filesystem::absolute(rest[1]).string()), lastCol, encrypted,
               FromUtf8(rest[2]), cells);
  }
  return Usage(("unknown command " + command).c_str());
}
