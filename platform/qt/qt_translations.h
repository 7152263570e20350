// Qt's own texts (standard buttons, the file dialog) in the interface language.
#pragma once

#include <cstdint>

namespace tarvik {

// Installs Qt's translations into the running application when the window's
// texts are Chinese (language id 2052); other languages keep Qt's English,
// as the window's texts are English then. True when a translation was
// installed. Qt's translations come from the system's Qt (Debian:
// qt6-translations-l10n); without them Qt's texts stay English.
bool InstallQtTranslations(uint16_t languageId);

// Removes what InstallQtTranslations installed (tests switch languages).
void RemoveQtTranslations();

}  // namespace tarvik
