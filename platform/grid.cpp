#include "platform/grid.h"

#include "platform/failure.h"

namespace fl {

void FeatureGrid::SetRows(std::int32_t n) {
  if (n < 0) Fail(desc::kInvalidProperty);
  rows_.resize(static_cast<size_t>(n), TextArray(static_cast<size_t>(cols_)));
}

void FeatureGrid::SetCols(std::int32_t n) {
  if (n < 0) Fail(desc::kInvalidProperty);
  for (auto& row : rows_) row.resize(static_cast<size_t>(n));
  cols_ = n;
}

void FeatureGrid::AddItem(const Text& text) {
  TextArray row(static_cast<size_t>(cols_));
  size_t start = 0;
  for (size_t col = 0; col < row.size(); ++col) {
    size_t tab = text.find(u'\t', start);
    row[col] = text.substr(start, tab == Text::npos ? Text::npos : tab - start);
    if (tab == Text::npos) break;
    start = tab + 1;
  }
  rows_.push_back(std::move(row));
}

void FeatureGrid::CheckCell(std::int32_t row, std::int32_t col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) Fail(desc::kSubscript);
}

const Text& FeatureGrid::TextMatrix(std::int32_t row, std::int32_t col) const {
  CheckCell(row, col);
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void FeatureGrid::SetTextMatrix(std::int32_t row, std::int32_t col, const Text& text) {
  CheckCell(row, col);
  rows_[static_cast<size_t>(row)][static_cast<size_t>(col)] = text;
}

}  // namespace fl
