// GetLastError() to the system's failure descriptions, and the system's
// 16-bit text to and from the wide strings of the W functions.
#pragma once

#include <windows.h>

#include <string>

// The platform headers name some operations as the system does; the W forms
// are called by their full names here.
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef ShellExecute

#include "platform/failure.h"

namespace fl::win32 {

Text DescribeError(DWORD error);
[[noreturn]] void ThrowError(DWORD error);
[[noreturn]] void ThrowLastError();

// Both are UTF-16 on Windows.
std::wstring Wide(const Text& text);
Text FromWide(const wchar_t* text, std::size_t length);
Text FromWide(const std::wstring& text);

// A path for the W functions; fails on an embedded NUL, which would cut the
// path short at the OS.
std::wstring WidePath(const Text& path);

}  // namespace fl::win32
