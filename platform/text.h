// Text helpers that depend on the platform's character tables.
#pragma once

#include "platform/types.h"

namespace fl {

// The system's upper-case conversion of a whole text, unit by unit.
Text UpperText(const Text& text);

// The same conversion of one unit.
char16_t UpperUnit(char16_t ch);

// The text without spaces (U+0020 only) at both ends.
Text TrimSpaces(const Text& text);

// The comparison of record keys, column names and the product column: both
// texts trimmed of spaces and upper-cased, then identical.
bool KeyEquals(const Text& a, const Text& b);

}  // namespace fl
