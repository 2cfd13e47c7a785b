#include "platform/utf8.h"

namespace fl {

namespace utf8 {

char32_t DecodeAt(std::string_view bytes, size_t& i) {
  const unsigned char b = static_cast<unsigned char>(bytes[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  size_t extra;
  char32_t c, min;
  if ((b & 0xE0) == 0xC0) {
    extra = 1, c = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, c = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, c = b & 0x07, min = 0x10000;
  } else {
    return kInvalid;
  }
  if (i + extra >= bytes.size()) return kInvalid;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char t = static_cast<unsigned char>(bytes[i + k]);
    if ((t & 0xC0) != 0x80) return kInvalid;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kInvalid;
  i += extra + 1;
  return c;
}

char32_t CodePointAt(const Text& text, size_t& i) {
  const char32_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  return c;
}

void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void Append(Text& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

Text Decode(std::string_view bytes, char16_t (*forInvalid)(unsigned char byte)) {
  Text out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const char32_t c = DecodeAt(bytes, i);
    if (c != kInvalid) {
      Append(out, c);
    } else {
      out += forInvalid(static_cast<unsigned char>(bytes[i++]));
    }
  }
  return out;
}

}  // namespace utf8

std::string ToUtf8(const Text& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = utf8::CodePointAt(text, i);
    utf8::Append(out, c >= 0xD800 && c <= 0xDFFF ? U'\uFFFD' : c);
  }
  return out;
}

Text FromUtf8(std::string_view bytes) {
  return utf8::Decode(bytes, [](unsigned char) { return u'\uFFFD'; });
}

}  // namespace fl
