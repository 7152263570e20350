#include <gtest/gtest.h>

#include <string>

#include "res/text_table.h"
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
  EXPECT_EQ(system.StringTableEntry(146), "");
  EXPECT_EQ(system.StringTableEntry(237), "");
  EXPECT_EQ(Text(1033, 17), "");
}

}  // namespace
}  // namespace tarvik
