#pragma once

#include <cstdint>

#include "platform/grid.h"
#include "platform/types.h"

namespace fl {

// Appends the rows of a feature-list string to TargetGrid. The string has
// three levels: groups split at ">", rows at "#", cells at "/"; a separator
// that belongs to the text is doubled at its own level, "?" alone is an empty
// cell and "??" stands for "?". With SuppressGap 0 a blank row follows every
// non-empty group.
void StringToGrid(FeatureGrid& TargetGrid, const Text& ListText, std::int16_t SuppressGap);

// Resolves doubled separators in the pieces of one split, in place; pieces
// glued onto their neighbour are left empty.
void getintoarr(TextArray& Pieces, const Text& Separator);

}  // namespace fl
