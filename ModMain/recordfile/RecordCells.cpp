#include "ModMain/recordfile/RecordCells.h"

#include <cmath>
#include <cstdlib>

#include "ModMain/encoding/Encrypt.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace fl::recordfile {

void ReadRecord(ByteReader& in, RawRecord& rec) {
  std::string count;
  for (auto& cell : rec) {
    in.Read(2, count);
    // Counts are unsigned: a cell may hold up to 65,535 bytes.
    size_t length = static_cast<unsigned char>(count[0]) |
                    (static_cast<size_t>(static_cast<unsigned char>(count[1])) << 8);
    in.Read(length, cell);
  }
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
  std::string bytes;
  for (const auto& cell : rec) {
    bytes += static_cast<char>(cell.size() & 0xFF);
    bytes += static_cast<char>(cell.size() >> 8);
    bytes += cell;
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
  return ToAnsi(encrypted ? Encipher(text) : text);
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

Text TrimSpaces(const Text& text) {
  size_t first = text.find_first_not_of(u' ');
  if (first == Text::npos) return Text();
  size_t last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

bool KeyEquals(const Text& a, const Text& b) {
  return UpperText(TrimSpaces(a)) == UpperText(TrimSpaces(b));
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
  double rounded =
      std::nearbyint(value);  // the default rounding sends halves to the even neighbour
  if (rounded < INT16_MIN || rounded > INT16_MAX) Fail(desc::kOverflow);
  return static_cast<std::int16_t>(rounded);
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
