// The system's ANSI code page: the one conversion between the system's 16-bit
// text and the bytes of record files, the error log and query values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"

namespace fl {

// The code page number in use for this process (1252, 932, ...).
int AnsiCodePage();

// Selects the code page for this process; for tests and tools. Fails when the
// platform has no conversion for it.
void SetAnsiCodePage(int codePage);

// True when every character of the code page is one byte, so that a text's
// bytes convert one by one.
bool AnsiPageIsSingleByte();

// Text to ANSI bytes; a character the code page cannot represent becomes "?".
std::string ToAnsi(const Text& text);
// The same appended to out: for writing record files without a string a cell.
void AppendAnsi(const Text& text, std::string& out);

// ANSI bytes to text.
Text FromAnsi(const std::string& bytes);
// The same into out, reusing its storage: for the cells of record files.
void FromAnsi(const std::string& bytes, Text& out);
// The same from n bytes where they lie, such as in a file's read buffer.
Text FromAnsi(const char* bytes, std::size_t n);
void FromAnsi(const char* bytes, std::size_t n, Text& out);

// The code of one character in the code page as a signed 16-bit number: 0 to
// 255 for a single byte, lead * 256 + trail (wrapped to 16 bits) for a
// double-byte character, 63 for a character the code page lacks.
std::int16_t AnsiCode(char16_t ch);

// The character with that code; fails with "Invalid procedure call or
// argument" when the code is no character of the code page.
Text AnsiChar(long code);

}  // namespace fl
