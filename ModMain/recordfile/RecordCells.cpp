#include "ModMain/recordfile/RecordCells.h"

#include <cmath>
#include <cstdlib>

#include "ModMain/encoding/Encrypt.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace fl::recordfile {

namespace {

// Counts are unsigned: a cell may hold up to 65,535 bytes.
size_t CountAt(const char* bytes) {
  return static_cast<unsigned char>(bytes[0]) |
         (static_cast<size_t>(static_cast<unsigned char>(bytes[1])) << 8);
}

}  // namespace

bool RecordWalker::Next() {
  if (shown_.empty() && in_.AtEnd()) return false;
  // The counts are walked first, asking the reader for more only where the
  // bytes it shows run out, so that a file that ends inside the record fails
  // before any of it is looked at.
  const std::size_t cells = Cells();
  std::string_view shown = shown_;
  std::size_t at = 0;
  for (std::size_t k = 0; k < cells; ++k) {
    if (shown.size() < at + 2) shown = in_.Peek(at + 2);
    starts_[k] = at;
    at += 2 + CountAt(shown.data() + at);
  }
  starts_[cells] = at;
  if (shown.size() < at) shown = in_.Peek(at);
  base_ = shown.data();
  in_.Skip(at);
  shown_ = shown.substr(at);
  return true;
}

void ReadRecord(ByteReader& in, RawRecord& rec) {
  if (rec.empty()) return;
  RecordWalker walker(in, rec.size());
  if (!walker.Next()) Fail(desc::kPastEnd);
  for (size_t k = 0; k < rec.size(); ++k) rec[k].assign(walker.Cell(k));
}

namespace {

[[noreturn]] void FailCellTooLong(size_t bytes) {
  Fail(Text(desc::kOverflow) + u": a cell of " + FromUtf8(std::to_string(bytes)) +
       u" bytes does not fit a record file");
}

}  // namespace

void WriteRecord(ByteWriter& out, const RawRecord& rec) {
  for (const auto& cell : rec) {
    // A longer cell cannot be described by the count; refusing it keeps the
    // file readable.
    if (cell.size() > 0xFFFF) FailCellTooLong(cell.size());
  }
  size_t total = 0;
  for (const auto& cell : rec) total += 2 + cell.size();
  std::string bytes;
  bytes.reserve(total);
  for (const auto& cell : rec) {
    const char count[2] = {static_cast<char>(cell.size() & 0xFF),
                           static_cast<char>(cell.size() >> 8)};
    bytes.append(count, 2).append(cell);
  }
  out.Write(bytes);
}

void RecordEncoder::Add(const Text& text) {
  // The count goes in front once the cell's bytes are known.
  const size_t at = bytes_.size();
  bytes_.append(2, '\0');
  if (encrypted_) {
    AppendAnsi(Encipher(text), bytes_);
  } else {
    AppendAnsi(text, bytes_);
  }
  const size_t n = bytes_.size() - at - 2;
  if (n > 0xFFFF) {
    // Refused once every cell of the record is converted, as WriteRecord
    // refuses it, so that a cell the cipher fails on further on fails first.
    if (tooLong_ == 0) tooLong_ = n;
    return;
  }
  bytes_[at] = static_cast<char>(n & 0xFF);
  bytes_[at + 1] = static_cast<char>(n >> 8);
}

const std::string& RecordEncoder::Bytes() const {
  if (tooLong_ != 0) FailCellTooLong(tooLong_);
  return bytes_;
}

// The cipher gives up on texts longer than its counter and hands back
// nothing; failing here keeps that from passing as an empty cell.
Text Decipher(const Text& text) {
  if (text.size() > INT16_MAX) Fail(desc::kOverflow);
  const std::int16_t read = 1;
  return Encrypt(text, read);
}

Text Encipher(const Text& text) {
  if (text.size() > INT16_MAX) Fail(desc::kOverflow);
  const std::int16_t write = 0;
  return Encrypt(text, write);
}

Text CellText(std::string_view stored, bool encrypted) {
  return encrypted ? Decipher(FromAnsi(stored.data(), stored.size()))
                   : FromAnsi(stored.data(), stored.size());
}

std::string StoredCell(const Text& text, bool encrypted) {
  // Two calls rather than one on a conditional, which would copy text
  // whenever it is not enciphered.
  return encrypted ? ToAnsi(Encipher(text)) : ToAnsi(text);
}

TextArray RecordText(const RawRecord& rec) {
  TextArray out;
  out.reserve(rec.size());
  for (const auto& cell : rec) out.push_back(FromAnsi(cell));
  return out;
}

KeyMatcher::KeyMatcher(const Text& keyValue, bool encrypted)
    : keyValue_(keyValue),
      encrypted_(encrypted),
      singleByte_(!encrypted && AnsiPageIsSingleByte()),
      wanted_(UpperText(TrimSpaces(keyValue))) {}

void KeyMatcher::LearnChar(unsigned char b) {
  const char byte = static_cast<char>(b);
  FromAnsi(&byte, 1, scratch_);
  if (scratch_.size() != 1) {
    // Not a page of one character a byte after all: compare texts.
    singleByte_ = false;
    char_[b] = 0;
    return;
  }
  char_[b] = scratch_[0];
  known_[b] |= kChar;
}

void KeyMatcher::LearnUpper(unsigned char b) {
  upper_[b] = UpperUnit(CharOf(b));
  if (singleByte_) known_[b] |= kUpper;
}

bool KeyMatcher::MatchesText(std::string_view stored) {
  if (encrypted_) return KeyEquals(CellText(stored, true), keyValue_);
  FromAnsi(stored.data(), stored.size(), scratch_);
  const size_t first = scratch_.find_first_not_of(u' ');
  if (first == Text::npos) return wanted_.empty();
  const size_t length = scratch_.find_last_not_of(u' ') - first + 1;
  if (length != wanted_.size()) return false;
  for (size_t i = 0; i < length; ++i) {
    if (UpperUnit(scratch_[first + i]) != wanted_[i]) return false;
  }
  return true;
}

std::int16_t NumericColumn(const Text& text) {
  // Blanks, tabs and line feeds are ignored wherever they stand.
  std::string s;
  for (char16_t ch : text) {
    if (ch == u' ' || ch == u'\t' || ch == u'\n') continue;
    s += ch < 0x80 ? static_cast<char>(ch) : '\x01';
  }
  size_t i = 0;
  std::string number;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) number += s[i++];
  bool digits = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
    number += s[i++], digits = true;
  if (i < s.size() && s[i] == '.') {
    number += s[i++];
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      number += s[i++], digits = true;
  }
  if (digits && i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::string exponent = "e";
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    size_t start = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) exponent += s[j++];
    if (j > start) number += exponent;
  }
  double value = digits ? std::strtod(number.c_str(), nullptr) : 0.0;
  if (!std::isfinite(value)) Fail(desc::kOverflow);
  // No rounding brings a value from beyond these back into range.
  if (value < INT16_MIN - 1.0 || value > INT16_MAX + 1.0) Fail(desc::kOverflow);
  // Rounded as nearbyint does in the default mode, halves to the even
  // neighbour, but by hand: this one call was all the utility needed the
  // maths library for, and loading it costs every start-up. Within this range
  // the fraction is exact.
  long whole = static_cast<long>(value);  // toward zero
  const double fraction = value - static_cast<double>(whole);
  if (fraction > 0.5 || (fraction == 0.5 && whole % 2 != 0)) {
    ++whole;
  } else if (fraction < -0.5 || (fraction == -0.5 && whole % 2 != 0)) {
    --whole;
  }
  if (whole < INT16_MIN || whole > INT16_MAX) Fail(desc::kOverflow);
  return static_cast<std::int16_t>(whole);
}

bool IsHeaderSpec(const Text& primaryKey) {
  return UpperText(primaryKey).find(u"PRYKEY:") != Text::npos;
}

Text HeaderColumnName(const Text& primaryKey) {
  return primaryKey.size() > 7 ? primaryKey.substr(7) : Text();
}

Text BuildHeaderText(const TextArray& header) {
  Text out;
  for (const Text& cell : header) {
    if (cell.empty()) {
      out += u"?/";
      continue;
    }
    for (char16_t ch : cell) {
      out += ch;
      if (ch == u'/' || ch == u'?') out += ch;
    }
    out += u'/';
  }
  return out;
}

}  // namespace fl::recordfile
