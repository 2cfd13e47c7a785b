// The error log and the failure convention every procedure follows.
#include <gtest/gtest.h>

#include <regex>

#include "ModMain/ModMain.h"
#include "ModMain/errorlog/Guarded.h"
#include "ModMain/errorlog/LogNetError.h"
#include "platform/app.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "tests/TestSupport.h"

namespace fl {
namespace {

using test::AppFolderScope;
using test::ReadBytes;
using test::WriteBytes;

std::string LinesOf(long count, const char* end) {
  std::string out;
  for (long i = 0; i < count; ++i) out += std::string("old") + end;
  return out;
}

TEST(LogNetError, LineLayout) {
  AppFolderScope app;
  const Text before = NowText();
  LogNetError(u"File not found", u"FileReadWrite");
  auto lines = app.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string exe = test::U8(AppExeName());
  EXPECT_EQ(lines[0].rfind("Desc:File not found, Proc:FileReadWrite, in " + exe + ", At: ", 0), 0u);
  // Date and time as the user's regional forms give them: the C locale
  // writes 12/07/26 16:05:09, Windows in English 7/12/2026 4:05:09 PM.
  std::string at = lines[0].substr(lines[0].find(", At: ") + 6);
  EXPECT_TRUE(
      std::regex_match(at, std::regex(R"(\d{1,2}/\d{1,2}/\d{2,4}( \d{1,2}:\d\d:\d\d( [AP]M)?)?)")))
      << at;
  EXPECT_TRUE(at == ToAnsi(before) || at == ToAnsi(NowText())) << at;
  EXPECT_EQ(ReadBytes(app.Dir() / "NetError.log").back(), '\n');
}

TEST(LogNetError, TextIsWrittenInTheAnsiCodePage) {
  AppFolderScope app;
  LogNetError(u"Caf\u00e9 \u4e00", u"Proc");
  EXPECT_EQ(app.LogLines()[0].rfind("Desc:Caf\xE9 ?, Proc:Proc", 0), 0u);
}

TEST(LogNetError, ReplacesALogOfMoreThanTenThousandLinesOncePerRun) {
  struct Case {
    const char* name;
    std::string before;
    bool replaced;
  } cases[] = {
      {"exactly 10000", LinesOf(10000, "\r\n"), false},
      {"10001", LinesOf(10001, "\r\n"), true},
      {"line feeds only", LinesOf(20000, "\n"), false},
      {"carriage returns without line feeds", LinesOf(10001, "\r"), true},
  };
  for (const auto& c : cases) {
    AppFolderScope app;
    const auto log = app.Dir() / "NetError.log";
    WriteBytes(log, c.before);
    LogNetError(u"first", u"P");
    std::string after = ReadBytes(log);
    if (c.replaced) {
      EXPECT_EQ(after.rfind("Desc:first, Proc:P", 0), 0u) << c.name;
      EXPECT_EQ(std::count(after.begin(), after.end(), '\r'), 1) << c.name;
    } else {
      EXPECT_EQ(after.substr(0, c.before.size()), c.before) << c.name;
    }
    EXPECT_EQ(LogRolloverDone, 1) << c.name;
    // Later calls of the run append, however long the log is.
    WriteBytes(log, LinesOf(10001, "\r\n"));
    LogNetError(u"second", u"P");
    EXPECT_EQ(ReadBytes(log).size(),
              LinesOf(10001, "\r\n").size() + app.LogLines().back().size() + 2)
        << c.name;
  }
}

TEST(LogNetError, FirstCallCreatesTheLogAndTheSecondCountsIt) {
  AppFolderScope app;
  LogNetError(u"one", u"A");
  EXPECT_EQ(LogRolloverDone, 0);
  LogNetError(u"two\rthree", u"B");
  EXPECT_EQ(LogRolloverDone, 1);
  auto lines = app.LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Desc:one, Proc:A", 0), 0u);
  EXPECT_EQ(lines[1].rfind("Desc:two\rthree, Proc:B", 0), 0u);
}

TEST(LogNetError, UnwritableLogIsSilentlyLost) {
  AppFolderScope app;
  std::filesystem::create_directory(app.Dir() / "NetError.log");  // a folder in its place
  LogNetError(u"lost", u"P");
  LogNetError(u"lost again", u"P");
  EXPECT_TRUE(std::filesystem::is_directory(app.Dir() / "NetError.log"));
}

TEST(Guarded, LogsTheFailureUnderTheProcedureNameAndKeepsTheResult) {
  AppFolderScope app;
  struct Case {
    std::function<void()> fail;
    const char* description;
  } cases[] = {
      {[] { Fail(desc::kSubscript); }, "Subscript out of range"},
      {[] { throw std::bad_alloc(); }, "Out of memory"},
      {[] {
         TextArray a(1);
         (void)a.at(3);
       },
       "Subscript out of range"},
      {[] { throw 42; }, "Unknown failure"},
  };
  for (const auto& c : cases) {
    int result = 0;
    bool ok = Guarded(u"SomeProc", [&] {
      result = 7;
      c.fail();
      result = 8;
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(
        app.LogLines().back().rfind(std::string("Desc:") + c.description + ", Proc:SomeProc", 0),
        0u);
  }
  EXPECT_TRUE(Guarded(u"Fine", [] {}));
  EXPECT_EQ(app.LogLines().size(), 4u);
}

TEST(For16, OverflowsAsASixteenBitCounterDoes) {
  struct Case {
    long first, last, step;
    long steps;     // bodies run
    bool overflow;  // Failure at the end
  } cases[] = {
      {1, 32766, 1, 32766, false}, {1, 32767, 1, 32767, true}, {1, 32768, 1, 0, true},
      {1, 32766, 3, 10922, false}, {1, 32767, 3, 10923, true}, {0, -1, 1, 0, false},
  };
  for (const auto& c : cases) {
    long steps = 0;
    bool overflow = false;
    try {
      For16(c.first, c.last, c.step, [&](std::int16_t) { ++steps; });
    } catch (const Failure& f) {
      overflow = f.Description() == u"Overflow";
    }
    EXPECT_EQ(steps, c.steps) << c.last;
    EXPECT_EQ(overflow, c.overflow) << c.last;
  }
}

}  // namespace
}  // namespace fl
