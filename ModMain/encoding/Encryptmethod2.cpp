#include <algorithm>
#include <string>

#include "ModMain/encoding/Encrypt.h"
#include "ModMain/errorlog/Guarded.h"
#include "platform/codepage.h"

namespace fl {

namespace {

Text EncodeGroup(std::int16_t code) {
  std::string digits = std::to_string(code < 0 ? -static_cast<long>(code) : code);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  if (code < 0) digits.insert(0, 1, '-');
  std::reverse(digits.begin(), digits.end());
  return Text(digits.begin(), digits.end());
}

// Reads a reversed group as an integer, leading zeros allowed; anything but
// an optional sign and digits is no number.
long DecodeGroup(Text group) {
  std::reverse(group.begin(), group.end());
  size_t i = 0;
  bool negative = false;
  if (i < group.size() && (group[i] == u'-' || group[i] == u'+')) negative = group[i++] == u'-';
  if (i == group.size()) Fail(desc::kTypeMismatch);
  long value = 0;
  for (; i < group.size(); ++i) {
    if (group[i] < u'0' || group[i] > u'9') Fail(desc::kTypeMismatch);
    value = value * 10 + (group[i] - u'0');
  }
  return negative ? -value : value;
}

}  // namespace

Text Encryptmethod2(const Text& text, const std::uint8_t& direction) {
  Text result;
  Guarded(u"Encryptmethod2", [&] {
    const long length = static_cast<long>(text.size());
    Text built;
    if (direction == 0) {
      built.reserve(text.size() * 3);
      For16(1, length, 1, [&](std::int16_t pos) {
        built += EncodeGroup(AnsiCode(text[static_cast<size_t>(pos - 1)]));
      });
    } else {
      For16(1, length, 3, [&](std::int16_t pos) {
        built += AnsiChar(DecodeGroup(text.substr(static_cast<size_t>(pos - 1), 3)));
      });
    }
    result = std::move(built);  // no partial output on failure
  });
  return result;
}

}  // namespace fl
