// What each backend gives the shared code-page functions (platform/codepage.cpp):
// one character of the ANSI code page each way.
#pragma once

#include <string>

namespace fl::os {

// True when every character of the ANSI code page is one byte.
bool AnsiPageIsSingleByte();
// The bytes of ch in the ANSI code page; false when the page lacks it.
bool AnsiBytesOf(char16_t ch, std::string* bytes);
// The character that bytes make in the ANSI code page; false unless they
// make exactly one.
bool AnsiCharOf(const std::string& bytes, char16_t* ch);

}  // namespace fl::os
