// recordfile: reads and writes the product's record files for the engineers
// who ship it, through the same store the utility uses.
//
//   recordfile dump [--cols N] [--encrypted] FILE
//   recordfile put  [--cols N] [--encrypted] FILE KEY CELL...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ModMain/ModMain.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/app.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/files.h"

namespace {

using fl::Text;
using fl::WriteStandardError;
using fl::WriteStandardOutput;

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

Text Number(long long n) {
  const std::string digits = std::to_string(n);
  return Text(digits.begin(), digits.end());
}

int Usage(const Text& problem) {
  if (!problem.empty()) WriteStandardError(u"recordfile: " + problem);
  const std::string usage = kUsage;
  WriteStandardError(Text(usage.begin(), usage.end() - 1));
  return 2;
}

// The store logs its failures into AppPath; the tool gives them a private
// folder and shows them on standard error instead.
class LogRelay {
 public:
  LogRelay() {
    // A private folder of a random name, as mkdtemp would make it.
    std::random_device random;
    const auto temp = std::filesystem::temp_directory_path();
    for (int tries = 0; tries < 100 && folder_.empty(); ++tries) {
      const auto candidate = temp / ("recordfile-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) folder_ = candidate;
    }
    fl::AppPath = folder_.empty() ? Text() : Text(folder_.u16string());
  }
  // Prints what the store logged; true when it logged anything.
  bool Relay() const {
    const auto log = folder_ / "NetError.log";
    if (folder_.empty() || !std::filesystem::exists(log)) return false;
    const Text text = fl::FromAnsi(fl::ReadFileBytes(log.u16string()));
    size_t start = 0, end;
    while ((end = text.find(u"\r\n", start)) != Text::npos) {
      const Text line = text.substr(start, end - start);
      // Keep the description and the procedure; the rest is about the run.
      WriteStandardError(u"recordfile: " + line.substr(0, line.find(u", in ")));
      start = end + 2;
    }
    return true;
  }

 private:
  std::filesystem::path folder_;
};

fl::TextArray RowCells(const fl::FeatureGrid& grid, std::int32_t row) {
  fl::TextArray cells;
  for (std::int32_t c = 0; c < grid.Cols(); ++c) cells.push_back(grid.TextMatrix(row, c));
  return cells;
}

// A text padded with spaces to width characters.
Text Padded(const Text& text, size_t width) {
  return text + Text(width > text.size() ? width - text.size() : 0, u' ');
}

int Dump(const Text& file, std::int16_t lastCol, fl::VBool encrypted) {
  if (!fl::FileExists(file)) {
    WriteStandardError(u"recordfile: " + file + u": no such file");
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
    const auto cells = RowCells(grid, r);
    for (size_t c = 0; c < cells.size(); ++c) {
      width[c] = std::max(width[c], cells[c].size());
      if (!cells[c].empty()) shown = std::max(shown, static_cast<std::int32_t>(c) + 1);
    }
  }
  shown = std::max<std::int32_t>(shown, std::min<std::int32_t>(grid.Cols(), 1));
  const size_t rowWidth = std::max<size_t>(Number(grid.Rows()).size(), 3);
  Text table = Padded(u"row", rowWidth);
  for (std::int32_t c = 0; c < shown; ++c) {
    width[c] = std::max(width[c], Number(c).size());
    table += u" | " + Padded(Number(c), width[c]);
  }
  table += u"\n";
  for (std::int32_t r = 0; r < grid.Rows(); ++r) {
    const auto cells = RowCells(grid, r);
    table += Padded(Number(r), rowWidth);
    for (std::int32_t c = 0; c < shown; ++c) {
      table += u" | " + Padded(cells[static_cast<size_t>(c)], width[c]);
    }
    table += u"\n";
  }
  table += u"(" + Number(grid.Rows()) + u" record" + (grid.Rows() == 1 ? u"" : u"s") + u" of " +
           Number(lastCol + 1) + u" cells)\n";
  WriteStandardOutput(table);
  return ok == fl::kTrue && !logged ? 0 : 1;
}

int Put(const Text& file, std::int16_t lastCol, fl::VBool encrypted, const Text& key,
        const std::vector<Text>& cells) {
  if (cells.size() > static_cast<size_t>(lastCol)) {
    WriteStandardError(u"recordfile: " + Number(static_cast<long long>(cells.size())) +
                       u" cells after the key, but a record has only " + Number(lastCol + 1));
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
  const std::vector<Text> all = fl::ProgramArguments(argc, argv);
  const std::vector<Text> args(all.empty() ? all.begin() : all.begin() + 1, all.end());
  long cols = 26;
  fl::VBool encrypted = fl::kFalse;
  std::vector<Text> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--help" || args[i] == u"-h") {
      const std::string usage = kUsage;
      WriteStandardOutput(Text(usage.begin(), usage.end()));
      return 0;
    } else if (args[i] == u"--encrypted") {
      encrypted = fl::kTrue;
    } else if (args[i] == u"--cols") {
      if (i + 1 == args.size()) return Usage(u"--cols needs a number");
      const Text& number = args[++i];
      const bool digits = !number.empty() && number.size() <= 5 &&
                          std::all_of(number.begin(), number.end(),
                                      [](char16_t ch) { return ch >= u'0' && ch <= u'9'; });
      cols = digits ? std::stol(std::string(number.begin(), number.end())) : 0;
      if (cols < 1 || cols > 32767) return Usage(u"--cols takes 1 to 32767");
    } else if (args[i].rfind(u"--", 0) == 0) {
      return Usage(u"unknown option " + args[i]);
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty()) return Usage(Text());
  const auto lastCol = static_cast<std::int16_t>(cols - 1);
  const Text command = rest[0];
  if (command == u"dump") {
    if (rest.size() != 2) return Usage(u"dump takes one FILE");
    return Dump(fl::FullPath(rest[1]), lastCol, encrypted);
  }
  if (command == u"put") {
    if (rest.size() < 3) return Usage(u"put takes FILE, KEY and the cells");
    const std::vector<Text> cells(rest.begin() + 3, rest.end());
    return Put(fl::FullPath(rest[1]), lastCol, encrypted, rest[2], cells);
  }
  return Usage(u"unknown command " + command);
}
