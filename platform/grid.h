// FeatureGrid: the table of text cells through which the feature list travels.
// The grid is never visible, so a plain in-memory table serves on every
// platform. Counts are 32-bit; every row and column holds data. Each row keeps
// only the cells up to its last one written; the rest read as empty, so a
// list with one very wide row costs no more than its own text.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace fl {

class FeatureGrid {
 public:
  std::int32_t Rows() const { return static_cast<std::int32_t>(rows_.size()); }
  std::int32_t Cols() const { return cols_; }

  // Keeps the first n rows (or columns) and pads with empty ones up to n.
  void SetRows(std::int32_t n);
  void SetCols(std::int32_t n);

  // Appends a row whose cells are the TAB-separated pieces of text; pieces
  // past the last column are dropped.
  void AddItem(const Text& text);
  // Appends a row of cells as they are, cut or padded to the column count.
  void AddRow(TextArray cells);

  const Text& TextMatrix(std::int32_t row, std::int32_t col) const;
  void SetTextMatrix(std::int32_t row, std::int32_t col, const Text& text);
  void SetTextMatrix(std::int32_t row, std::int32_t col, Text&& text);

 private:
  void CheckCell(std::int32_t row, std::int32_t col) const;

  Text& Cell(std::int32_t row, std::int32_t col);

  std::vector<TextArray> rows_;  // each at most cols_ cells long
  std::int32_t cols_ = 0;
};

}  // namespace fl
