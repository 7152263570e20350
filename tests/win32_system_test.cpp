// The system seam and the clock on Windows, and the engine's own file access
// in a folder whose name is not ASCII, as Chinese users' folders often are.
// Linked with the executable's resources: its manifest sets the code page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "diag/diag.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_system.h"
#include "tests/support/deadline_checks.h"
#include "update/image_file.h"

namespace tarvik::win32 {
namespace {

namespace fs = std::filesystem;

TEST(Win32ClockTest, SleepMovesTheClockByAboutThatLong) {
  Win32Clock clock;
  const uint64_t before = clock.NowMs();
  clock.SleepMs(60);
  const uint64_t slept = clock.NowMs() - before;
  EXPECT_GE(slept, 55u);  // the system's sleep may wake a tick early
  EXPECT_LT(slept, 1000u);
}

TEST(Win32ClockTest, DeadlineWaitsNeverEndEarlyAndPassedOnesDoNotWait) {
  Win32Clock clock;
  test::ExpectDeadlineWaitsOnTime(clock, {50u, 300u, 5000u, 5000u, 5000u});
}

// Runs a test inside a fresh folder named in Chinese, as the current directory.
class ChineseFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    m_previous = previous;
    m_folder = fs::temp_directory_path() / (L"固件升级-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(m_folder);
    fs::create_directories(m_folder);
    ASSERT_TRUE(SetCurrentDirectoryW(m_folder.c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryW(m_previous.c_str());
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }
  std::string Utf8(const fs::path& path) const { return WideToUtf8(path.wstring()); }
  std::string ReadAll(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  Win32Clock clock;
  Win32System system{clock};
  fs::path m_folder;
  std::wstring m_previous;
};

TEST_F(ChineseFolderTest, CurrentDirectoryComesBackAsUtf8WithoutATrailingSeparator) {
  const std::string directory = system.CurrentDirectory();
  const std::string name = std::string("\\").append(Utf8(m_folder.filename()));
  ASSERT_GE(directory.size(), name.size());
  EXPECT_EQ(directory.substr(directory.size() - name.size()), name);
}

TEST_F(ChineseFolderTest, DriveRootKeepsItsSeparator) {
  ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
  EXPECT_EQ(system.CurrentDirectory(), "C:\\");
}

TEST_F(ChineseFolderTest, StepLogIsFoundAndWrittenThere) {
  std::ofstream(m_folder / L"log.txt").flush();
  CDiag diag(system);
  diag.CheckLogEnabled();
  ASSERT_TRUE(diag.IsLogEnabled());
  diag.WriteLog("Get gamepad info ok!\n");
  EXPECT_EQ(ReadAll(m_folder / L"log.txt"), "Get gamepad info ok!\r\n");
}

TEST_F(ChineseFolderTest, ImageChosenThereOpens) {
  const fs::path image = m_folder / L"手柄固件.dat";
  std::ofstream(image, std::ios::binary) << "0123456789";
  CImageFile file;
  ASSERT_TRUE(file.Open(Utf8(image)));
  EXPECT_EQ(file.Length(), 10u);
}

// A shop puts its keys in the "trusted-keys" folder beside the program.
TEST(Win32SystemTest, KeysBesideTheProgramAreTrustedThenTheGivenOnes) {
  wchar_t program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  const fs::path folder = fs::path(program).parent_path() / L"trusted-keys";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / L"b.pub") << "second";
  std::ofstream(folder / L"a.pub") << "first";
  std::ofstream(folder / L"notes.txt") << "not a key";
  Win32Clock clock;
  Win32System system(clock);
  system.TrustAlso("given");
  const std::vector<std::string> texts = system.TrustedKeyTexts();
  fs::remove_all(folder);
  EXPECT_EQ(texts, (std::vector<std::string>{"first", "second", "given"}));
}

}  // namespace
}  // namespace tarvik::win32
