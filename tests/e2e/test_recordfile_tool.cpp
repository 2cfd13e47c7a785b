// The recordfile tool as the engineers who ship the product use it.
#include <regex>

#include "tests/e2e/Harness.h"

namespace fl {
namespace {

using namespace test::e2e;

// The tool as a shell command line.
std::string ToolCommand() {
  std::string command;
  for (const std::string& part : Emulated({(kBuild / "recordfile").string()}))
    command += part + " ";
  return command;
}

Outcome Tool(std::vector<std::string> args) {
  args.insert(args.begin(), (kBuild / "recordfile").string());
  return RunProgram(Emulated(args), 30);
}

TEST(RecordfileTool, PutThenDump) {
  TempDir dir;
  const std::string file = (dir / "Orvistane.txt").string();
  EXPECT_EQ(Tool({"put", file, "ZELVAN", "Ostra-VKP", "Photo Tools"}).status, 0);
  EXPECT_EQ(Tool({"put", file, "OTHER", "x"}).status, 0);
  // Updates cells 1 and on; traced, to see the new file reach the disk
  // before it replaces the old one.
  const std::string trace = (dir / "trace").string();
  // The leak checker of a sanitizer build cannot run under a tracer.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string saved = asan != nullptr ? asan : "";
  setenv("ASAN_OPTIONS", (saved + ":detect_leaks=0").c_str(), 1);
  std::vector<std::string> traced{"/usr/bin/strace",
                                  "-f",
                                  "-o",
                                  trace,
                                  "-e",
                                  "trace=openat,fsync,fdatasync,rename,renameat,renameat2"};
  for (const std::string& part : Emulated({(kBuild / "recordfile").string()})) {
    traced.push_back(part);
  }
  traced.insert(traced.end(), {"put", file, "zelvan", "Quend-Levy"});
  EXPECT_EQ(RunProgram(traced).status, 0);
  setenv("ASAN_OPTIONS", saved.c_str(), 1);
  std::ifstream lines(trace);
  std::smatch m;
  std::string fd;
  bool flushed = false, renamed = false;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, m, std::regex(R"(openat\(.*Orvistane_temp\.txt".* = (\d+)$)"))) {
      fd = m[1];
    } else if (!fd.empty() && std::regex_search(line, std::regex("f(data)?sync\\(" + fd + "\\)"))) {
      flushed = true;
    } else if (line.find("rename") != std::string::npos &&
               line.find("Orvistane_temp.txt") != std::string::npos) {
      renamed = true;
      break;
    }
  }
  EXPECT_TRUE(flushed && renamed) << ReadBytes(trace);
  fs::remove(trace);
  std::string expected;
  for (std::vector<std::string> row :
       {std::vector<std::string>{"ZELVAN", "Quend-Levy"}, std::vector<std::string>{"OTHER", "x"}}) {
    row.resize(26);
    expected += test::RecordBytes(row);
  }
  EXPECT_EQ(ReadBytes(dir / "Orvistane.txt"), expected);

  const std::string table = test::RunCommand(ToolCommand() + "dump " + file);
  EXPECT_EQ(table,
            "row | 0      | 1         \n"
            "0   | ZELVAN | Quend-Levy\n"
            "1   | OTHER  | x         \n"
            "(2 records of 26 cells)\n");
}

TEST(RecordfileTool, ColumnsAndCipher) {
  TempDir dir;
  const std::string file = (dir / "secret.txt").string();
  EXPECT_EQ(Tool({"put", "--cols", "3", "--encrypted", file, "k", "hidden", "z"}).status, 0);
  EXPECT_EQ(ReadBytes(dir / "secret.txt").find("hidden"), std::string::npos);
  EXPECT_NE(
      test::RunCommand(ToolCommand() + "dump --cols 3 --encrypted " + file).find("| hidden |"),
      std::string::npos);
  EXPECT_EQ(test::RunCommand(ToolCommand() + "dump --cols 3 " + file).find("hidden"),
            std::string::npos);
}

TEST(RecordfileTool, ClearErrors) {
  TempDir dir;
  WriteBytes(dir / "cut.txt", std::string("\x05\x00\x61\x62", 4));  // a 5-byte cell cut short
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{}, 2, "Usage:"},
      {{"frobnicate"}, 2, "unknown command frobnicate"},
      {{"dump"}, 2, "dump takes one FILE"},
      {{"dump", "--cols", "0", "x"}, 2, "--cols takes 1 to 32767"},
      {{"dump", "--bogus", "x"}, 2, "unknown option --bogus"},
      {{"dump", (dir / "none.txt").string()}, 1, "no such file"},
      {{"dump", (dir / "cut.txt").string()}, 1, "Desc:Input past end of file, Proc:FileReadWrite"},
      {{"put", "--cols", "2", (dir / "p.txt").string(), "k", "a", "b"}, 2, "a record has only 2"},
      {{"put", (dir / "nodot").string(), "k"}, 1, "Desc:Invalid procedure call or argument"},
      // The largest cell a count can describe, then one byte more.
      {{"put", (dir / "big.txt").string(), "k", std::string(65535, 'z')}, 0, ""},
      {{"put", (dir / "big.txt").string(), "k", std::string(65536, 'z')},
       1,
       "Desc:Overflow: a cell of 65536 bytes does not fit a record file"},
  };
  for (const auto& c : cases) {
    Outcome out = Tool(c.args);
    EXPECT_EQ(out.status, c.status) << out.err;
    EXPECT_NE(out.err.find(c.says), std::string::npos) << out.err;
  }
  std::vector<std::string> big{"k", std::string(65535, 'z')};
  big.resize(26);
  EXPECT_EQ(ReadBytes(dir / "big.txt"), test::RecordBytes(big));
}

}  // namespace
}  // namespace fl
