// The Simplified Chinese catalogue behind Tr: GNU gettext's on Linux
// (catalogue_gettext.cpp, the compiled po/zh_CN.po in the locale folder),
// the table built from po/zh_CN.po into the program on Windows and on the
// page (catalogue_table.cpp).
#pragma once

#include <cstddef>

namespace tarvik {

// One entry of po/zh_CN.po, as cmake/po_to_cpp.cmake writes it for Windows
// and the page. The Linux build has no table: gettext reads the catalogue.
struct CatalogueEntry {
  const char* msgid;
  const char* msgidPlural;  // nullptr: none
  const char* msgstr;       // the translation (the single plural form of Chinese)
  bool format;              // printf format (c-format)
};
extern const CatalogueEntry kCatalogueEntries[];
extern const size_t kCatalogueEntryCount;

namespace catalogue {

// Makes the catalogue ready; false when it cannot be found.
bool Open();
// The run speaks English after all: where the system seam takes the
// interface language from the process's environment, it is told so too.
void SpeakEnglish();
// The translation of `msgid`; `msgid` itself when the catalogue has none.
const char* Lookup(const char* msgid);
const char* LookupPlural(const char* singular, const char* plural, unsigned long n);

}  // namespace catalogue

}  // namespace tarvik
