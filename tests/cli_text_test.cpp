// The CLI's texts in Chinese: Tr and TrN from the gettext catalogue built
// from po/zh_CN.po.
#include <gtest/gtest.h>

#include "texts/interface_texts.h"

namespace {

using tarvik::ChooseTextLanguage;
using tarvik::Tr;
using tarvik::TrN;

TEST(CliTextTest, OnlyChineseIsTranslated) {
  for (const uint16_t english : {1033, 2057, 1031, 1028}) {
    EXPECT_EQ(ChooseTextLanguage(english), english);
    EXPECT_FALSE(tarvik::TextsInChinese());
    EXPECT_STREQ(Tr("no supported controller found"), "no supported controller found");
    EXPECT_STREQ(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", 2), "%d controllers: %d upgraded");
  }
  // The build tree's catalogue is found beside the test's folder, whatever the machine's locales.
  EXPECT_EQ(ChooseTextLanguage(2052), 2052);
  EXPECT_TRUE(tarvik::TextsInChinese());
  EXPECT_STREQ(Tr("no supported controller found"), "未找到支持的手柄");
  EXPECT_STREQ(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", 1), "%d 个手柄：%d 个已升级");
  EXPECT_STREQ(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", 5), "%d 个手柄：%d 个已升级");
}

}  // namespace
