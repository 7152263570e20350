#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/linux/locale_language.h"

namespace tarvik {
namespace {

TEST(LocaleLanguageTest, LocalesMapToWindowsLanguageIds) {
  const std::map<std::string, uint16_t> expected = {
      {"zh_CN.UTF-8", 2052}, {"zh_CN", 2052},     {"zh_TW.UTF-8", 1028}, {"zh_HK", 3076},
      {"zh_SG.GB2312", 4100}, {"en_US.UTF-8", 1033}, {"en_GB", 2057},    {"de_DE@euro", 1031},
      {"zh-CN", 2052},       {"ZH_cn", 2052},     {"fr_LU", 1036},       {"C", 1033},
      {"POSIX", 1033},       {"C.UTF-8", 1033},   {"xx_YY", 1033},       {"", 1033},
  };
  for (const auto& [locale, id] : expected) EXPECT_EQ(LanguageIdFromLocale(locale), id) << locale;
}

TEST(LocaleLanguageTest, EnvironmentPrecedence) {
  std::map<std::string, std::string> env;
  auto get = [&](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  EXPECT_EQ(LanguageIdFromEnvironment(get), 1033);
  env["LANG"] = "zh_CN.UTF-8";
  EXPECT_EQ(LanguageIdFromEnvironment(get), 2052);
  env["LC_MESSAGES"] = "zh_TW.UTF-8";
  EXPECT_EQ(LanguageIdFromEnvironment(get), 1028);
  env["LC_ALL"] = "en_US.UTF-8";
  EXPECT_EQ(LanguageIdFromEnvironment(get), 1033);
  env["LANGUAGE"] = "zh_CN:en_US";
  EXPECT_EQ(LanguageIdFromEnvironment(get), 2052);
  // Empty values do not count as set.
  env["LANGUAGE"] = "";
  env["LC_ALL"] = "";
  EXPECT_EQ(LanguageIdFromEnvironment(get), 1028);
}

}  // namespace
}  // namespace tarvik
