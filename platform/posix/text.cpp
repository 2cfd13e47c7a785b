#include "platform/text.h"

#include <locale.h>
#include <wctype.h>

namespace fl {

Text UpperText(const Text& text) {
  // C.UTF-8 is built into the C library, so the full case tables are there
  // whatever locales the machine has installed.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  Text out(text);
  for (char16_t& ch : out) {
    if (ch < 0x80) {
      if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - 32);
    } else if (utf8 != static_cast<locale_t>(0) && (ch < 0xD800 || ch > 0xDFFF)) {
      wint_t up = towupper_l(static_cast<wint_t>(ch), utf8);
      if (up <= 0xFFFF) ch = static_cast<char16_t>(up);
    }
  }
  return out;
}

}  // namespace fl
