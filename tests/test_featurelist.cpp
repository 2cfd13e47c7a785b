// The feature-list string and its loader.
#include <gtest/gtest.h>

#include <algorithm>

#include "ModMain/featurelist/StringToGrid.h"
#include "tests/TestSupport.h"
#ifdef FIRSTLOAD_PYTHON
#include <sstream>

#include "tests/posix/TestSupportPosix.h"
#endif

namespace fl {
namespace {

using Rows = std::vector<std::vector<Text>>;

Rows RowsOf(const FeatureGrid& g) {
  Rows rows;
  for (std::int32_t r = 0; r < g.Rows(); ++r) {
    std::vector<Text> cells;
    for (std::int32_t c = 0; c < g.Cols(); ++c) cells.push_back(g.TextMatrix(r, c));
    rows.push_back(cells);
  }
  return rows;
}

// Every row padded to width with empty cells.
Rows Padded(Rows rows, size_t width) {
  for (auto& r : rows) r.resize(width);
  return rows;
}

TEST(StringToGrid, ListFormat) {
  const std::vector<Text> blank;
  struct Case {
    Text list;
    std::int16_t suppressGap;
    Rows rows;
    std::int32_t cols;
  } cases[] = {
      {u"F1/Tools/?/Yes#F2/A??B/x//y>F3/1##2/p>>q",
       0,
       {{u"F1", u"Tools", u"", u"Yes"},
        {u"F2", u"A?B", u"x/y"},
        blank,
        {u"F3", u"1#2", u"p>q"},
        blank},
       4},
      {u"a/b/", 0, {{u"a", u"b"}, blank}, 2},
      {u"/a", 0, {{u"a"}, blank}, 1},
      {u"a/?/b", 0, {{u"a", u"", u"b"}, blank}, 3},
      {u"a///b", 0, {{u"a/", u"b"}, blank}, 2},
      {u"a//", 0, {{u"a/"}, blank}, 1},
      {u"a///", 0, {{u"a//"}, blank}, 1},
      {u"z/x//y/", 0, {{u"z", u"x/y/"}, blank}, 2},
      {u"x//y/z/", 0, {{u"x/y", u"z"}, blank}, 2},
      {u"a>>>b", 0, {{u"a>"}, blank, {u"b"}, blank}, 1},
      {u"?", 0, {{u""}, blank}, 1},
      {u"??", 0, {{u"?"}, blank}, 1},
      {u"???", 0, {{u"??"}, blank}, 1},
      {u"/", 0, {blank, blank}, 1},
      {u"#", 0, {blank}, 1},
      {u">", 0, {}, 1},
      {u"", 0, {}, 1},
      {u"a\tb/c", 0, {{u"a", u"b", u"c"}, blank}, 3},
      {u"a>b", 1, {{u"a"}, {u"b"}}, 1},
      {u"//b", 0, {{u"/b"}, blank}, 1},
      {u"a##b#c", 0, {{u"a#b"}, {u"c"}, blank}, 1},
  };
  for (const auto& c : cases) {
    test::AppFolderScope app;
    FeatureGrid grid;
    grid.SetCols(1);
    StringToGrid(grid, c.list, c.suppressGap);
    EXPECT_EQ(grid.Cols(), c.cols) << test::U8(c.list);
    EXPECT_EQ(RowsOf(grid), Padded(c.rows, static_cast<size_t>(c.cols))) << test::U8(c.list);
    EXPECT_TRUE(app.LogLines().empty());
  }
}

TEST(StringToGrid, HandsTheGridOneTabEndedTextPerRow) {
  // The row reaches the grid as F1 TAB Tools TAB TAB Yes TAB: the empty third
  // cell keeps its column.
  FeatureGrid grid;
  grid.SetCols(4);
  StringToGrid(grid, u"F1/Tools/?/Yes", 0);
  ASSERT_EQ(grid.Rows(), 2);
  EXPECT_EQ(grid.TextMatrix(0, 3), u"Yes");
  EXPECT_EQ(grid.TextMatrix(0, 2), u"");
}

TEST(StringToGrid, AppendsAndNeverNarrows) {
  FeatureGrid grid;
  grid.SetCols(6);
  grid.AddItem(u"existing");
  StringToGrid(grid, u"a/b", 0);
  EXPECT_EQ(grid.Cols(), 6);
  ASSERT_EQ(grid.Rows(), 3);
  EXPECT_EQ(grid.TextMatrix(0, 0), u"existing");
  EXPECT_EQ(grid.TextMatrix(1, 1), u"b");
}

#ifdef FIRSTLOAD_PYTHON
TEST(StringToGrid, ReadsBackEveryNameTheExampleServiceWrites) {
  struct Case {
    Text name;
    Text readsAs;
  } cases[] = {
      {u"Photo Tools", u"Photo Tools"},
      {u"", u""},
      {u"?", u"?"},
      {u"a??b", u"a??b"},
      {u"/a", u"/a"},
      {u"#a", u"#a"},
      {u">a", u">a"},
      {u"a/", u"a/"},
      {u"a#", u"a#"},
      {u"a>", u"a>"},
      {u"/", u"/"},
      {u"#", u"#"},
      {u">", u">"},
      {u">#//?", u">#//?"},
      {u"/?/", u"/?/"},
      {u"a\tb", u"a b"},  // a TAB cannot be cell text; the service sends a space
  };
  // The service's own code builds each list, with the name at every kind of
  // place: first and last in the list, after each separator and after an
  // empty cell. Names go in and lists come out as character codes, one list
  // a line, so that no character needs quoting.
  const char script[] = R"py(
import sys, feature_service as s
for arg in sys.argv[1:]:
    n = "".join(chr(int(code)) for code in arg.split(":")[1:])
    print(*map(ord, s.list_text([[[n, n], [n, "", n]], [[n, n]]])))
)py";
  std::string command = "env 'PYTHONPATH=" FIRSTLOAD_SERVICE_DIR "' '" FIRSTLOAD_PYTHON "' -B -c '";
  command += script;
  command += "'";
  for (const auto& c : cases) {
    command += " n";
    for (char16_t ch : c.name) command += ":" + std::to_string(ch);
  }
  std::istringstream lists(test::RunCommand(command));
  test::AppFolderScope app;
  for (const auto& c : cases) {
    std::string line;
    ASSERT_TRUE(std::getline(lists, line)) << "no list for " << test::U8(c.name);
    Text list;
    std::istringstream codes(line);
    for (int code; codes >> code;) list += static_cast<char16_t>(code);
    FeatureGrid grid;
    grid.SetCols(1);
    StringToGrid(grid, list, 0);
    const Text& n = c.readsAs;
    EXPECT_EQ(RowsOf(grid), Padded({{n, n}, {n, u"", n}, {}, {n, n}, {}}, 3))
        << test::U8(c.name) << " as " << test::U8(list);
  }
  EXPECT_TRUE(app.LogLines().empty());
}
#endif

TEST(getintoarr, PairCountingWithTheEndOfTextRule) {
  struct Case {
    TextArray pieces;
    TextArray resolved;
  } cases[] = {
      {{u"a", u"", u"", u"b"}, {u"a/", u"", u"", u"b"}},
      {{u"a", u"", u""}, {u"a/", u"", u""}},
      {{u"a", u"", u"", u""}, {u"a//", u"", u"", u""}},
      {{u"", u"", u"b"}, {u"/b", u"", u""}},
      {{u"x", u"", u"y", u"z", u""}, {u"x/y", u"", u"", u"z", u""}},
      {{u"z", u"x", u"", u"y", u""}, {u"z", u"x/y/", u"", u"", u""}},
      {{u"only"}, {u"only"}},
      {{}, {}},
  };
  for (auto& c : cases) {
    TextArray pieces = c.pieces;
    getintoarr(pieces, u"/");
    EXPECT_EQ(pieces, c.resolved);
  }
}

// The loader in its plainest form: every level split into copies and
// resolved with getintoarr. The real loader works on views of the list for
// speed and must load every list exactly as this does.
void ReferenceStringToGrid(FeatureGrid& grid, const Text& list, std::int16_t suppressGap) {
  auto split = [](const Text& text, char16_t separator) {
    TextArray pieces;
    if (text.empty()) return pieces;
    size_t start = 0;
    for (;;) {
      size_t at = text.find(separator, start);
      pieces.push_back(text.substr(start, at == Text::npos ? Text::npos : at - start));
      if (at == Text::npos) return pieces;
      start = at + 1;
    }
  };
  TextArray groups = split(list, u'>');
  getintoarr(groups, u">");
  for (const Text& group : groups) {
    TextArray rows = split(group, u'#');
    getintoarr(rows, u"#");
    for (const Text& row : rows) {
      TextArray cells = split(row, u'/');
      getintoarr(cells, u"/");
      Text line;
      for (const Text& cell : cells) {
        if (cell.empty()) continue;
        if (cell != u"?") line += cell;
        line += u'\t';
      }
      const auto tabs = static_cast<std::int32_t>(std::count(line.begin(), line.end(), u'\t'));
      if (grid.Cols() < tabs) grid.SetCols(tabs);
      if (row.empty()) continue;
      Text item;
      for (size_t i = 0; i < line.size(); ++i) {
        item += line[i];
        if (line[i] == u'?' && i + 1 < line.size() && line[i + 1] == u'?') ++i;
      }
      grid.AddItem(item);
    }
    if (!group.empty() && suppressGap == 0) grid.AddItem(Text());
  }
}

TEST(StringToGrid, LoadsEveryListAsThePlainSplitDoes) {
  // Short random lists over the characters that matter, where separator runs
  // of every length meet at every level.
  const char16_t alphabet[] = u"ab?/#>\t";
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  test::AppFolderScope app;
  for (int n = 0; n < 20000; ++n) {
    Text list;
    const std::uint32_t length = next() % 24;
    for (std::uint32_t k = 0; k < length; ++k) list += alphabet[next() % 7];
    const auto suppressGap = static_cast<std::int16_t>(next() % 2);
    FeatureGrid expected, actual;
    expected.SetCols(1);
    actual.SetCols(1);
    ReferenceStringToGrid(expected, list, suppressGap);
    StringToGrid(actual, list, suppressGap);
    ASSERT_EQ(actual.Cols(), expected.Cols()) << test::U8(list);
    ASSERT_EQ(RowsOf(actual), RowsOf(expected)) << test::U8(list);
  }
  EXPECT_TRUE(app.LogLines().empty());
}

}  // namespace
}  // namespace fl

namespace fl {
namespace {

TEST(StringToGrid, AWideRowDoesNotWidenEveryRowInMemory) {
  // 50,000 columns by 50,000 rows would be 2.5 billion cells if every row
  // held every column; a hostile service must not be able to ask for that.
  test::AppFolderScope app;
  Text list;
  for (int i = 0; i < 50000; ++i) list += u"?/";
  for (int i = 0; i < 50000; ++i) list += u"#a";
  FeatureGrid grid;
  StringToGrid(grid, list, 0);
  EXPECT_EQ(grid.Cols(), 50000);
  ASSERT_EQ(grid.Rows(), 50002);
  EXPECT_EQ(grid.TextMatrix(50000, 0), u"a");
  EXPECT_EQ(grid.TextMatrix(50000, 49999), u"");
  grid.SetCols(26);
  EXPECT_EQ(grid.TextMatrix(1, 25), u"");
  EXPECT_TRUE(app.LogLines().empty());
}

}  // namespace
}  // namespace fl
