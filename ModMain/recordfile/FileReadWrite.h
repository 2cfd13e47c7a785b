#pragma once

#include <cstdint>

#include "platform/grid.h"
#include "platform/types.h"

namespace fl {

// The keyed flat-file store. RWMode "R" finds the first record whose key cell
// matches KeyValue and copies it to RecArray; "RA" loads every record into
// Grid; "W" inserts or updates the record keyed KeyValue; "WA" saves every row
// of Grid. A record is LastCol + 1 cells, each a 16-bit little-endian byte
// count followed by the cell's ANSI bytes. PrimaryKey is a column number or
// "PRYKEY:" and a column name found in the file's first (header) record.
VBool FileReadWrite(const Text& FilePath, const VBool& Encrypted, std::int16_t LastCol,
                    const Text& KeyValue, const Text& RWMode, TextArray& RecArray,
                    const Text& ColList, FeatureGrid* Grid, const Text& PrimaryKey,
                    Text& HeaderText);

// Index of the first cell of ColArray equal to ColName by the key comparison,
// -1 when none is.
std::int16_t GetColNumFromArray(const Text& ColName, const TextArray& ColArray,
                                const VBool& Encrypted);

}  // namespace fl
