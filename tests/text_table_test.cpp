#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/text_table.h"
#include "platform/linux/locale_language.h"
#include "platform/std/virtual_clock.h"
#include "tests/support/fake_system.h"

namespace tarvik {
namespace {

class TextTableTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  test::FakeSystem system{clock};
  std::string Text(uint16_t language, int index) {
    system.language = language;
    return LoadText(system, index);
  }
};

TEST_F(TextTableTest, ChinesePrcSelectsTheChineseSet) {
  EXPECT_EQ(Text(2052, kTextUsbUpdate), "USB 升级");
  EXPECT_EQ(Text(2052, kTextTitle), "Tarvik Update v2.00");
  EXPECT_EQ(Text(2052, kTextUpgraded), "升级成功。");
  EXPECT_EQ(Text(2052, kTextResetHint), Text(1033, kTextResetHint));
}

TEST_F(TextTableTest, EveryOtherLanguageGetsEnglishIncludingOtherChineseIds) {
  for (uint16_t language : {1033, 1028, 3076, 4100, 1031, 0}) {
    EXPECT_EQ(Text(language, kTextUsbUpdate), "USB Update") << language;
    EXPECT_EQ(Text(language, kTextUpgraded), "Firmware upgraded!") << language;
  }
}

TEST_F(TextTableTest, HelpTextKeepsItsCarriageReturnLineFeedPairs) {
  EXPECT_EQ(Text(1033, kTextHelp),
            "1. Hold down pair button and connect to PC via USB cable.\r\n\r\n"
            "2. Click \"USB Update\" button and select firmware file.");
  EXPECT_EQ(Text(1033, kTextUpgradeToLatest), Text(1033, kTextHelp));
  EXPECT_NE(Text(2052, kTextHelp).find("\r\n\r\n2. "), std::string::npos);
}

TEST_F(TextTableTest, StringIdsFollowTheLanguage) {
  EXPECT_EQ(StringIdForText(2052, 0), 129);
  EXPECT_EQ(StringIdForText(2052, 16), 145);
  EXPECT_EQ(StringIdForText(1033, 0), 238);
  EXPECT_EQ(StringIdForText(1033, 16), 254);
  // Ids between the two sets and past the English set are empty.
  EXPECT_EQ(system.LoadStringResource(146), "");
  EXPECT_EQ(system.LoadStringResource(237), "");
  EXPECT_EQ(Text(1033, 17), "");
}

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
