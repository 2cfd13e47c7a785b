// FeatureGrid: the table behaviour its callers rely on.
#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/grid.h"

namespace fl {
namespace {

std::vector<Text> Row(const FeatureGrid& g, std::int32_t r) {
  std::vector<Text> cells;
  for (std::int32_t c = 0; c < g.Cols(); ++c) cells.push_back(g.TextMatrix(r, c));
  return cells;
}

TEST(FeatureGrid, AddItemSplitsAtTabs) {
  struct Case {
    std::int32_t cols;
    Text item;
    std::vector<Text> cells;
  } cases[] = {
      {2, u"x\ty\t", {u"x", u"y"}},     {3, u"x", {u"x", u"", u""}},
      {2, u"a\tb\tc\td", {u"a", u"b"}}, {3, u"", {u"", u"", u""}},
      {3, u"\t\tz", {u"", u"", u"z"}},  {0, u"a\tb", {}},
  };
  for (const auto& c : cases) {
    FeatureGrid g;
    g.SetCols(c.cols);
    g.AddItem(c.item);
    ASSERT_EQ(g.Rows(), 1);
    EXPECT_EQ(g.Cols(), c.cols);
    EXPECT_EQ(Row(g, 0), c.cells);
  }
}

TEST(FeatureGrid, RowsWriteKeepsDropsAndPads) {
  FeatureGrid g;
  g.SetCols(2);
  g.AddItem(u"a\tb");
  g.AddItem(u"c\td");
  g.SetRows(g.Rows() + 1);
  EXPECT_EQ(Row(g, 2), (std::vector<Text>{u"", u""}));
  EXPECT_EQ(Row(g, 1), (std::vector<Text>{u"c", u"d"}));
  g.SetRows(1);
  EXPECT_EQ(g.Rows(), 1);
  EXPECT_EQ(Row(g, 0), (std::vector<Text>{u"a", u"b"}));
  g.SetRows(0);
  EXPECT_EQ(g.Rows(), 0);
  g.AddItem(u"e");
  EXPECT_EQ(g.Rows(), 1);
  EXPECT_EQ(g.TextMatrix(0, 0), u"e");
}

TEST(FeatureGrid, ColsWriteWidensAndCuts) {
  FeatureGrid g;
  g.SetCols(30);
  Text item;
  for (int i = 0; i < 30; ++i) item += Text(1, static_cast<char16_t>(u'A' + i % 26)) + u"\t";
  g.AddItem(item);
  g.SetCols(26);
  EXPECT_EQ(g.TextMatrix(0, 25), u"Z");
  EXPECT_THROW(g.TextMatrix(0, 26), Failure);
  g.SetCols(3);
  g.SetCols(26);
  EXPECT_EQ(g.TextMatrix(0, 2), u"C");
  EXPECT_EQ(g.TextMatrix(0, 3), u"");
  EXPECT_EQ(g.TextMatrix(0, 25), u"");
}

TEST(FeatureGrid, AddRowCutsAndPadsToTheColumns) {
  FeatureGrid g;
  g.SetCols(3);
  g.AddRow({u"a", u"b", u"c", u"d"});
  g.AddRow({u"x"});
  g.AddRow({});
  ASSERT_EQ(g.Rows(), 3);
  EXPECT_EQ(Row(g, 0), (std::vector<Text>{u"a", u"b", u"c"}));
  EXPECT_EQ(Row(g, 1), (std::vector<Text>{u"x", u"", u""}));
  EXPECT_EQ(Row(g, 2), (std::vector<Text>{u"", u"", u""}));
}

TEST(FeatureGrid, OutOfRangeAccessAndNegativeCountsFail) {
  FeatureGrid g;
  g.SetCols(2);
  g.SetRows(2);
  g.SetTextMatrix(1, 1, u"v");
  EXPECT_EQ(g.TextMatrix(1, 1), u"v");
  EXPECT_THROW(g.TextMatrix(2, 0), Failure);
  EXPECT_THROW(g.TextMatrix(0, 2), Failure);
  EXPECT_THROW(g.TextMatrix(-1, 0), Failure);
  EXPECT_THROW(g.SetTextMatrix(0, -1, u"x"), Failure);
  EXPECT_THROW(g.SetRows(-1), Failure);
  EXPECT_THROW(g.SetCols(-1), Failure);
  EXPECT_EQ(g.Rows(), 2);
  EXPECT_EQ(g.Cols(), 2);
}

}  // namespace
}  // namespace fl
