// Pieces shared by the reading and writing modes of FileReadWrite, private to
// the record store. Each mode returns the call's result; failures are thrown
// to FileReadWrite's handler.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"
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

// The records of a file one at a time, each looked at where it lies in the
// reader's buffer rather than copied out cell by cell.
class RecordWalker {
 public:
  RecordWalker(ByteReader& in, std::size_t cells) : in_(in), starts_(cells + 1) {}

  // Reads the next record whole; false at the end of the file; fails with
  // "Input past end of file" when the file ends inside the record. Its cells
  // stay readable until the next call. While it walks, the walker is the
  // reader's only user: it keeps what the reader has shown past the record.
  bool Next();
  std::size_t Cells() const { return starts_.size() - 1; }
  std::string_view Cell(std::size_t k) const {
    return {base_ + starts_[k] + 2, starts_[k + 1] - starts_[k] - 2};
  }

 private:
  ByteReader& in_;
  std::vector<std::size_t> starts_;  // where each cell's count lies, then the record's end
  const char* base_ = nullptr;
  std::string_view shown_;
};

// Fills rec (LastCol + 1 cells); fails with "Input past end of file" when the
// file ends inside the record.
void ReadRecord(ByteReader& in, RawRecord& rec);
// Fails, writing nothing of the record, when a cell is too long for its count.
void WriteRecord(ByteWriter& out, const RawRecord& rec);
// The cells of a record as stored, appended to bytes with their counts, the
// way WriteRecord writes them, from the cells' texts; fails, appending nothing
// of the record, when a cell is too long for its count.
class RecordEncoder {
 public:
  explicit RecordEncoder(bool encrypted) : encrypted_(encrypted) {}
  // Starts a record.
  void Clear() {
    bytes_.clear();
    tooLong_ = 0;
  }
  void Add(const Text& text);
  // The record's bytes; fails on a cell too long, the first one added.
  const std::string& Bytes() const;

 private:
  bool encrypted_;
  std::string bytes_;
  std::size_t tooLong_ = 0;
};

// A stored cell as text, deciphered when the file is enciphered; and back.
Text CellText(std::string_view stored, bool encrypted);
std::string StoredCell(const Text& text, bool encrypted);
Text Decipher(const Text& text);
Text Encipher(const Text& text);
TextArray RecordText(const RawRecord& rec);

// Element i of an array of size n; "Subscript out of range" outside it.
inline std::size_t Subscript(long i, std::size_t n) {
  if (i < 0 || static_cast<std::size_t>(i) >= n) Fail(desc::kSubscript);
  return static_cast<std::size_t>(i);
}

// KeyEquals of each stored key cell against one call's key, for a search
// through a whole file: the key is trimmed and upper-cased once, and a plain
// stored cell is compared unit by unit without building texts; in a
// single-byte code page, byte by byte where it lies.
class KeyMatcher {
 public:
  KeyMatcher(const Text& keyValue, bool encrypted);
  bool Matches(std::string_view stored) {
    if (singleByte_) {
      const bool matched = MatchesBytes(stored);
      if (singleByte_) return matched;
    }
    return MatchesText(stored);
  }

 private:
  bool MatchesBytes(std::string_view stored) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(stored.data());
    std::size_t first = 0, last = stored.size();
    while (first < last && CharOf(bytes[first]) == u' ') ++first;
    while (last > first && CharOf(bytes[last - 1]) == u' ') --last;
    if (first == last) return wanted_.empty();
    if (last - first != wanted_.size()) return false;
    for (std::size_t i = 0; i < wanted_.size(); ++i) {
      if (UpperOf(bytes[first + i]) != wanted_[i]) return false;
    }
    return true;
  }
  bool MatchesText(std::string_view stored);
  // Each byte's character and its upper case, worked out the first time the
  // byte is met: a file's keys hold few different bytes, and the upper case
  // of a character past ASCII costs loading the case tables.
  char16_t CharOf(unsigned char b) {
    if (!(known_[b] & kChar)) LearnChar(b);
    return char_[b];
  }
  char16_t UpperOf(unsigned char b) {
    if (!(known_[b] & kUpper)) LearnUpper(b);
    return upper_[b];
  }
  void LearnChar(unsigned char b);
  void LearnUpper(unsigned char b);

  static constexpr unsigned char kChar = 1, kUpper = 2;

  const Text& keyValue_;
  bool encrypted_;
  bool singleByte_;
  Text wanted_;   // the key, trimmed and upper-cased
  Text scratch_;  // the stored cell as text, reused
  std::array<unsigned char, 256> known_{};
  std::array<char16_t, 256> char_{}, upper_{};
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
