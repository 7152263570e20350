// The Chinese catalogue on Linux: GNU gettext (glibc's libintl), text domain
// tarvik-update, the compiled po/zh_CN.po in the locale folder.
#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "texts/catalogue.h"

#ifndef TARVIK_LOCALEDIR
#define TARVIK_LOCALEDIR "/usr/share/locale"
#endif

namespace tarvik::catalogue {

namespace {

constexpr const char* kDomain = "tarvik-update";
constexpr const char* kCatalogue = "zh_CN/LC_MESSAGES/tarvik-update.mo";

// The folder holding the catalogue: the install prefix's locale folder beside
// the program (<prefix>/bin/../share/locale), the build tree's
// (<build>/bin/../locale), else the configured prefix's.
std::string LocaleFolder() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    for (const char* relative : {"../share/locale", "../locale"}) {
      const fs::path folder = (program.parent_path() / relative).lexically_normal();
      if (fs::is_regular_file(folder / kCatalogue, error)) return folder.string();
    }
  }
  return TARVIK_LOCALEDIR;
}

}  // namespace

bool Open() {
  if (!bindtextdomain(kDomain, LocaleFolder().c_str())) return false;
  bind_textdomain_codeset(kDomain, "UTF-8");
  // gettext takes the language from LC_MESSAGES, and from LANGUAGE unless
  // that locale is "C". A machine without zh_CN.UTF-8 generated still has
  // C.UTF-8; LANGUAGE then names the catalogue, whatever the environment's
  // LANGUAGE said (its first entry was Chinese, or the run would be English).
  if (!std::setlocale(LC_MESSAGES, "zh_CN.UTF-8") && !std::setlocale(LC_MESSAGES, "C.UTF-8")) return false;
  setenv("LANGUAGE", "zh_CN", 1);
  // The catalogue's header is the translation of the empty text: none, no catalogue.
  const char* header = dgettext(kDomain, "");
  return header != nullptr && *header != '\0';
}

void SpeakEnglish() {
  // The system seam reads LANGUAGE first: the window's texts follow.
  setenv("LANGUAGE", "en_US", 1);
  std::setlocale(LC_MESSAGES, "C");
}

const char* Lookup(const char* msgid) { return dgettext(kDomain, msgid); }

const char* LookupPlural(const char* singular, const char* plural, unsigned long n) {
  return dngettext(kDomain, singular, plural, n);
}

}  // namespace tarvik::catalogue
