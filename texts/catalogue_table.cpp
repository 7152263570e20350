// The Chinese catalogue on Windows: po/zh_CN.po built into the program as a
// table (there is no gettext for MinGW to lean on).
#include <string_view>
#include <unordered_map>

#include "texts/catalogue.h"

namespace tarvik::catalogue {

namespace {

const std::unordered_map<std::string_view, const CatalogueEntry*>& Index() {
  static const std::unordered_map<std::string_view, const CatalogueEntry*> index = [] {
    std::unordered_map<std::string_view, const CatalogueEntry*> byId;
    for (size_t i = 0; i < kCatalogueEntryCount; ++i) byId.emplace(kCatalogueEntries[i].msgid, &kCatalogueEntries[i]);
    return byId;
  }();
  return index;
}

const char* Translation(const char* msgid) {
  const auto it = Index().find(msgid);
  return it == Index().end() || it->second->msgstr == nullptr || *it->second->msgstr == '\0' ? nullptr
                                                                                            : it->second->msgstr;
}

}  // namespace

bool Open() { return kCatalogueEntryCount > 0; }

// The interface language comes from Windows itself, and the table cannot be missing.
void SpeakEnglish() {}

const char* Lookup(const char* msgid) {
  const char* translation = Translation(msgid);
  return translation != nullptr ? translation : msgid;
}

// Chinese has one plural form.
const char* LookupPlural(const char* singular, const char* plural, unsigned long n) {
  const char* translation = Translation(singular);
  return translation != nullptr ? translation : n == 1 ? singular : plural;
}

}  // namespace tarvik::catalogue
