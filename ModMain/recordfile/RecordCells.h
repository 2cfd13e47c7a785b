// Pieces shared by the reading and writing modes of FileReadWrite, private to
// the record store. Each mode returns the call's result; failures are thrown
// to FileReadWrite's handler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/grid.h"
#include "platform/text.h"
#include "platform/types.h"

namespace fl::recordfile {

// One record as stored: the bytes of each cell, without the counts.
using RawRecord = std::vector<std::string>;

// The arguments of one FileReadWrite call, as the modes use them.
struct Call {
  const Text& FilePath;
  bool encrypted;
  std::int16_t LastCol;
  const Text& KeyValue;
  TextArray& RecArray;
  const Text& ColList;
  FeatureGrid* Grid;
  const Text& PrimaryKey;
  Text& HeaderText;
};

bool ReadModeR(Call& call, RawRecord& buffer);
bool ReadModeRA(Call& call, RawRecord& buffer);
bool WriteModeW(Call& call, RawRecord& buffer);
bool WriteModeWA(Call& call, RawRecord& buffer);

// Fills rec (LastCol + 1 cells); fails with "Input past end of file" when the
// file ends inside the record.
void ReadRecord(ByteReader& in, RawRecord& rec);
// Fails, writing nothing of the record, when a cell is too long for its count.
void WriteRecord(ByteWriter& out, const RawRecord& rec);

// A stored cell as text, deciphered when the file is enciphered; and back.
Text CellText(const std::string& stored, bool encrypted);
std::string StoredCell(const Text& text, bool encrypted);
Text Decipher(const Text& text);
Text Encipher(const Text& text);
TextArray RecordText(const RawRecord& rec);

// Element i of an array of size n; "Subscript out of range" outside it.
std::size_t Subscript(long i, std::size_t n);

// KeyEquals of each stored key cell against one call's key, for a search
// through a whole file: the key is trimmed and upper-cased once, and a plain
// stored cell is compared unit by unit without building texts.
class KeyMatcher {
 public:
  KeyMatcher(const Text& keyValue, bool encrypted);
  bool Matches(const std::string& stored);

 private:
  const Text& keyValue_;
  bool encrypted_;
  Text wanted_;   // the key, trimmed and upper-cased
  Text scratch_;  // the stored cell as text, reused
};

// The column a numeric key-column text names: the number at its start, rounded
// half to even; "Overflow" outside the 16-bit range.
std::int16_t NumericColumn(const Text& text);

// The key column of a call, worked out after its file is opened. With a
// header row, that row is read into raw and, as text, into header.
struct KeyColumn {
  long column = -1;
  bool headerRead = false;
};
KeyColumn ReadKeyColumn(Call& call, ByteReader& in, RawRecord& raw, TextArray& header);

bool IsHeaderSpec(const Text& primaryKey);
Text HeaderColumnName(const Text& primaryKey);
Text BuildHeaderText(const TextArray& header);

}  // namespace fl::recordfile
