#include "platform/text.h"

#include <locale.h>
#include <wctype.h>

namespace fl {

namespace {

// C.UTF-8 is built into the C library, so the full case tables are there
// whatever locales the machine has installed. Loaded on the first character
// past ASCII: most texts never need it, and loading it costs a start-up
// several file reads.
locale_t Utf8Locale() {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return utf8;
}

}  // namespace

char16_t UpperUnit(char16_t ch) {
  if (ch < 0x80) return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
  if (ch >= 0xD800 && ch <= 0xDFFF) return ch;
  const locale_t utf8 = Utf8Locale();
  if (utf8 == static_cast<locale_t>(0)) return ch;
  wint_t up = towupper_l(static_cast<wint_t>(ch), utf8);
  return up <= 0xFFFF ? static_cast<char16_t>(up) : ch;
}

Text UpperText(const Text& text) {
  Text out(text);
  for (char16_t& ch : out) ch = UpperUnit(ch);
  return out;
}

}  // namespace fl
