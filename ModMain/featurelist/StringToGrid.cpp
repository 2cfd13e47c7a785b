#include "ModMain/featurelist/StringToGrid.h"

#include "ModMain/errorlog/Guarded.h"

namespace fl {

namespace {

// n separators give n + 1 pieces, empty ones included; the empty text gives
// no piece at all.
TextArray Split(const Text& text, char16_t separator) {
  TextArray pieces;
  if (text.empty()) return pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == Text::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

Text ReplaceDoubledQuestionMarks(const Text& line) {
  Text out;
  out.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    out += line[i];
    if (line[i] == u'?' && i + 1 < line.size() && line[i + 1] == u'?') ++i;
  }
  return out;
}

}  // namespace

void getintoarr(TextArray& Pieces, const Text& Separator) {
  Guarded(u"getintoarr", [&] {
    const long upper = static_cast<long>(Pieces.size()) - 1;
    const long last = upper - 1;
    long i = 1;
    while (i <= last) {
      if (Pieces[static_cast<size_t>(i)].empty()) {
        Text& joined = Pieces[static_cast<size_t>(i - 1)];
        long j = i;
        do {
          if (!Pieces[static_cast<size_t>(j)].empty()) break;
          joined += Separator;
          if (j + 1 <= upper) {
            Text& next = Pieces[static_cast<size_t>(j + 1)];
            joined += next;
            next.clear();
          }
          j += 2;
        } while (j <= upper);
        i = j - 1;
      }
      ++i;
    }
  });
}

void StringToGrid(FeatureGrid& TargetGrid, const Text& ListText, std::int16_t SuppressGap) {
  Guarded(u"StringToGrid", [&] {
    TextArray groups = Split(ListText, u'>');
    getintoarr(groups, u">");
    for (const Text& group : groups) {
      TextArray rows = Split(group, u'#');
      getintoarr(rows, u"#");
      for (const Text& row : rows) {
        TextArray cells = Split(row, u'/');
        getintoarr(cells, u"/");
        Text line;
        std::int32_t tabs = 0;
        for (const Text& cell : cells) {
          if (cell.empty()) continue;
          if (cell != u"?") line += cell;
          line += u'\t';
        }
        for (char16_t ch : line) tabs += ch == u'\t';
        if (TargetGrid.Cols() < tabs) TargetGrid.SetCols(tabs);
        if (!row.empty()) TargetGrid.AddItem(ReplaceDoubledQuestionMarks(line));
      }
      if (!group.empty() && SuppressGap == 0) TargetGrid.AddItem(Text());
    }
  });
}

}  // namespace fl
