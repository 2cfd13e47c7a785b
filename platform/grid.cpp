#include "platform/grid.h"

#include "platform/failure.h"

namespace fl {

namespace {

const Text kEmptyCell;

}  // namespace

void FeatureGrid::SetRows(std::int32_t n) {
  if (n < 0) Fail(desc::kInvalidProperty);
  rows_.resize(static_cast<size_t>(n));
}

void FeatureGrid::SetCols(std::int32_t n) {
  if (n < 0) Fail(desc::kInvalidProperty);
  for (auto& row : rows_) {
    if (row.size() > static_cast<size_t>(n)) row.resize(static_cast<size_t>(n));
  }
  cols_ = n;
}

void FeatureGrid::AddItem(const Text& text) {
  TextArray row;
  size_t start = 0;
  for (std::int32_t col = 0; col < cols_; ++col) {
    size_t tab = text.find(u'\t', start);
    row.push_back(text.substr(start, tab == Text::npos ? Text::npos : tab - start));
    if (tab == Text::npos) break;
    start = tab + 1;
  }
  rows_.push_back(std::move(row));
}

void FeatureGrid::AddRow(TextArray cells) {
  if (cells.size() > static_cast<size_t>(cols_)) cells.resize(static_cast<size_t>(cols_));
  rows_.push_back(std::move(cells));
}

void FeatureGrid::CheckCell(std::int32_t row, std::int32_t col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) Fail(desc::kSubscript);
}

const Text& FeatureGrid::TextMatrix(std::int32_t row, std::int32_t col) const {
  CheckCell(row, col);
  const TextArray& cells = rows_[static_cast<size_t>(row)];
  return static_cast<size_t>(col) < cells.size() ? cells[static_cast<size_t>(col)] : kEmptyCell;
}

Text& FeatureGrid::Cell(std::int32_t row, std::int32_t col) {
  CheckCell(row, col);
  TextArray& cells = rows_[static_cast<size_t>(row)];
  if (static_cast<size_t>(col) >= cells.size()) cells.resize(static_cast<size_t>(col) + 1);
  return cells[static_cast<size_t>(col)];
}

void FeatureGrid::SetTextMatrix(std::int32_t row, std::int32_t col, const Text& text) {
  Cell(row, col) = text;
}

void FeatureGrid::SetTextMatrix(std::int32_t row, std::int32_t col, Text&& text) {
  Cell(row, col) = std::move(text);
}

}  // namespace fl
