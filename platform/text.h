// Text helpers that depend on the platform's character tables.
#pragma once

#include "platform/types.h"

namespace fl {

// The system's upper-case conversion of a whole text, unit by unit.
Text UpperText(const Text& text);

// The same conversion of one unit.
char16_t UpperUnit(char16_t ch);

}  // namespace fl
