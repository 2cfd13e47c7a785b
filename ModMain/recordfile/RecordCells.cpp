#include "ModMain/recordfile/RecordCells.h"

#include <cmath>
#include <cstdlib>

#include "ModMain/encoding/Encrypt.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace fl::recordfile {

namespace {

// Counts are unsigned: a cell may hold up to 65,535 bytes.
size_t CountAt(const char* bytes) {
  return static_cast<unsigned char>(bytes[0]) |
         (static_cast<size_t>(static_cast<unsigned char>(bytes[1])) << 8);
}

}  // namespace

void ReadRecord(ByteReader& in, RawRecord& rec) {
  if (rec.empty()) return;
  // Each cell is read together with the next cell's count: half as many
  // reads, the same bytes in the same order, so a file that ends inside the
  // record fails just the same.
  std::string count;
  in.Read(2, count);
  size_t length = CountAt(count.data());
  for (size_t k = 0; k + 1 < rec.size(); ++k) {
    std::string& cell = rec[k];
    in.Read(length + 2, cell);
    const size_t next = CountAt(cell.data() + length);
    cell.resize(length);
    length = next;
  }
  in.Read(length, rec.back());
}

void WriteRecord(ByteWriter& out, const RawRecord& rec) {
  for (const auto& cell : rec) {
    // A longer cell cannot be described by the count; refusing it keeps the
    // file readable.
    if (cell.size() > 0xFFFF) {
      Fail(Text(desc::kOverflow) + u": a cell of " + FromUtf8(std::to_string(cell.size())) +
           u" bytes does not fit a record file");
    }
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

Text CellText(const std::string& stored, bool encrypted) {
  return encrypted ? Decipher(FromAnsi(stored)) : FromAnsi(stored);
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

std::size_t Subscript(long i, std::size_t n) {
  if (i < 0 || static_cast<std::size_t>(i) >= n) Fail(desc::kSubscript);
  return static_cast<std::size_t>(i);
}

KeyMatcher::KeyMatcher(const Text& keyValue, bool encrypted)
    : keyValue_(keyValue), encrypted_(encrypted), wanted_(UpperText(TrimSpaces(keyValue))) {}

bool KeyMatcher::Matches(const std::string& stored) {
  if (encrypted_) return KeyEquals(CellText(stored, true), keyValue_);
  FromAnsi(stored, scratch_);
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
