// The executable's resources as Windows reads them: the string table through
// LoadText, dialog template 102 against the template the other hosts use, the
// icon, the version and the manifest. This test links the same resource
// object as TarvikUpdate.exe.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/win32/win32_api.h"

#include <commctrl.h>

#include "res/text_table.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_system.h"
#include "res/dialog_template.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace tarvik::win32 {
namespace {

// The real resources in a chosen interface language.
class SystemInLanguage final : public Win32System {
 public:
  SystemInLanguage(IClock& clock, uint16_t language) : Win32System(clock), m_language(language) {}
  uint16_t InterfaceLanguage() override { return m_language; }

 private:
  uint16_t m_language;
};

std::string_view Resource(const wchar_t* type, int id) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!found) return {};
  const HGLOBAL loaded = LoadResource(module, found);
  return {static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found)};
}

TEST(StringTableResourceTest, LoadTextGivesTheTextTableInBothLanguages) {
  // Both tables come from res/text_table.json; the resource's went through the
  // resource compiler, which mangles UTF-8, quotes and line ends if told wrong.
  Win32Clock clock;
  SystemInLanguage chinese(clock, kLangChinesePrc);
  SystemInLanguage english(clock, 1033);
  for (int index = kTextSearch; index <= kTextResetHint; ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(LoadText(chinese, index),
              FindStringTableEntry(StringIdForText(kLangChinesePrc, index)));
    EXPECT_EQ(LoadText(english, index), FindStringTableEntry(StringIdForText(1033, index)));
  }
  EXPECT_EQ(LoadText(chinese, kTextHelp),
            "1. 按住配对键并插入PC。\r\n\r\n2. 点击 USB 升级按钮，选择升级文件升级。");
  EXPECT_EQ(LoadText(english, kTextHelp),
            "1. Hold down pair button and connect to PC via USB cable.\r\n\r\n"
            "2. Click \"USB Update\" button and select firmware file.");
}

TEST(StringTableResourceTest, IdsOutsideTheTableGiveEmptyTexts) {
  Win32Clock clock;
  Win32System system(clock);
  for (uint16_t id : {uint16_t{128}, uint16_t{146}, uint16_t{237}, uint16_t{255}}) {
    EXPECT_EQ(system.StringTableEntry(id), "") << id;
  }
}

// Dialog template 102 as the resource compiler laid it out (DLGTEMPLATEEX).
class TemplateReader {
 public:
  explicit TemplateReader(std::string_view bytes) : m_bytes(bytes) {}
  bool AtEnd() const { return m_offset > m_bytes.size(); }
  uint16_t Word() { return static_cast<uint16_t>(Read(2)); }
  uint32_t Dword() { return static_cast<uint32_t>(Read(4)); }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  void Align(size_t to) { m_offset = (m_offset + to - 1) / to * to; }
  // A string or an ordinal: ordinals come back as "#<number>".
  std::string StringOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0xFFFF) return std::string("#").append(std::to_string(Word()));
    std::wstring text;
    for (uint16_t c = first; c != 0 && !AtEnd(); c = Word())
      text.push_back(static_cast<wchar_t>(c));
    return WideToUtf8(text);
  }
  void Skip(size_t count) { m_offset += count; }

 private:
  uint64_t Read(size_t count) {
    uint64_t value = 0;
    if (m_offset + count <= m_bytes.size()) std::memcpy(&value, m_bytes.data() + m_offset, count);
    m_offset += count;
    return value;
  }
  std::string_view m_bytes;
  size_t m_offset = 0;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct TemplateItem {
  uint32_t exStyle, style;
  int x, y, cx, cy;
  int id;
  std::string windowClass, title;
};

TEST(DialogTemplateResourceTest, TemplateMatchesTheOneTheOtherHostsBuild) {
  const std::string_view bytes = Resource(RT_DIALOG, IDD_UPDATE_DIALOG);
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader(bytes);
  ASSERT_EQ(reader.Word(), 1);       // dlgVer
  ASSERT_EQ(reader.Word(), 0xFFFF);  // an extended template
  reader.Dword();                    // help id
  const uint32_t exStyle = reader.Dword();
  const uint32_t style = reader.Dword();
  const uint16_t count = reader.Word();
  reader.Short();
  reader.Short();
  const int cx = reader.Short();
  const int cy = reader.Short();
  EXPECT_EQ(reader.StringOrOrdinal(), "");  // no menu
  EXPECT_EQ(reader.StringOrOrdinal(), "");  // the standard dialog class
  reader.StringOrOrdinal();                 // title: set at start-up
  ASSERT_TRUE(style & DS_SETFONT);
  const int points = reader.Word();
  reader.Word();   // weight
  reader.Skip(2);  // italic, charset
  const std::string face = reader.StringOrOrdinal();

  const DialogTemplate& expected = kUpdateDialogTemplate;
  EXPECT_EQ(cx, expected.cx);
  EXPECT_EQ(cy, expected.cy);
  EXPECT_EQ(face, expected.fontFace);
  EXPECT_EQ(points, expected.fontPoints);
  const uint32_t wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u) << "the close box only";
  EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);

  ASSERT_EQ(count, std::size(expected.controls));
  for (const DialogControlTemplate& control : expected.controls) {
    reader.Align(4);
    TemplateItem item{};
    reader.Dword();  // help id
    item.exStyle = reader.Dword();
    item.style = reader.Dword();
    item.x = reader.Short();
    item.y = reader.Short();
    item.cx = reader.Short();
    item.cy = reader.Short();
    item.id = static_cast<int>(reader.Dword());
    item.windowClass = reader.StringOrOrdinal();
    item.title = reader.StringOrOrdinal();
    reader.Skip(reader.Word());  // creation data
    ASSERT_FALSE(reader.AtEnd());

    SCOPED_TRACE(control.id);
    EXPECT_EQ(item.id, control.id);
    EXPECT_EQ(item.x, control.x);
    EXPECT_EQ(item.y, control.y);
    EXPECT_EQ(item.cx, control.cx);
    EXPECT_EQ(item.cy, control.cy);
    EXPECT_EQ(item.title, control.text);
    EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<uint32_t>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ((item.style & WS_BORDER) != 0, control.border);
    EXPECT_EQ((item.style & WS_TABSTOP) != 0, control.tabStop);
    switch (control.kind) {
      case ControlKind::kProgress:
        // Class names are case-blind; the resource compiler writes them in capitals.
        EXPECT_EQ(Lower(item.windowClass), "msctls_progress32");
        break;
      case ControlKind::kPushButton:
        EXPECT_EQ(item.windowClass, "#128");  // Button
        EXPECT_EQ(item.style & BS_TYPEMASK, static_cast<uint32_t>(BS_PUSHBUTTON));
        break;
      case ControlKind::kStaticCentred:
        EXPECT_EQ(item.windowClass, "#130");  // Static
        EXPECT_EQ(item.style & SS_TYPEMASK, static_cast<uint32_t>(SS_CENTER));
        EXPECT_TRUE(item.style & WS_GROUP);
        break;
      case ControlKind::kStaticLeft:
        EXPECT_EQ(item.windowClass, "#130");
        EXPECT_EQ(item.style & SS_TYPEMASK, static_cast<uint32_t>(SS_LEFT));
        EXPECT_TRUE(item.style & WS_GROUP);
        break;
    }
  }
}

TEST(IconResourceTest, MainIconIsOne32By32Image) {
#pragma pack(push, 2)
  struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
  };
  struct GroupHeader {
    WORD reserved, type, count;
  };
#pragma pack(pop)
  const std::string_view group = Resource(RT_GROUP_ICON, IDI_MAINFRAME);
  ASSERT_EQ(group.size(), sizeof(GroupHeader) + sizeof(GroupEntry));
  GroupHeader header;
  GroupEntry entry;
  std::memcpy(&header, group.data(), sizeof header);
  std::memcpy(&entry, group.data() + sizeof header, sizeof entry);
  EXPECT_EQ(header.type, 1);
  EXPECT_EQ(header.count, 1);
  EXPECT_EQ(entry.width, 32);
  EXPECT_EQ(entry.height, 32);
  EXPECT_EQ(entry.bitCount, 32);
  EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINFRAME)), nullptr);
}

TEST(VersionResourceTest, FileAndProductVersionAreTheProjectsVersion) {
  const std::string_view version = Resource(RT_VERSION, 1);
  const uint32_t signature = 0xFEEF04BD;
  const size_t at = version.find(std::string_view(reinterpret_cast<const char*>(&signature), 4));
  ASSERT_NE(at, std::string_view::npos);
  VS_FIXEDFILEINFO info;
  ASSERT_LE(at + sizeof info, version.size());
  std::memcpy(&info, version.data() + at, sizeof info);
  const DWORD high = (TARVIK_VERSION_MAJOR << 16) | TARVIK_VERSION_MINOR;
  const DWORD low = TARVIK_VERSION_PATCH << 16;
  EXPECT_EQ(info.dwFileVersionMS, high);
  EXPECT_EQ(info.dwFileVersionLS, low);
  EXPECT_EQ(info.dwProductVersionMS, high);
  EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(ManifestResourceTest, ManifestTurnsOnVersion6OfTheCommonControls) {
  const std::string_view manifest = Resource(RT_MANIFEST, 1);
  EXPECT_NE(manifest.find("PerMonitorV2"), std::string_view::npos);
  EXPECT_NE(manifest.find("asInvoker"), std::string_view::npos);

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  // The module this program's calls went to. Its own version number does not
  // tell (Wine's version 6 reports 5.81); its side-by-side folder does.
  HMODULE comctl = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&InitCommonControlsEx)), &comctl));
  wchar_t path[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameW(comctl, path, MAX_PATH), 0u);
  const std::string module = Lower(WideToUtf8(path));
  EXPECT_NE(module.find("microsoft.windows.common-controls_6595b64144ccf1df_6."), std::string::npos)
      << module;
}

}  // namespace
}  // namespace tarvik::win32
