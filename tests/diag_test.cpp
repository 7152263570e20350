#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/strformat.h"
#include "diag/diag.h"
#include "platform/std/virtual_clock.h"
#include "tests/support/fake_system.h"

namespace tarvik {
namespace {

// Formats of one conversion and its argument, with what the C library writes.
template <typename T>
void ExpectFormatsAsTheCLibrary(const char* format, T value) {
  char expected[128];
  const int size = std::snprintf(expected, sizeof expected, format, value);
  EXPECT_EQ(StrFormat(format, value), std::string(expected, static_cast<size_t>(size))) << format;
}

// The trace's and log's lines are formatted without the C library where they
// can be; they read the same either way.
TEST(StrFormatTest, LinesReadAsTheCLibraryWritesThem) {
  for (int value : {0, 7, -1, 2147483647, -2147483647 - 1}) {
    for (const char* format : {"%d", " %d Bytes received from sender\n", "%i%%", "0x%x", "0x%X", "%u", "%5d", "%-3x|",
                               "%02X", "%+d"}) {
      ExpectFormatsAsTheCLibrary(format, value);
    }
  }
  for (const char* text : {"", "m_DevicePath:\\\\?\\hid#vid", "%d inside"}) {
    for (const char* format : {"%s", "[%s]\n", "%.3s", "%10s"}) ExpectFormatsAsTheCLibrary(format, text);
  }
  ExpectFormatsAsTheCLibrary("%c!", 'A');
  ExpectFormatsAsTheCLibrary("%ld", 1234567L);
  ExpectFormatsAsTheCLibrary("%.2f s", 1.25);
  EXPECT_EQ(StrFormat("\nSET_FIRMWARE_DATA read_pos %d offset 0x%x\n\n", 32, 0x4e0),
            "\nSET_FIRMWARE_DATA read_pos 32 offset 0x4e0\n\n");
}

class DiagTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  test::FakeSystem system{clock};
  test::TempDir dir;
  CDiag diag{system};

  DiagTest() { system.currentDirectory = dir.Path().string(); }
  std::filesystem::path LogPath() const { return dir.Path() / "log.txt"; }
  void CreateLog() { std::ofstream(LogPath()).flush(); }
  std::string ReadLog() const {
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
};

TEST_F(DiagTest, WithoutLogFileAtStartNothingIsEverWritten) {
  diag.CheckLogEnabled();
  CreateLog();  // appearing later does not switch the log on
  diag.WriteLog("Reset gamepad\n");
  diag.WriteLogTimestamp();
  EXPECT_FALSE(diag.IsLogEnabled());
  EXPECT_EQ(ReadLog(), "");
  std::filesystem::remove(LogPath());
  diag.WriteLog("x");
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(DiagTest, EntriesAppendWithCrLfAndRunOnWithoutLineEnd) {
  CreateLog();
  diag.CheckLogEnabled();
  ASSERT_TRUE(diag.IsLogEnabled());
  diag.WriteLog("Get device info error");
  diag.WriteLog("\n\n%s\n", "----");
  diag.WriteLog("pid=0x%04x\n", 0x7e23);
  EXPECT_EQ(ReadLog(), "Get device info error\r\n\r\n----\r\npid=0x7e23\r\n");
}

TEST_F(DiagTest, TimestampPadsEveryField) {
  CreateLog();
  diag.CheckLogEnabled();
  system.localTime = {2025, 1, 1, 0, 0, 0};
  diag.WriteLogTimestamp();
  system.localTime = {2024, 3, 5, 9, 7, 2};
  diag.WriteLogTimestamp();
  EXPECT_EQ(ReadLog(), "2025-01-01 00:00:00\r\n2024-03-05 09:07:02\r\n");
}

TEST_F(DiagTest, DeletedLogIsCreatedAgainByTheNextEntry) {
  CreateLog();
  diag.CheckLogEnabled();
  std::filesystem::remove(LogPath());
  diag.WriteLog("Prepare next update\n");
  EXPECT_EQ(ReadLog(), "Prepare next update\r\n");
}

TEST_F(DiagTest, EntriesFromTwoThreadsNeverInterleave) {
  CreateLog();
  diag.CheckLogEnabled();
  const std::string a(200, 'a');
  const std::string b(200, 'b');
  auto writer = [&](const std::string& text) {
    for (int i = 0; i < 200; ++i) diag.WriteLog("%s\n", text.c_str());
  };
  std::thread first(writer, a);
  std::thread second(writer, b);
  first.join();
  second.join();
  std::istringstream lines(ReadLog());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(line == a + "\r" || line == b + "\r") << line.substr(0, 20);
    ++count;
  }
  EXPECT_EQ(count, 400);
}

TEST_F(DiagTest, TraceFormatsOneLinePerCallEvenWithoutLog) {
  diag.Trace("m_DevicePath:%s\n", "\\\\?\\hid#vid_5a3c");
  diag.TraceText("Tarvik Update v2.00");
  diag.Trace("desVersion is %d\n", 123);
  const auto lines = system.TraceLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "m_DevicePath:\\\\?\\hid#vid_5a3c\n");
  EXPECT_EQ(lines[1], "Tarvik Update v2.00");
  EXPECT_EQ(lines[2], "desVersion is 123\n");

  // Nobody reads the trace: formatted lines are not even handed over.
  system.traceReceived = false;
  diag.Trace("desVersion is %d\n", 124);
  EXPECT_EQ(system.TraceLines().size(), 3u);
}

}  // namespace
}  // namespace tarvik
