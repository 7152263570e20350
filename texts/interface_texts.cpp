#include "texts/interface_texts.h"

#include "texts/catalogue.h"

namespace tarvik {

namespace {

constexpr uint16_t kLanguageChinese = 2052;
constexpr uint16_t kLanguageEnglish = 1033;

bool g_chinese = false;

}  // namespace

uint16_t ChooseTextLanguage(uint16_t interfaceLanguage) {
  g_chinese = interfaceLanguage == kLanguageChinese && catalogue::Open();
  if (interfaceLanguage == kLanguageChinese && !g_chinese) catalogue::SpeakEnglish();
  return g_chinese ? kLanguageChinese : interfaceLanguage == kLanguageChinese ? kLanguageEnglish : interfaceLanguage;
}

bool TextsInChinese() { return g_chinese; }

const char* Tr(const char* english) { return g_chinese ? catalogue::Lookup(english) : english; }

const char* TrN(const char* singular, const char* plural, unsigned long n) {
  if (g_chinese) return catalogue::LookupPlural(singular, plural, n);
  return n == 1 ? singular : plural;
}

}  // namespace tarvik
