// Translations on POSIX: glibc's gettext, with the catalogues that ship
// beside the executable in locale/<language>/LC_MESSAGES/FirstLoad.mo.
#include <libintl.h>
#include <locale.h>

#include <string>

#include "platform/app.h"
#include "platform/failure.h"
#include "platform/posix/names.h"
#include "platform/translation_os.h"
#include "platform/utf8.h"

namespace fl {

namespace {

constexpr char kDomain[] = "FirstLoad";

// Bound once, to the folder beside the executable, whatever the current
// folder; a folder the locale cannot spell leaves the texts in English.
bool Bound() {
  static const bool bound = [] {
    try {
      const std::string folder = posix::NativeName(AppFolder() + kPathSep + u"locale");
      return bindtextdomain(kDomain, folder.c_str()) != nullptr &&
             bind_textdomain_codeset(kDomain, "UTF-8") != nullptr;
    } catch (const Failure&) {
      return false;
    }
  }();
  return bound;
}

}  // namespace

Text CatalogueText(const Text& msgid) {
  if (!Bound()) return msgid;
  // The program itself keeps the C locale; the user's messages locale is
  // taken for the look-up alone. Where it is not installed, gettext would
  // answer from the C locale, in English, and so does this.
  const locale_t user = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return msgid;
  const locale_t previous = uselocale(user);
  const std::string id = ToUtf8(msgid);
  const char* found = dgettext(kDomain, id.c_str());
  Text text = found == id.c_str() ? msgid : FromUtf8(found);
  uselocale(previous);
  freelocale(user);
  return text;
}

}  // namespace fl
