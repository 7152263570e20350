#include "platform/linux/locale_language.h"

#include <cctype>
#include <string>

namespace tarvik {

namespace {

struct LocaleId {
  const char* name;  // language_TERRITORY, or a bare language for its main territory
  uint16_t id;
};

// Windows language ids of the locales people are likely to run.
constexpr LocaleId kLocaleIds[] = {
    {"zh_CN", 2052}, {"zh_TW", 1028}, {"zh_HK", 3076}, {"zh_SG", 4100}, {"zh_MO", 5124},
    {"zh", 2052},    {"en_US", 1033}, {"en_GB", 2057}, {"en_AU", 3081}, {"en_CA", 4105},
    {"en_NZ", 5129}, {"en_IE", 6153}, {"en_IN", 16393}, {"en", 1033},   {"de_DE", 1031},
    {"de_CH", 2055}, {"de_AT", 3079}, {"de", 1031},    {"fr_FR", 1036}, {"fr_BE", 2060},
    {"fr_CA", 3084}, {"fr_CH", 4108}, {"fr", 1036},    {"es_ES", 3082}, {"es_MX", 2058},
    {"es", 3082},    {"it_IT", 1040}, {"it", 1040},    {"ja_JP", 1041}, {"ja", 1041},
    {"ko_KR", 1042}, {"ko", 1042},    {"ru_RU", 1049}, {"ru", 1049},    {"pt_BR", 1046},
    {"pt_PT", 2070}, {"pt", 2070},    {"nl_NL", 1043}, {"nl_BE", 2067}, {"nl", 1043},
    {"pl_PL", 1045}, {"pl", 1045},    {"sv_SE", 1053}, {"sv", 1053},    {"tr_TR", 1055},
    {"tr", 1055},    {"uk_UA", 1058}, {"uk", 1058},    {"cs_CZ", 1029}, {"cs", 1029},
    {"vi_VN", 1066}, {"vi", 1066},    {"th_TH", 1054}, {"th", 1054},
};

// "zh_CN.UTF-8@mod" -> "zh_CN"; "zh-CN" -> "zh_CN".
std::string NormaliseLocale(std::string_view locale) {
  std::string name;
  for (char c : locale) {
    if (c == '.' || c == '@') break;
    name.push_back(c == '-' ? '_' : c);
  }
  const size_t sep = name.find('_');
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    name[i] = static_cast<char>(sep != std::string::npos && i > sep ? std::toupper(c) : std::tolower(c));
  }
  return name;
}

}  // namespace

uint16_t LanguageIdFromLocale(std::string_view locale) {
  const std::string name = NormaliseLocale(locale);
  if (name.empty()) return kLangEnglishUs;
  for (const LocaleId& entry : kLocaleIds) {
    if (name == entry.name) return entry.id;
  }
  // An unknown territory of a known language takes the language's main one.
  const std::string language = name.substr(0, name.find('_'));
  for (const LocaleId& entry : kLocaleIds) {
    if (language == entry.name) return entry.id;
  }
  return kLangEnglishUs;
}

uint16_t LanguageIdFromEnvironment(const std::function<const char*(const char*)>& getEnv) {
  if (const char* list = getEnv("LANGUAGE"); list && *list) {
    std::string_view first(list);
    first = first.substr(0, first.find(':'));
    if (!first.empty()) return LanguageIdFromLocale(first);
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = getEnv(variable); value && *value) return LanguageIdFromLocale(value);
  }
  return kLangEnglishUs;
}

}  // namespace tarvik
