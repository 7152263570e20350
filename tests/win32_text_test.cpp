// Text at the Windows edge: UTF-8 <-> UTF-16 and the file dialog's filter.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/file_filter.h"
#include "platform/win32/utf16.h"

namespace tarvik::win32 {
namespace {

using namespace std::string_literals;

TEST(Utf16Test, ChineseAndAstralTextRoundTrips) {
  const std::string text =
      "固件版本 Fw 2.00 \xF0\x9F\x8E\xAE";  // ends with U+1F3AE (a game controller)
  const std::wstring wide = Utf8ToWide(text);
  EXPECT_EQ(wide, L"固件版本 Fw 2.00 \U0001F3AE");
  // Outside the basic plane: a surrogate pair, not one truncated unit.
  EXPECT_EQ(wide.size(), 4u + 9u + 2u);
  EXPECT_EQ(WideToUtf8(wide), text);
}

TEST(Utf16Test, EmbeddedNulsAndLineEndsAreKept) {
  const std::string text = "1.\r\n\0\r\n2."s;
  EXPECT_EQ(Utf8ToWide(text), L"1.\r\n\0\r\n2."s);
  EXPECT_EQ(WideToUtf8(L"a\0b"s), "a\0b"s);
}

TEST(Utf16Test, EmptyTextStaysEmpty) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(Utf16Test, InvalidInputBecomesReplacementCharactersNotNothing) {
  // A path or a text with a broken byte must not vanish or end early.
  EXPECT_EQ(Utf8ToWide("ab\xFF"
                       "cd"),
            L"ab\uFFFDcd");
  EXPECT_EQ(WideToUtf8(std::wstring{L'x', static_cast<wchar_t>(0xD800), L'y'}), "x\xEF\xBF\xBDy");
}

TEST(FileFilterTest, EachLabelAndPatternEndsInANulAndTheListInASecondOne) {
  EXPECT_EQ(FileFilterToWin32({{"File type(*.dat)", "*.dat"}}), L"File type(*.dat)\0*.dat\0\0"s);
  EXPECT_EQ(FileFilterToWin32({{"文件类型中显示的内容(*.dat)", "*.dat"}, {"All(*.*)", "*.*"}}),
            L"文件类型中显示的内容(*.dat)\0*.dat\0All(*.*)\0*.*\0\0"s);
  EXPECT_EQ(FileFilterToWin32({}), L"");
}

}  // namespace
}  // namespace tarvik::win32
