// Page encodings converted with MultiByteToWideChar, which knows every
// Windows code page; UTF-16 is read here, since it has no code page there.
#include <windows.h>

#include <string_view>

#include "platform/failure.h"
#include "platform/http/charset.h"
#include "platform/utf8.h"

namespace fl::http {

namespace {

constexpr UINT kUtf16Le = 1200, kUtf16Be = 1201;

struct CodePageLabel {
  std::string_view label;
  UINT codePage;
};

// The labels browsers know, by the code page that reads them.
constexpr CodePageLabel kLabels[] = {
    {"utf-8", CP_UTF8},
    {"utf8", CP_UTF8},
    {"unicode-1-1-utf-8", CP_UTF8},
    {"utf-16le", kUtf16Le},
    {"utf-16", kUtf16Le},
    {"utf-16be", kUtf16Be},
    {"windows-1250", 1250},
    {"windows-1251", 1251},
    {"windows-1252", 1252},
    {"windows-1253", 1253},
    {"windows-1254", 1254},
    {"windows-1255", 1255},
    {"windows-1256", 1256},
    {"windows-1257", 1257},
    {"windows-1258", 1258},
    {"cp1250", 1250},
    {"cp1251", 1251},
    {"cp1252", 1252},
    {"cp1253", 1253},
    {"cp1254", 1254},
    {"cp1255", 1255},
    {"cp1256", 1256},
    {"cp1257", 1257},
    {"cp1258", 1258},
    {"windows-874", 874},
    {"dos-874", 874},
    {"ibm866", 866},
    {"cp866", 866},
    {"iso-8859-2", 28592},
    {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},
    {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},
    {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},
    {"koi8-r", 20866},
    {"koi8-u", 21866},
    {"macintosh", 10000},
    {"x-mac-cyrillic", 10007},
    {"shift_jis", 932},
    {"shift-jis", 932},
    {"sjis", 932},
    {"windows-31j", 932},
    {"ms_kanji", 932},
    {"euc-jp", 20932},
    {"gbk", 936},
    {"gb18030", 54936},
    {"big5", 950},
    {"euc-kr", 949},
};

UINT CodePageOf(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const CodePageLabel& entry : kLabels) {
    if (entry.label == lower) return entry.codePage;
  }
  return 0;
}

Text FromUtf16(std::string_view bytes, bool bigEndian) {
  Text text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]),
               b = static_cast<unsigned char>(bytes[i + 1]);
    text += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  if (bytes.size() % 2 != 0) text += u'\uFFFD';
  return text;
}

}  // namespace

std::string EncodingForLabel(const std::string& label) {
  if (CodePageOf(label) == 0) return "";
  const UINT cp = CodePageOf(label);
  return cp == kUtf16Le || cp == kUtf16Be || IsValidCodePage(cp) ? label : "";
}

std::string ConvertToUtf8(std::string_view bytes, const std::string& encoding) {
  UINT cp = CodePageOf(encoding);
  if (cp == kUtf16Le || cp == kUtf16Be) return ToUtf8(FromUtf16(bytes, cp == kUtf16Be));
  if (cp == 0 || !IsValidCodePage(cp)) cp = 1252;
  if (bytes.empty()) return "";
  // Without MB_ERR_INVALID_CHARS a bad sequence becomes U+FFFD and decoding
  // goes on, and the holes of the Windows pages become the C1 controls.
  const int n = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(cp, 0, bytes.data(), n, nullptr, 0);
  if (size <= 0) return "";
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(cp, 0, bytes.data(), n, wide.data(), size);
  return ToUtf8(Text(wide.begin(), wide.end()));
}

}  // namespace fl::http
