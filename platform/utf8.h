// UTF-8 and the system's 16-bit text.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace fl {

// UTF-8 <-> UTF-16 for diagnostics, the window system and backends whose OS
// speaks UTF-8. Lone surrogates and bytes that are not UTF-8 become U+FFFD.
std::string ToUtf8(const Text& text);
Text FromUtf8(std::string_view bytes);

namespace utf8 {

// What DecodeAt gives for bytes that do not start a valid sequence.
inline constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point that starts at bytes[i], moving i past it; kInvalid, with i
// unmoved, for a bad lead byte, a sequence cut short, an overlong form, a
// surrogate or a value past U+10FFFF.
char32_t DecodeAt(std::string_view bytes, size_t& i);

// The code point at text[i] (a surrogate pair joined), moving i past it; a
// lone surrogate is returned as it is.
char32_t CodePointAt(const Text& text, size_t& i);

// bytes as text; each byte that does not start a valid sequence becomes
// forInvalid(byte), and decoding resumes at the next byte.
Text Decode(std::string_view bytes, char16_t (*forInvalid)(unsigned char byte));

void Append(std::string& out, char32_t c);  // as UTF-8
void Append(Text& out, char32_t c);         // as UTF-16

}  // namespace utf8

}  // namespace fl
