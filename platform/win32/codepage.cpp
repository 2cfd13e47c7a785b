// The ANSI code page on Windows: the system's own, converted with
// WideCharToMultiByte and MultiByteToWideChar.
#include "platform/codepage.h"

#include <atomic>

#include "platform/codepage_os.h"
#include "platform/utf8.h"
#include "platform/win32/oserror.h"

namespace fl {

namespace {

std::atomic<int> gChosen{0};  // 0: the system's

UINT Current() {
  const int chosen = gChosen.load(std::memory_order_relaxed);
  return chosen != 0 ? static_cast<UINT>(chosen) : GetACP();
}

bool IsSingleByte(UINT cp) {
  CPINFO info;
  return GetCPInfo(cp, &info) && info.MaxCharSize == 1;
}

// The system's text and wide strings are both UTF-16 here, so conversions
// read and write the texts' own storage.
const wchar_t* WideOf(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

// UTF-8 takes neither flags nor a default character.
std::string Encode(UINT cp, const wchar_t* text, int n, bool* substituted) {
  if (n == 0) return {};
  const bool utf8 = cp == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used = FALSE;
  BOOL* usedOut = utf8 ? nullptr : &used;
  // At most two bytes a unit in the ANSI pages, three in UTF-8.
  std::string out(static_cast<size_t>(n) * (utf8 ? 3 : 2), '\0');
  const int size = WideCharToMultiByte(cp, flags, text, n, out.data(), static_cast<int>(out.size()),
                                       utf8 ? nullptr : "?", usedOut);
  if (size <= 0) win32::ThrowLastError();
  out.resize(static_cast<size_t>(size));
  if (substituted != nullptr) *substituted = used != FALSE;
  return out;
}

}  // namespace

int AnsiCodePage() {
  return static_cast<int>(Current());
}

void SetAnsiCodePage(int codePage) {
  if (codePage <= 0 || !IsValidCodePage(static_cast<UINT>(codePage))) {
    Fail(u"No conversion for code page " + FromUtf8(std::to_string(codePage)));
  }
  gChosen = codePage;
}

std::string ToAnsi(const Text& text) {
  return Encode(Current(), WideOf(text), static_cast<int>(text.size()), nullptr);
}

void AppendAnsi(const Text& text, std::string& out) {
  if (text.empty()) return;
  const UINT cp = Current();
  const int n = static_cast<int>(text.size());
  // At most two bytes a unit in the ANSI pages, three in UTF-8.
  const size_t at = out.size();
  out.resize(at + text.size() * (cp == CP_UTF8 ? 3 : 2));
  const bool utf8 = cp == CP_UTF8;
  const int size =
      WideCharToMultiByte(cp, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, WideOf(text), n, out.data() + at,
                          static_cast<int>(out.size() - at), utf8 ? nullptr : "?", nullptr);
  if (size <= 0) win32::ThrowLastError();
  out.resize(at + static_cast<size_t>(size));
}

void FromAnsi(const char* bytes, size_t n, Text& out) {
  out.clear();
  if (n == 0) return;
  // No byte of an ANSI page, nor of UTF-8, makes more than one unit.
  out.resize(n);
  const int size =
      MultiByteToWideChar(Current(), 0, bytes, static_cast<int>(n),
                          reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()));
  if (size <= 0) win32::ThrowLastError();
  out.resize(static_cast<size_t>(size));
}

bool os::AnsiPageIsSingleByte() {
  return IsSingleByte(Current());
}

bool os::AnsiBytesOf(char16_t ch, std::string* bytes) {
  const wchar_t wide = static_cast<wchar_t>(ch);
  bool substituted = false;
  *bytes = Encode(Current(), &wide, 1, &substituted);
  return !substituted;
}

bool os::AnsiCharOf(const std::string& bytes, char16_t* ch) {
  const UINT cp = Current();
  // A single byte always decodes; a pair must be one whole character.
  const DWORD flags = bytes.size() == 1 && IsSingleByte(cp) ? 0 : MB_ERR_INVALID_CHARS;
  wchar_t out[4];
  const int n =
      MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out, 4);
  if (n != 1) return false;
  *ch = static_cast<char16_t>(out[0]);
  return true;
}

}  // namespace fl
