// The keyed record store: layout, the four modes, key columns, temporary
// names and the failures it must survive without losing a file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "ModMain/encoding/Encrypt.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "ModMain/recordfile/RecordCells.h"
#include "platform/codepage.h"
#include "platform/utf8.h"
#include "tests/RecordFileTest.h"

namespace fl {
namespace {

// A search through a file compares stored keys without building texts; it
// must agree with the key comparison everywhere, spaces and case included.
TEST_F(RecordFile, KeyMatcherAgreesWithKeyEquals) {
  const Text texts[] = {
      u"",       u" ",      u"   ",      u"K",      u"k",      u" k ",           u"K K",
      u"k  k",   u"ZELVAN", u" zelvan ", u"zelvaN", u"zelva",  u"\u00e9t\u00e9", u"\u00c9T\u00c9",
      u"\u20ac", u"\tK",    u"K\t",      u"?",      u"\u0416", u"\u0436 "};
  // Plain keys are compared byte by byte in single-byte pages.
  for (int codePage : {1252, 1251, 932}) {
    SetAnsiCodePage(codePage);
    for (bool encrypted : {false, true}) {
      for (const Text& key : texts) {
        recordfile::KeyMatcher matcher(key, encrypted);
        for (const Text& text : texts) {
          const std::string stored = recordfile::StoredCell(text, encrypted);
          EXPECT_EQ(matcher.Matches(stored),
                    KeyEquals(recordfile::CellText(stored, encrypted), key))
              << test::U8(key) << " / " << test::U8(text) << (encrypted ? " enciphered" : "")
              << " in " << codePage;
        }
      }
    }
  }
  SetAnsiCodePage(1252);
}

// A numeric key column is rounded by hand; it must round as nearbyint does,
// halves to the even neighbour, right up to the edges of the 16-bit range.
TEST_F(RecordFile, NumericColumnRoundsAsNearbyint) {
  auto expected = [](double v) -> std::optional<std::int16_t> {
    const double r = std::nearbyint(v);
    if (r < INT16_MIN || r > INT16_MAX) return std::nullopt;
    return static_cast<std::int16_t>(r);
  };
  auto actual = [](double v) -> std::optional<std::int16_t> {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    try {
      return recordfile::NumericColumn(FromUtf8(text));
    } catch (const Failure& f) {
      EXPECT_EQ(f.Description(), u"Overflow") << text;
      return std::nullopt;
    }
  };
  std::vector<double> values;
  for (double v = -33000; v <= 33000; v += 0.25) values.push_back(v);
  for (double edge : {-32769.0, -32768.0, 32767.0, 32768.0}) {
    for (double d : {-0.5, -0.4999999, -0.5000001, 0.0, 0.4999999, 0.5, 0.5000001, 1.0}) {
      values.push_back(edge + d);
    }
  }
  for (double v : {0.0, -0.0, 1e-300, -1e-300, 0.49999999999999994, -0.49999999999999994, 1e10,
                   -1e10, 1e300, -1e300}) {
    values.push_back(v);
  }
  for (double v : values) EXPECT_EQ(actual(v), expected(v)) << v;
}

TEST_F(RecordFile, LayoutIsCountThenAnsiBytes) {
  FeatureGrid grid;
  grid.SetCols(3);
  grid.AddItem(u"ab\t\tZ");
  Call c(File("list.txt"));
  c.mode = u"WA";
  c.grid = &grid;
  EXPECT_EQ(c.Run(), kTrue);
  EXPECT_EQ(ReadBytes(Path("list.txt")), std::string("\x02\x00\x61\x62\x00\x00\x01\x00\x5A", 9));

  // Text travels in the ANSI code page.
  grid.SetRows(0);
  grid.AddItem(u"\u00e9\u20ac\t\u4e00\t");
  EXPECT_EQ(c.Run(), kTrue);
  EXPECT_EQ(ReadBytes(Path("list.txt")), RecordBytes({"\xE9\x80", "?", ""}));
  EXPECT_EQ(Files(), std::vector<std::string>{"list.txt"});
}

TEST_F(RecordFile, GridRoundTripsInBothCipherModes) {
  FeatureGrid grid;
  grid.SetCols(4);
  grid.AddItem(u"F1\tTools\t\tYes");
  grid.AddItem(u"a/b?\t??\t \u00e9\u00fc \t~");
  grid.AddItem(u"");
  for (VBool enc : {kFalse, kTrue}) {
    Call w(File("grid.txt"));
    w.encrypted = enc;
    w.lastCol = 3;
    w.mode = u"wa";
    w.grid = &grid;
    ASSERT_EQ(w.Run(), kTrue);
    const std::string stored = ReadBytes(Path("grid.txt"));
    EXPECT_EQ(stored.find("Tools") != std::string::npos, enc == kFalse);

    FeatureGrid back;
    back.SetCols(9);
    back.AddItem(u"stale");
    Call r = w;
    r.mode = u" ra ";
    r.grid = &back;
    ASSERT_EQ(r.Run(), kTrue);
    ASSERT_EQ(back.Rows(), 3);
    ASSERT_EQ(back.Cols(), 4);
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col)
        EXPECT_EQ(back.TextMatrix(row, col), grid.TextMatrix(row, col)) << row << "," << col;

    // Read without deciphering, an enciphered file shows its stored text.
    r.encrypted = kFalse;
    ASSERT_EQ(r.Run(), kTrue);
    EXPECT_EQ(back.TextMatrix(0, 1) == u"Tools", enc == kFalse);
  }
  EXPECT_TRUE(app.LogLines().empty());
}

TEST_F(RecordFile, ReadAllOfEmptyFileGivesNoRows) {
  WriteBytes(Path("empty.txt"), "");
  FeatureGrid grid;
  grid.SetCols(1);
  grid.AddItem(u"x");
  Call c(File("empty.txt"));
  c.lastCol = 25;
  c.mode = u"RA";
  c.grid = &grid;
  EXPECT_EQ(c.Run(), kTrue);
  EXPECT_EQ(grid.Cols(), 26);
  EXPECT_EQ(grid.Rows(), 0);

  c.path = File("missing.txt");
  grid.AddItem(u"kept");
  EXPECT_EQ(c.Run(), kFalse);
  EXPECT_EQ(grid.Rows(), 1);
  EXPECT_TRUE(app.LogLines().empty());
}

TEST_F(RecordFile, UnknownModesTouchNothing) {
  WriteBytes(Path("f.txt"), RecordBytes({"K", "1", "2"}));
  FeatureGrid grid;
  for (Text mode : {u"", u"X", u"RR", u"R A", u"read"}) {
    Call c(File("f.txt"));
    c.key = u"K";
    c.mode = mode;
    c.grid = &grid;
    c.rec = {u"a", u"b", u"c"};
    EXPECT_EQ(c.Run(), kFalse);
    EXPECT_EQ(c.rec, (TextArray{u"a", u"b", u"c"}));
    EXPECT_EQ(c.header, u"unchanged");
    EXPECT_EQ(grid.Rows(), 0);
  }
  EXPECT_TRUE(app.LogLines().empty());
}

// Mode "R" over files of three-cell records.
struct ReadCase {
  const char* name;
  std::vector<std::vector<std::string>> records;  // missing file when empty and absent is set
  bool absent;
  Text primaryKey;
  Text key;
  VBool result;
  TextArray rec;       // RecArray afterwards
  Text header;         // HeaderText afterwards
  const char* logged;  // description logged under FileReadWrite, or nullptr
};

TEST_F(RecordFile, ReadOneRecord) {
  const TextArray untouched{u"-", u"-", u"-"};
  const ReadCase cases[] = {
      {"matches trimmed and case-blind",
       {{"x", "0", "0"}, {" zelvan ", "Ostra-VKP", "Feat"}, {"ZELVAN", "2", "2"}},
       false,
       u"0",
       u"ZELVAN",
       kTrue,
       {u" zelvan ", u"Ostra-VKP", u"Feat"},
       u"unchanged",
       nullptr},
      {"missing file", {}, true, u"0", u"ZELVAN", kFalse, untouched, u"unchanged", nullptr},
      {"empty file", {}, false, u"0", u"ZELVAN", kFalse, untouched, u"unchanged", nullptr},
      {"no match",
       {{"a", "b", "c"}},
       false,
       u"0",
       u"ZELVAN",
       kFalse,
       untouched,
       u"unchanged",
       nullptr},
      {"blank key column",
       {{"a", "b", "c"}},
       false,
       u"  ",
       u"a",
       kFalse,
       untouched,
       u"unchanged",
       "Subscript out of range"},
      {"key column three and a half is 4, out of range",
       {{"a", "b", "c"}},
       false,
       u"3.5",
       u"a",
       kFalse,
       untouched,
       u"unchanged",
       "Subscript out of range"},
      {"two and a half rounds to 2",
       {{"a", "b", "K"}},
       false,
       u" 2.5",
       u"k",
       kTrue,
       {u"a", u"b", u"K"},
       u"unchanged",
       nullptr},
      {"1.5 rounds to 2",
       {{"a", "b", "K"}},
       false,
       u"1.5",
       u"K",
       kTrue,
       {u"a", u"b", u"K"},
       u"unchanged",
       nullptr},
      {"digits then letters",
       {{"a", "K", "c"}},
       false,
       u"1st",
       u"K",
       kTrue,
       {u"a", u"K", u"c"},
       u"unchanged",
       nullptr},
      {"letters only is column 0",
       {{"K", "b", "c"}},
       false,
       u"abc",
       u"K",
       kTrue,
       {u"K", u"b", u"c"},
       u"unchanged",
       nullptr},
      {"blanks inside the number",
       {{"a", "b", "K"}},
       false,
       u"\t 2\n",
       u"K",
       kTrue,
       {u"a", u"b", u"K"},
       u"unchanged",
       nullptr},
      {"exponent",
       {{"a", "b", "K"}},
       false,
       u"0.2e1",
       u"K",
       kTrue,
       {u"a", u"b", u"K"},
       u"unchanged",
       nullptr},
      {"beyond 16 bits",
       {{"a", "b", "K"}},
       false,
       u"40000",
       u"K",
       kFalse,
       untouched,
       u"unchanged",
       "Overflow"},
      {"header row names the key column",
       {{"id", " code ", "x/y?"}, {"1", "ZELVAN", "h"}, {"2", "k", "v"}},
       false,
       u"PRYKEY:Code",
       u"k",
       kTrue,
       {u"2", u"k", u"v"},
       u"id/ code /x//y?\?/",
       nullptr},
      {"prefix in lower case, header row never a candidate",
       {{"id", "code", ""}, {"code", "1", "2"}},
       false,
       u"prykey:id",
       u"code",
       kTrue,
       {u"code", u"1", u"2"},
       u"id/code/?/",
       nullptr},
      {"prefix in the middle: the name is the text from the 8th character on",
       {{"id", "Y:Code", "x"}, {"1", "k", "v"}},
       false,
       u"abPRYKEY:Code",
       u"K",
       kTrue,
       {u"1", u"k", u"v"},
       u"id/Y:Code/x/",
       nullptr},
      {"header name of spaces on an empty file",
       {},
       false,
       u"PRYKEY:   ",
       u"k",
       kFalse,
       untouched,
       u"?/?/?/",
       nullptr},
      {"header name not found, data follows",
       {{"a", "b", "c"}, {"1", "2", "3"}},
       false,
       u"PRYKEY:zz",
       u"1",
       kFalse,
       untouched,
       u"unchanged",
       "Subscript out of range"},
      {"header name not found, header only",
       {{"a", "b", "c"}},
       false,
       u"PRYKEY:zz",
       u"1",
       kFalse,
       untouched,
       u"unchanged",
       nullptr},
  };
  for (const auto& c : cases) {
    AppFolderScope scope;
    const fs::path path = scope.Dir() / "setup.txt";
    if (!c.absent) {
      std::string bytes;
      for (const auto& r : c.records) bytes += RecordBytes(r);
      WriteBytes(path, bytes);
    }
    Call call(scope.Dir().File("setup.txt"));
    call.key = c.key;
    call.mode = u"R";
    call.primaryKey = c.primaryKey;
    call.rec = untouched;
    EXPECT_EQ(call.Run(), c.result) << c.name;
    EXPECT_EQ(call.rec, c.rec) << c.name;
    EXPECT_EQ(call.header, c.header) << c.name;
    auto lines = scope.LogLines();
    if (c.logged) {
      ASSERT_EQ(lines.size(), 1u) << c.name;
      EXPECT_EQ(lines[0].rfind(std::string("Desc:") + c.logged + ", Proc:FileReadWrite, in ", 0),
                0u)
          << c.name << ": " << lines[0];
    } else {
      EXPECT_TRUE(lines.empty()) << c.name << ": " << (lines.empty() ? "" : lines[0]);
    }
  }
}

// The key column may be written with a D exponent, as a Basic number may:
// the record keyed in that column is found by R and updated by W.
TEST_F(RecordFile, KeyColumnWithDExponent) {
  const std::pair<const char16_t*, int> columns[] = {{u"1D1", 10},  {u"1d1", 10},  {u"2.5D0", 2},
                                                     {u"1D+1", 10}, {u"15D-1", 2}, {u"3D", 3}};
  for (const auto& [text, column] : columns) {
    SCOPED_TRACE(ToUtf8(text));
    std::vector<std::string> other(11, "o"), keyed(11, "v");
    keyed[static_cast<size_t>(column)] = "K";
    WriteBytes(Path("d.txt"), RecordBytes(other) + RecordBytes(keyed));
    Call c(File("d.txt"));
    c.lastCol = 10;
    c.primaryKey = text;
    c.key = u"K";
    c.mode = u"R";
    c.rec = TextArray(11);
    ASSERT_EQ(c.Run(), kTrue);
    EXPECT_EQ(ToUtf8(c.rec[0]), "v");
    // Column 0 keeps its stored value; the others take the array's.
    c.mode = u"W";
    c.rec[1] = u"new";
    ASSERT_EQ(c.Run(), kTrue);
    keyed[1] = "new";
    EXPECT_EQ(ReadBytes(Path("d.txt")), RecordBytes(other) + RecordBytes(keyed));
  }
  EXPECT_TRUE(app.LogLines().empty());
}

TEST_F(RecordFile, ReadCopiesOnlyUpToLastColAndFailsOnShortArrays) {
  WriteBytes(Path("f.txt"), RecordBytes({"K", "1", "2"}));
  Call c(File("f.txt"));
  c.key = u"K";
  c.mode = u"R";
  c.rec = {u"-", u"-", u"-", u"beyond"};
  EXPECT_EQ(c.Run(), kTrue);
  EXPECT_EQ(c.rec, (TextArray{u"K", u"1", u"2", u"beyond"}));

  c.rec = {u"-", u"-"};
  EXPECT_EQ(c.Run(), kFalse);
  EXPECT_EQ(c.rec, (TextArray{u"K", u"1"}));  // what was written stays written
  EXPECT_EQ(app.LoggedProcs(), std::vector<std::string>{"FileReadWrite"});
}

TEST_F(RecordFile, BadLastColFailsInEveryMode) {
  for (std::int16_t lastCol : {-1, 32767}) {
    for (Text mode : {u"R", u"RA", u"W", u"WA", u"?"}) {
      AppFolderScope scope;
      Call c(scope.Dir().File("f.txt"));
      c.lastCol = lastCol;
      c.mode = mode;
      EXPECT_EQ(c.Run(), kFalse);
      EXPECT_EQ(scope.LoggedProcs(), std::vector<std::string>{"FileReadWrite"});
      EXPECT_FALSE(fs::exists(scope.Dir() / "f.txt"));
    }
  }
}

TEST_F(RecordFile, GetColNumFromArray) {
  const VBool plain = kFalse, enc = kTrue;
  EXPECT_EQ(GetColNumFromArray(u" code ", {u"id", u"CODE", u"code"}, plain), 1);
  EXPECT_EQ(GetColNumFromArray(u"", {u"id", u"", u"x"}, plain), 1);
  EXPECT_EQ(GetColNumFromArray(u"  ", {u"id", u"   ", u"x"}, plain), 1);
  EXPECT_EQ(GetColNumFromArray(u"none", {u"id"}, plain), -1);
  EXPECT_EQ(GetColNumFromArray(u"none", {}, plain), -1);
  // Stored names are deciphered before the comparison.
  const std::int16_t write = 0;
  EXPECT_EQ(GetColNumFromArray(u"Code", {u"id", Encrypt(u"code", write)}, enc), 1);
  EXPECT_TRUE(app.LogLines().empty());
  // A name too long for the cipher reads as empty, and the search goes on.
  EXPECT_EQ(GetColNumFromArray(u"Code", {Text(40000, u'x'), Encrypt(u"code", write)}, enc), 1);
  EXPECT_EQ(app.LoggedProcs(), std::vector<std::string>{"Encrypt"});
}

}  // namespace
}  // namespace fl
