#include "ModMain/featurelist/StringToGrid.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string_view>

#include "ModMain/errorlog/Guarded.h"
#include "ModMain/featurelist/Scan.h"

namespace fl {

namespace {

using featurelist::FindUnit;
using featurelist::HasEither;

// The loader splits each level and glues doubled separators back exactly as
// getintoarr does, but on views of the list: copying every piece at every
// level made a list of megabytes cost three copies of itself and more. Only a
// piece that separators are glued into gets a text of its own.
struct Piece {
  std::u16string_view text;
  Text* own = nullptr;  // in the loader's store once glued
};

using Store = std::deque<Text>;  // keeps its elements in place as it grows

// n separators give n + 1 pieces, empty ones included; the empty text gives
// no piece at all.
void SplitViews(std::u16string_view text, char16_t separator, std::vector<Piece>& pieces) {
  pieces.clear();
  if (text.empty()) return;
  size_t start = 0;
  for (;;) {
    size_t at = FindUnit(text, start, separator);
    if (at == std::u16string_view::npos) {
      pieces.push_back({text.substr(start)});
      return;
    }
    pieces.push_back({text.substr(start, at - start)});
    start = at + 1;
  }
}

bool IsEmpty(const Piece& piece) {
  return piece.text.empty();
}
bool IsEmpty(const Text& piece) {
  return piece.empty();
}

// getintoarr's rule, for pieces that are texts or views of the list; glue
// appends a text to a piece.
template <class Array, class Glue>
void JoinDoubled(Array& pieces, std::u16string_view separator, Glue glue) {
  Guarded(u"getintoarr", [&] {
    const long upper = static_cast<long>(pieces.size()) - 1;
    const long last = upper - 1;
    long i = 1;
    while (i <= last) {
      if (IsEmpty(pieces[static_cast<size_t>(i)])) {
        auto& joined = pieces[static_cast<size_t>(i - 1)];
        long j = i;
        do {
          if (!IsEmpty(pieces[static_cast<size_t>(j)])) break;
          glue(joined, separator);
          if (j + 1 <= upper) {
            auto& next = pieces[static_cast<size_t>(j + 1)];
            glue(joined, next);
            next = {};
          }
          j += 2;
        } while (j <= upper);
        i = j - 1;
      }
      ++i;
    }
  });
}

// The views a list is split into: only a piece that separators are glued
// into gets a text of its own, in store.
void getintoarr(std::vector<Piece>& Pieces, char16_t Separator, Store& store) {
  struct Glue {
    Store& store;
    void operator()(Piece& joined, std::u16string_view tail) const {
      if (joined.own == nullptr) joined.own = &store.emplace_back(joined.text);
      joined.own->append(tail);
      joined.text = *joined.own;
    }
    void operator()(Piece& joined, const Piece& next) const { (*this)(joined, next.text); }
  };
  JoinDoubled(Pieces, std::u16string_view(&Separator, 1), Glue{store});
}

// A cell's text with each "??" read as "?".
void AssignResolved(Text& cell, std::u16string_view text) {
  size_t mark = text.find(u"??");
  if (mark == std::u16string_view::npos) {
    cell.assign(text);
    return;
  }
  cell.clear();
  cell.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    cell += text[i];
    if (text[i] == u'?' && i + 1 < text.size() && text[i + 1] == u'?') ++i;
  }
}

}  // namespace

void getintoarr(TextArray& Pieces, const Text& Separator) {
  JoinDoubled(Pieces, Separator, [](Text& joined, std::u16string_view tail) { joined += tail; });
}

// The grid takes each row as a TAB-separated line with "??" read as "?": the
// line of a row is every non-empty cell followed by a TAB, "?" standing for
// nothing. Its cells are put in place directly rather than written into a
// line and split again, which is the same thing done once.
void StringToGrid(FeatureGrid& TargetGrid, const Text& ListText, std::int16_t SuppressGap) {
  Guarded(u"StringToGrid", [&] {
    Store groupStore, rowStore, cellStore;
    std::vector<Piece> groups, rows, cells;
    std::vector<char> plain;
    SplitViews(ListText, u'>', groups);
    getintoarr(groups, u'>', groupStore);
    for (const Piece& group : groups) {
      rowStore.clear();
      SplitViews(group.text, u'#', rows);
      getintoarr(rows, u'#', rowStore);
      for (const Piece& row : rows) {
        cellStore.clear();
        SplitViews(row.text, u'/', cells);
        getintoarr(cells, u'/', cellStore);
        // Most cells hold neither a TAB nor a "?"; one look tells.
        plain.assign(cells.size(), 0);
        std::int32_t tabs = 0;
        for (size_t k = 0; k < cells.size(); ++k) {
          const std::u16string_view text = cells[k].text;
          if (text.empty()) continue;
          ++tabs;
          if (!HasEither(text, u'\t', u'?')) {
            plain[k] = 1;
          } else if (text != u"?") {
            tabs += static_cast<std::int32_t>(std::count(text.begin(), text.end(), u'\t'));
          }
        }
        if (TargetGrid.Cols() < tabs) TargetGrid.SetCols(tabs);
        if (row.text.empty()) continue;
        // Only the cells this row has are stored; the grid reads the rest as
        // empty, so one wide row does not make every row wide.
        const size_t width = static_cast<size_t>(TargetGrid.Cols());
        TextArray line;
        auto slot = [&line](size_t at) -> Text& {
          if (line.size() <= at) line.resize(at + 1);
          return line[at];
        };
        size_t col = 0;
        for (size_t k = 0; k < cells.size(); ++k) {
          const std::u16string_view text = cells[k].text;
          if (text.empty()) continue;
          if (plain[k]) {
            if (col < width) slot(col).assign(text);
            ++col;
            continue;
          }
          if (text == u"?") {
            ++col;
            continue;
          }
          // A TAB inside a cell's text ends a grid cell too.
          size_t start = 0;
          for (;;) {
            const size_t tab = text.find(u'\t', start);
            const size_t end = tab == std::u16string_view::npos ? text.size() : tab;
            if (col < width) AssignResolved(slot(col), text.substr(start, end - start));
            ++col;
            if (tab == std::u16string_view::npos) break;
            start = tab + 1;
          }
        }
        TargetGrid.AddRow(std::move(line));
      }
      if (!group.text.empty() && SuppressGap == 0) TargetGrid.AddItem(Text());
    }
  });
}

}  // namespace fl
