// The CLI's texts in Chinese: Tr and TrN from the gettext catalogue built
// from po/zh_CN.po, and TrText, which recognises the engine's finished
// English texts by the formats they were made from.
#include <gtest/gtest.h>

#include <string>

#include "texts/interface_texts.h"

namespace {

using tarvik::ChooseTextLanguage;
using tarvik::Tr;
using tarvik::TrN;
using tarvik::TrText;

TEST(CliTextTest, OnlyChineseIsTranslated) {
  for (const uint16_t english : {1033, 2057, 1031, 1028}) {
    EXPECT_EQ(ChooseTextLanguage(english), english);
    EXPECT_FALSE(tarvik::TextsInChinese());
    EXPECT_STREQ(Tr("no supported controller found"), "no supported controller found");
    EXPECT_STREQ(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", 2), "%d controllers: %d upgraded");
    EXPECT_EQ(TrText("the file is empty"), "the file is empty");
  }
  // The build tree's catalogue is found beside the test's folder, whatever the machine's locales.
  EXPECT_EQ(ChooseTextLanguage(2052), 2052);
  EXPECT_TRUE(tarvik::TextsInChinese());
  EXPECT_STREQ(Tr("no supported controller found"), "未找到支持的手柄");
  EXPECT_STREQ(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", 1), "%d 个手柄：%d 个已升级");
  EXPECT_STREQ(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", 5), "%d 个手柄：%d 个已升级");
}

TEST(CliTextTest, FinishedEnglishTextsAreRecognisedByTheirFormats) {
  ASSERT_EQ(ChooseTextLanguage(2052), 2052);
  const struct {
    const char* english;
    const char* chinese;
  } cases[] = {
      // A whole text.
      {"the file is empty", "文件为空"},
      // A format with a path and a text of its own inside.
      {"/tmp/a b.dat is not a valid image: record 2 runs past the end of the file",
       "/tmp/a b.dat 不是有效的镜像：数据段 2 超出了文件末尾"},
      // Pieces in another order (positional conversions of the translation).
      {"the controller reported failure 0x15 after 3 packets at 2 %", "手柄在 3 个数据包后报告失败 0x15（进度 2 %）"},
      {"the image file ended inside record 2, 64 of its 300 bytes in", "镜像文件在数据段 2 内结束，位于其 300 字节中的第 64 字节"},
      // A step and what became of it, joined by a format of no words of its own.
      {"the erase of record 1 at 0x08004000 was never answered", "数据段 1（0x08004000）的擦除始终没有得到应答"},
      {"the information request of the main mcu was not acknowledged", "主 MCU 的信息请求没有得到确认"},
      // A short format ("%s at %s") does not take a step apart.
      {"the erase of record 1 at 0x08004000", "数据段 1（0x08004000）的擦除"},
      // Numbers are numbers: a word where %d stands is no match.
      {"record two runs past the end of the file", "record two runs past the end of the file"},
      // Texts no catalogue knows, and translated ones, stay as they are.
      {"Operation not permitted", "Operation not permitted"},
      {"未找到支持的手柄", "未找到支持的手柄"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TrText(c.english), c.chinese) << c.english;
}

}  // namespace
