// The translations built into the exe from po/ (tools/po_table.py).
#pragma once

namespace fl::win32 {

struct CatalogueEntry {
  int primaryLanguage;  // PRIMARYLANGID
  int subLanguage;      // SUBLANGID, or -1 for every region
  const char16_t* msgid;
  const char16_t* msgstr;
};

extern const CatalogueEntry kCatalogue[];
extern const int kCatalogueSize;

}  // namespace fl::win32
