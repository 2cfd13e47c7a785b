// Page encodings converted with iconv.
#include <errno.h>
#include <iconv.h>

#include <string_view>

#include "platform/http/charset.h"

namespace fl::http {

namespace {

// Encodings the web reads as iconv's supersets of them.
struct Superset {
  std::string_view label;
  const char* encoding;
};
constexpr Superset kSupersets[] = {
    {"gbk", "GBK"},
    {"euc-kr", "CP949"},
    {"shift_jis", "CP932"},
    {"big5", "BIG5-HKSCS"},
};

void AppendCodePoint(std::string* out, unsigned c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at the start of s, or 0.
size_t SequenceLength(std::string_view s) {
  auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// glibc's converters let code points past U+10FFFF through, written the way
// UTF-8 once allowed; browsers make each byte of such a sequence U+FFFD.
void ReplaceIllFormed(std::string* text) {
  size_t at = 0, length;
  while (at < text->size() && (length = SequenceLength(std::string_view(*text).substr(at))) > 0) {
    at += length;
  }
  if (at == text->size()) return;
  std::string out = text->substr(0, at);
  while (at < text->size()) {
    length = SequenceLength(std::string_view(*text).substr(at));
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else {
      out.append(*text, at, length);
      at += length;
    }
  }
  *text = std::move(out);
}

}  // namespace

std::string EncodingForLabel(const std::string& label) {
  for (const Superset& s : kSupersets) {
    if (s.label == label) return s.encoding;
  }
  iconv_t probe = iconv_open("UTF-8", label.c_str());
  if (probe == reinterpret_cast<iconv_t>(-1)) return "";
  iconv_close(probe);
  return label;
}

std::string ConvertToUtf8(std::string_view in, const std::string& encoding) {
  std::string out;
  out.reserve(in.size() + in.size() / 2);
  iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // only if the system lost its converters
    for (unsigned char b : in) AppendCodePoint(&out, b);
    return out;
  }
  const bool c1Holes = encoding.rfind("windows-125", 0) == 0;
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  char chunk[16384];
  while (left > 0) {
    char* dst = chunk;
    size_t room = sizeof chunk;
    size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(chunk, static_cast<size_t>(dst - chunk));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A bad sequence, or one cut off by the end of the page.
    auto bad = static_cast<unsigned char>(*src);
    if (c1Holes && bad >= 0x80 && bad <= 0x9F) {
      AppendCodePoint(&out, bad);
    } else {
      out += "\xEF\xBF\xBD";
    }
    ++src;
    --left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  ReplaceIllFormed(&out);
  return out;
}

}  // namespace fl::http
