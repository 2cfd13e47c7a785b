// Faults the record store must survive without losing a file: a full disk,
// two writers in one folder at once, a writer killed midway, and a folder it
// may not write into.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "platform/files.h"
#include "platform/utf8.h"
#include "tests/RecordFileTest.h"

namespace fl {
namespace {

// Runs check in a child with its own mount namespace and a small tmpfs
// mounted on folder; the child's report is "OK" or what went wrong. Empty
// when this machine does not allow the mount.
std::string InSmallDisk(const fs::path& folder, const std::function<std::string()>& check) {
  int report[2];
  if (pipe(report) != 0) return "pipe failed";
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    std::string result;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=128k") != 0) {
      result = "";
    } else {
      result = check();
    }
    (void)!write(report[1], result.data(), result.size());
    _exit(0);
  }
  close(report[1]);
  std::string result;
  char buf[512];
  ssize_t n;
  while ((n = read(report[0], buf, sizeof buf)) > 0) result.append(buf, static_cast<size_t>(n));
  close(report[0]);
  waitpid(child, nullptr, 0);
  return result;
}

TEST_F(RecordFile, FullDiskLeavesTargetAndNoTemporaryFile) {
  const fs::path disk = app.Dir() / "disk";
  fs::create_directory(disk);
  const std::string before = RecordBytes({"a", "1", "1"});
  std::string result = InSmallDisk(disk, [&]() -> std::string {
    for (Text mode : {u"WA", u"W"}) {
      WriteBytes(disk / "list.txt", before);
      // Fill the disk so that a copy of the target no longer fits either.
      WriteBytes(disk / "filler", std::string(128 * 1024 - 16 * 1024, 'f'));
      FeatureGrid grid;
      grid.SetCols(3);
      for (int i = 0; i < 2000; ++i) grid.AddItem(u"row\t" + Text(20, u'x'));
      Call c(FromUtf8((disk / "list.txt").string()));
      c.mode = mode;
      c.grid = &grid;
      c.key = u"new";
      c.rec = {u"", Text(30000, u'y'), u""};
      if (c.Run() != kFalse) return "a full disk was reported as success";
      if (ReadBytes(disk / "list.txt") != before) return "the target changed";
      fs::remove(disk / "filler");
      for (const auto& e : fs::directory_iterator(disk)) {
        if (e.path().filename() != "list.txt") return "left behind: " + e.path().string();
      }
    }
    return "OK";
  });
  if (result.empty()) GTEST_SKIP() << "this machine does not allow mounting a small tmpfs";
  EXPECT_EQ(result, "OK");
  auto lines = app.LogLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) EXPECT_EQ(line.rfind("Desc:Disk full, Proc:FileReadWrite", 0), 0u);
}

TEST_F(RecordFile, ConcurrentWritersNeverMixTheirFiles) {
  // Two processes save different grids into one file many times over; the
  // file is always one of the two, whole.
  FeatureGrid grids[2];
  std::string expected[2];
  for (int v = 0; v < 2; ++v) {
    grids[v].SetCols(26);
    for (int row = 0; row < 300; ++row) {
      grids[v].AddItem(Text(1, static_cast<char16_t>(u'A' + v)) + u"\t" + Text(30 + v * 11, u'x'));
    }
    Call c(File("FeatDlods.txt"));
    c.lastCol = 25;
    c.mode = u"WA";
    c.grid = &grids[v];
    ASSERT_EQ(c.Run(), kTrue);
    expected[v] = ReadBytes(Path("FeatDlods.txt"));
  }
  pid_t writers[2];
  for (int v = 0; v < 2; ++v) {
    writers[v] = fork();
    if (writers[v] == 0) {
      bool ok = true;
      for (int i = 0; i < 40; ++i) {
        Call c(File("FeatDlods.txt"));
        c.lastCol = 25;
        c.mode = u"WA";
        c.grid = &grids[v];
        ok = ok && c.Run() == kTrue;
      }
      _exit(ok ? 0 : 1);
    }
  }
  bool allComplete = true;
  while (waitpid(writers[0], nullptr, WNOHANG) == 0 || waitpid(writers[1], nullptr, WNOHANG) == 0) {
    std::string now = ReadBytes(Path("FeatDlods.txt"));
    allComplete = allComplete && (now == expected[0] || now == expected[1]);
  }
  EXPECT_TRUE(allComplete);
  std::string last = ReadBytes(Path("FeatDlods.txt"));
  EXPECT_TRUE(last == expected[0] || last == expected[1]);
  EXPECT_FALSE(fs::exists(Path("FeatDlods_temp.txt")));
  EXPECT_TRUE(app.LogLines().empty());
}

// A writer killed at any instant leaves the target complete: old or new.
TEST_F(RecordFile, KilledWriterNeverLeavesAPartialTarget) {
  auto gridBytes = [](int variant) {
    FeatureGrid grid;
    grid.SetCols(26);
    for (int row = 0; row < 400; ++row) {
      grid.AddItem(u"row" + FromUtf8(std::to_string(row)) + u"\tvariant" +
                   FromUtf8(std::to_string(variant)) + u"\t" + Text(40 + variant * 7, u'x'));
    }
    return grid;
  };
  const FeatureGrid grids[2] = {gridBytes(0), gridBytes(1)};
  const Text target = File("FeatDlods.txt");
  std::string expected[2];
  for (int v = 0; v < 2; ++v) {
    Call c(target);
    c.lastCol = 25;
    c.mode = u"WA";
    c.grid = const_cast<FeatureGrid*>(&grids[v]);
    ASSERT_EQ(c.Run(), kTrue);
    expected[v] = ReadBytes(Path("FeatDlods.txt"));
  }
  ASSERT_NE(expected[0], expected[1]);

  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> delayUs(0, 30000);
  int sawNew = 0;
  for (int trial = 0; trial < 60; ++trial) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        Call c(target);
        c.lastCol = 25;
        c.mode = i % 2 == 0 ? u"WA" : u"wa";
        c.grid = const_cast<FeatureGrid*>(&grids[(i + 1) % 2]);
        c.Run();
      }
    }
    usleep(static_cast<useconds_t>(delayUs(rng)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string now = ReadBytes(Path("FeatDlods.txt"));
    ASSERT_TRUE(now == expected[0] || now == expected[1])
        << "trial " << trial << ": " << now.size() << " bytes";
    sawNew += now == expected[1];
  }
  EXPECT_GT(sawNew, 0);
}

TEST(Files, UnwritableFolderIsPermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  test::TempDir dir;
  chmod(dir.Path().c_str(), 0555);
  std::string why;
  try {
    ByteWriter w(dir.File("x.bin"));
  } catch (const Failure& f) {
    why = ToUtf8(f.Description());
  }
  EXPECT_EQ(why, "Permission denied");
}

}  // namespace
}  // namespace fl
