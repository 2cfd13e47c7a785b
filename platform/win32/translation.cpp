// Translations on Windows: the table built into the exe, chosen by the
// user's UI language, as Windows programs choose their resources.
#include <windows.h>

#include "platform/translation_os.h"
#include "platform/win32/catalogue.h"

namespace fl {

namespace {

LANGID gLanguage = 0;

}  // namespace

void win32::ChooseTextLanguage(LANGID language) {
  gLanguage = language;
}

Text CatalogueText(const Text& msgid) {
  const LANGID language = gLanguage != 0 ? gLanguage : GetUserDefaultUILanguage();
  for (int i = 0; i < win32::kCatalogueSize; ++i) {
    const win32::CatalogueEntry& e = win32::kCatalogue[i];
    if (e.primaryLanguage == PRIMARYLANGID(language) &&
        (e.subLanguage < 0 || e.subLanguage == SUBLANGID(language)) && msgid == e.msgid) {
      return e.msgstr;
    }
  }
  return msgid;
}

}  // namespace fl
