// Basic types shared by the system's code and every platform backend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fl {

// All text inside the system is held as 16-bit characters; the ANSI code page
// appears only at the outside boundaries, converted in platform/.
using Text = std::u16string;

// Booleans travel as 16-bit integers: true is -1, false is 0.
using VBool = std::int16_t;
inline constexpr VBool kTrue = -1;
inline constexpr VBool kFalse = 0;

// A window's handle as the platform gives it (an HWND, an X window id).
using WindowHandle = std::intptr_t;

// A string array with lower bound 0, as the record store and loader pass them.
using TextArray = std::vector<Text>;

}  // namespace fl
