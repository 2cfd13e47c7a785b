// The translations built into the exe from po/ (tools/po_table.py).
#pragma once

#include <windows.h>

namespace fl::win32 {

struct CatalogueEntry {
  int primaryLanguage;  // PRIMARYLANGID
  int subLanguage;      // SUBLANGID, or -1 for every region
  const char16_t* msgid;
  const char16_t* msgstr;
};

extern const CatalogueEntry kCatalogue[];
extern const int kCatalogueSize;

// The texts are in the user's UI language unless language (a LANGID, 0 for
// the user's again) is chosen instead: a Wine process keeps the language it
// started with, so a test of every language in one process chooses each.
void ChooseTextLanguage(LANGID language);

}  // namespace fl::win32
