#include "platform/posix/names.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/failure.h"
#include "platform/utf8.h"

namespace fl::posix {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscape(char16_t ch) {
  return ch >= kEscapeBase + 0x80 && ch <= kEscapeBase + 0xFF;
}

// The character set of LC_CTYPE as the environment asks for it, read from a
// locale object of its own: setting the process's locale would change what
// the window system and the C library do elsewhere. Empty for UTF-8, which
// is also what the C/POSIX locale (plain ASCII) gets.
const std::string& LocaleCharset() {
  static const std::string charset = [] {
    std::string name;
    locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc != static_cast<locale_t>(0)) {
      const char* set = ::nl_langinfo_l(CODESET, loc);
      if (set != nullptr) name = set;
      ::freelocale(loc);
    }
    if (name == "UTF-8" || name == "ANSI_X3.4-1968") name.clear();
    return name;
  }();
  return charset;
}

// ---- UTF-8 ----

// Each byte that does not start a valid sequence is escaped on its own.
Text DecodeUtf8(std::string_view bytes) {
  return utf8::Decode(bytes,
                      [](unsigned char b) { return static_cast<char16_t>(kEscapeBase + b); });
}

// False at the first unit that UTF-8 cannot spell (a lone surrogate other
// than an escaped byte) when substitute is null; with one, that unit becomes
// substitute.
bool EncodeUtf8(const Text& text, std::string& out, const char* substitute) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = utf8::CodePointAt(text, i);
    if (IsEscape(static_cast<char16_t>(c))) {
      out += static_cast<char>(c - kEscapeBase);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (substitute == nullptr) return false;
      out += substitute;
    } else {
      utf8::Append(out, c);
    }
  }
  return true;
}

// ---- other character sets, through iconv ----

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of in as it can; false when it stopped at bytes it
  // cannot convert (in then points at them).
  bool Run(const char*& in, size_t& inLeft, std::string& out) {
    char buf[256];
    while (inLeft > 0) {
      char* ip = const_cast<char*>(in);
      char* op = buf;
      size_t ol = sizeof buf;
      const size_t r = ::iconv(cd_, &ip, &inLeft, &op, &ol);
      out.append(buf, sizeof buf - ol);
      in = ip;
      if (r == static_cast<size_t>(-1) && errno != E2BIG) {
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

Text DecodeCharset(std::string_view bytes, const std::string& charset) {
  Converter cv("UTF-16LE", charset.c_str());
  if (!cv.ok()) return DecodeUtf8(bytes);
  Text out;
  const char* in = bytes.data();
  size_t left = bytes.size();
  std::string units;
  for (;;) {
    const bool whole = cv.Run(in, left, units);
    for (size_t k = 0; k + 1 < units.size(); k += 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(units[k]) |
                                   (static_cast<unsigned char>(units[k + 1]) << 8));
    }
    units.clear();
    if (whole) return out;
    const unsigned char b = static_cast<unsigned char>(*in);
    out += b < 0x80 ? static_cast<char16_t>(b) : static_cast<char16_t>(kEscapeBase + b);
    ++in;
    --left;
  }
}

bool EncodeCharset(const Text& text, const std::string& charset, std::string& out,
                   const char* substitute) {
  Converter cv(charset.c_str(), "UTF-16LE");
  if (!cv.ok()) return EncodeUtf8(text, out, substitute);
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    if (IsEscape(text[i])) {
      out += static_cast<char>(text[i] - kEscapeBase);
      ++i;
      continue;
    }
    // The run up to the next escaped byte in one go.
    size_t end = i;
    while (end < text.size() && !IsEscape(text[end])) ++end;
    std::string units;
    units.reserve((end - i) * 2);
    for (size_t k = i; k < end; ++k) {
      units += static_cast<char>(text[k] & 0xFF);
      units += static_cast<char>(text[k] >> 8);
    }
    const char* in = units.data();
    size_t left = units.size();
    while (!cv.Run(in, left, out)) {
      if (substitute == nullptr) return false;
      out += substitute;
      // Past the unit that did not convert, or the pair it begins.
      const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(in[0]) |
                                                  (static_cast<unsigned char>(in[1]) << 8));
      const size_t skip = unit >= 0xD800 && unit <= 0xDBFF && left >= 4 ? 4 : 2;
      in += std::min(skip, left);
      left -= std::min(skip, left);
    }
    i = end;
  }
  return true;
}

bool Encode(const Text& text, std::string& out, const char* substitute) {
  const std::string& charset = LocaleCharset();
  return charset.empty() ? EncodeUtf8(text, out, substitute)
                         : EncodeCharset(text, charset, out, substitute);
}

}  // namespace

std::string NativeName(const Text& name) {
  std::string out;
  if (!Encode(name, out, nullptr) || out.find('\0') != std::string::npos) {
    Fail(desc::kBadFileName);
  }
  return out;
}

std::string NativeArgument(const Text& text) {
  std::string out;
  Encode(text, out, "?");
  return out;
}

Text FromNativeName(std::string_view bytes) {
  const std::string& charset = LocaleCharset();
  return charset.empty() ? DecodeUtf8(bytes) : DecodeCharset(bytes, charset);
}

}  // namespace fl::posix
