// The transcript's lines written without a document per line read the same
// as the lines of the same events written through the JSON library.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "platform/std/virtual_clock.h"
#include "transcript/transcript.h"

namespace tarvik {
namespace {

// Everything written to `file` since its start.
std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) text.append(block, n);
  return text;
}

TEST(TranscriptTest, DirectLinesMatchTheLibrarysForEveryKindOfText) {
  using namespace std::string_literals;
  const std::vector<std::string> texts = {
      "",
      "send() is OK!\n",
      "quote \" backslash \\ slash /",
      "controls \x01\x1f\x7f \b\f\r\t end"s,
      "nul \0 inside"s,
      "中文 UTF-8 kept",
      "invalid \xff\xfe UTF-8 \xe4\xb8",
  };
  for (const std::string& text : texts) {
    VirtualClock clock(1000);
    std::FILE* direct = std::tmpfile();
    std::FILE* library = std::tmpfile();
    ASSERT_TRUE(direct && library);
    Transcript a(clock, direct);
    Transcript b(clock, library);
    clock.SleepMs(12);
    a.RecordText("trace", "text", text);
    b.Record({{"ev", "trace"}, {"text", text}});
    a.RecordText("trace", "text", text, 7);
    b.Record({{"ev", "trace"}, {"text", text}, {"dev", 7}});
    a.Flush();
    b.Flush();
    EXPECT_EQ(Contents(direct), Contents(library)) << text;
    std::fclose(direct);
    std::fclose(library);
  }
}

TEST(TranscriptTest, ReportLinesMatchTheLibrarys) {
  VirtualClock clock;
  std::FILE* direct = std::tmpfile();
  std::FILE* library = std::tmpfile();
  ASSERT_TRUE(direct && library);
  Transcript a(clock, direct);
  Transcript b(clock, library);
  std::vector<uint8_t> report(256);
  for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i * 37 + 5);
  // Every byte value, every length around the four bytes written at a time,
  // and lines past the block, one longer than a block, that must come out whole and in order.
  std::vector<std::pair<size_t, int>> cases = {{0, 0}, {1, 0}, {3, 0}, {4, 0}, {7, 0}, {64, 0}, {64, 12}, {256, 0}};
  for (int i = 0; i < 600; ++i) cases.emplace_back(size_t(i % 65), i);
  for (const auto& [size, dev] : cases) {
    a.RecordHex("in", "hex", report.data(), size, dev);
    nlohmann::ordered_json event = {{"ev", "in"}, {"hex", ToHex(report.data(), size)}};
    if (dev != 0) event["dev"] = dev;
    b.Record(event);
  }
  const std::vector<uint8_t> large(Transcript::kBlockSize, 0xa5);
  a.RecordHex("received", "hex", large.data(), large.size());
  b.Record({{"ev", "received"}, {"hex", ToHex(large.data(), large.size())}});
  a.RecordText("trace", "text", "last");
  b.Record({{"ev", "trace"}, {"text", "last"}});
  // Before a flush the file holds whole lines only, and not the last ones.
  const std::string before = Contents(direct);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before.back(), '\n');
  EXPECT_EQ(before.find("last"), std::string::npos);
  std::fseek(direct, 0, SEEK_END);
  a.Flush();
  b.Flush();
  const std::string written = Contents(direct);
  EXPECT_EQ(written, Contents(library));
  EXPECT_EQ(written.substr(0, written.find('\n')), "{\"t\":0,\"ev\":\"in\",\"hex\":\"\"}");
  std::fclose(direct);
  std::fclose(library);
}

}  // namespace
}  // namespace tarvik
