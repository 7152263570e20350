// tarvik-update-cli as a user runs it.
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/cli_process.h"
#include "tests/support/image_builder.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::vector<nlohmann::json> events;
};

Result RunCli(const std::string& arguments, const std::string& environment = "LANG=en_US.UTF-8") {
  const std::string command =
      "env -u LANGUAGE -u LC_ALL -u LC_MESSAGES " + environment + " " TARVIK_CLI_PATH " " + arguments +
      " 2>/dev/null";
  Result result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  tarvik::test::KeepJsonDocument(arguments, result.out);
  size_t start = 0;
  while (start < result.out.size()) {
    const size_t end = result.out.find('\n', start);
    const std::string line = result.out.substr(start, end - start);
    if (!line.empty() && line[0] == '{') {
      result.events.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return result;
}

std::vector<nlohmann::json> Events(const Result& r, const std::string& ev) {
  std::vector<nlohmann::json> found;
  for (const auto& e : r.events) {
    if (e.value("ev", "") == ev) found.push_back(e);
  }
  return found;
}

TEST(CliTest, NoControllerShowsTheStartStateAndRefusesThePress) {
  const Result r = RunCli("--simulate none run --transcript -");
  EXPECT_EQ(r.status, 1);
  const auto titles = Events(r, "title");
  ASSERT_EQ(titles.size(), 1u);
  EXPECT_EQ(titles[0]["text"], "Tarvik Update v2.00");
  bool buttonText = false, disabled = false, helpText = false, noticeHidden = false;
  for (const auto& e : r.events) {
    if (e["ev"] == "text" && e["id"] == 1007) buttonText = e["text"] == "USB Update";
    if (e["ev"] == "enable" && e["id"] == 1007) disabled = e["on"] == false;
    if (e["ev"] == "text" && e["id"] == 1008) {
      helpText = e["text"] ==
                 "1. Hold down pair button and connect to PC via USB cable.\r\n\r\n2. Click \"USB "
                 "Update\" button and select firmware file.";
    }
    if (e["ev"] == "show" && e["id"] == -1) noticeHidden = e["on"] == false;
  }
  EXPECT_TRUE(buttonText && disabled && helpText && noticeHidden);
  const auto range = Events(r, "range");
  ASSERT_EQ(range.size(), 1u);
  EXPECT_EQ(range[0]["lo"], 0);
  EXPECT_EQ(range[0]["hi"], 100);
  EXPECT_EQ(Events(r, "progress")[0]["pos"], 0);
  for (const auto& e : r.events) {
    ASSERT_TRUE(e.contains("t") && e["t"].is_number());
  }
}

TEST(CliTest, ChineseLocaleGivesTheChineseButtonText) {
  const Result r = RunCli("--simulate none run --transcript - --press 0", "LANG=zh_CN.UTF-8");
  EXPECT_EQ(r.status, 0);
  bool found = false;
  for (const auto& e : r.events) {
    if (e["ev"] == "text" && e["id"] == 1007) found = e["text"] == "USB 升级";
  }
  EXPECT_TRUE(found);
}

TEST(CliTest, BootControllerTracesItsPathAndEnablesTheButton) {
  const Result r = RunCli("--simulate boot --sim clock=virtual --sim extra=3 --transcript - run --press 0");
  EXPECT_EQ(r.status, 0);
  const auto traces = Events(r, "trace");
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces[0]["text"].get<std::string>().rfind("m_DevicePath:\\\\?\\hid#vid_5a3c&pid_7e23", 0), 0u);
  const auto enables = Events(r, "enable");
  ASSERT_FALSE(enables.empty());
  EXPECT_EQ(enables.back()["on"], true);
}

TEST(CliTest, ModeTwoControllerGetsTheSignalReportInTheTranscript) {
  // A controller that stays in report mode 2: the version query follows in its framing.
  const Result r = RunCli("--simulate packet2 --sim clock=virtual --sim switch=ignore --transcript - run --press 0");
  EXPECT_EQ(r.status, 0);
  const auto out = Events(r, "out");
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[0]["hex"], "00050050010000" + std::string(116, '0'));
  EXPECT_EQ(out[1]["hex"], "00050016010004" + std::string(116, '0'));
}

TEST(CliTest, UnplugAfterFirstReportSendsTheRemovalNotice) {
  const Result r =
      RunCli("--simulate packet2 --sim clock=virtual --sim switch=ignore --sim unplug.after=1 --transcript - run --press 0");
  EXPECT_EQ(r.status, 0);
  const auto devices = Events(r, "device");
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["event"], 0x8004);
}

TEST(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunCli("--simulate bogus run").status, 2);
  EXPECT_EQ(RunCli("--simulate boot --sim nonsense=1 run").status, 2);
  EXPECT_EQ(RunCli("--simulate boot --sim extra=many run").status, 2);
  EXPECT_EQ(RunCli("--simulate boot run --confirm maybe").status, 2);
  EXPECT_EQ(RunCli("--simulate boot run --press -1").status, 2);
  EXPECT_EQ(RunCli("").status, 2);
}

TEST(CliTest, TranscriptGoesToAFile) {
  char path[] = "/tmp/tarvik-cli-test-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const Result r = RunCli(std::string("--simulate boot --sim clock=virtual run --press 0 --transcript ") + path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Window title: Tarvik Update v2.00 (Fw v1.20 r5)\n");
  FILE* file = std::fopen(path, "r");
  ASSERT_NE(file, nullptr);
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
  std::fclose(file);
  std::remove(path);
  EXPECT_EQ(nlohmann::json::parse(line)["ev"], "show");
}

// A two-record image: 100 bytes for the main mcu, 50 for the ATmcu (none with
// `atRecord` false).
std::string WriteImage(const std::string& name, size_t trailing = 0, bool atRecord = true) {
  std::vector<uint8_t> image;
  auto record = [&](uint32_t version, uint32_t address, uint32_t length, uint16_t pid) {
    uint8_t header[28] = {};
    for (int i = 0; i < 4; ++i) {
      header[i] = static_cast<uint8_t>(version >> (8 * i));
      header[4 + i] = static_cast<uint8_t>(address >> (8 * i));
      header[8 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    header[12] = static_cast<uint8_t>(pid);
    image.insert(image.end(), header, header + 28);
    for (uint32_t i = 0; i < length; ++i) image.push_back(static_cast<uint8_t>(i));
  };
  record(123, 0x08004000, 100, 1);
  if (atRecord) record((2u << 16) | 110, 0x2000, 50, 0);
  image.insert(image.end(), trailing, 0);
  const std::string path = "/tmp/tarvik-cli-" + std::to_string(getpid()) + "-" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(image.data(), 1, image.size(), file);
  std::fclose(file);
  return path;
}

TEST(CliTest, RunUpdatesTheSimulatedControllerAndDumpsItsFlash) {
  const std::string image = WriteImage("run.dat");
  const Result r = RunCli("--simulate boot --sim clock=virtual --transcript - run --image " + image);
  EXPECT_EQ(r.status, 0);
  const auto boxes = Events(r, "msgbox");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0]["text"],
            "Fw 1.23 and current is 1.20\nATmcu 1.10 beta2 and current is 1.10\n"
            "The image's ATmcu record (1.10 beta2) is older than the ATmcu's firmware (1.10).\n" + tarvik::test::kUnsignedLine);
  EXPECT_EQ(boxes[1]["text"], "\n Firmware upgraded! \n");
  EXPECT_EQ(boxes[1]["caption"], "Tarvik Update v2.00");
  const auto flash = Events(r, "flash");
  ASSERT_EQ(flash.size(), 2u);
  EXPECT_EQ(flash[0]["mcu"], "main");
  EXPECT_EQ(flash[0]["address"], 0x08004000);
  EXPECT_EQ(flash[0]["hex"].get<std::string>().substr(0, 8), "00010203");
  EXPECT_EQ(flash[1]["mcu"], "at");
  EXPECT_EQ(flash[1]["address"], 0x2000);
  const auto stamps = Events(r, "stamp");
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_EQ(stamps[1]["version"], (2 << 16) | 110);
  // The erase frame as the controller got it: report ID, marker, command 4.
  bool eraseSeen = false;
  for (const auto& out : Events(r, "out")) {
    const std::string erase = std::string("00") + "05" + "0400" + "0000" + "00000000" + "00800000" + "00400008";
    eraseSeen = eraseSeen || out["hex"].get<std::string>().rfind(erase, 0) == 0;
  }
  EXPECT_TRUE(eraseSeen);
  std::remove(image.c_str());
}

TEST(CliTest, ImageListsRecordsAndRejectsBadImages) {
  const std::string good = WriteImage("good.dat");
  Result r = RunCli("image --json " + good);
  EXPECT_EQ(r.status, 0);
  const auto document = nlohmann::json::parse(r.out);
  EXPECT_EQ(document["payloadTotal"], 150);
  EXPECT_EQ(document["records"][1]["version"], (nlohmann::json{{"text", "1.10 beta2"}, {"word", (2 << 16) | 110}}));
  EXPECT_EQ(document["records"][1]["mcu"], "at");
  EXPECT_TRUE(document["accepted"]);

  // Ten bytes after the records: boot mode refuses the file, the packet protocol writes record 1.
  const std::string trailing = WriteImage("trailing.dat", 10);
  r = RunCli("image " + trailing);
  EXPECT_EQ(r.status, 0);
  for (const char* line : {
           "  88 bytes after record 1: the packet protocol sends the first 28 of them in its last data packet; the "
           "controller keeps desLen (100 bytes)\n",
           "  boot command protocol (report mode 3): refuses it: the 88 bytes after record 1 are not records that "
           "fill the file (10 bytes at offset 206 do not form a record header)\n",
           "  firmware packet protocol (report modes 1 and 2): writes record 1\n", "Accepted\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
  EXPECT_EQ(r.out.find("record 2:"), std::string::npos) << r.out;
  r = RunCli("image --json " + trailing);
  EXPECT_EQ(r.status, 0);
  const auto writes = nlohmann::json::parse(r.out)["writes"];
  EXPECT_EQ(writes["packet"], (nlohmann::json{{"records", {1}}, {"trailingBytes", 88}, {"trailingSent", 28}}));
  EXPECT_EQ(writes["boot"]["refused"], "10 bytes at offset 206 do not form a record header");

  const std::string bad = WriteImage("bad.dat", 10, false);
  std::filesystem::resize_file(bad, 100);  // record 1 cut short
  r = RunCli("image " + bad);
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.out.find("Rejected"), std::string::npos);
  EXPECT_EQ(RunCli("image /nonexistent/fw.dat").status, 4);
  std::remove(good.c_str());
  std::remove(trailing.c_str());
  std::remove(bad.c_str());
}

TEST(CliTest, InfoShowsBothBlocksAndFailsWithoutAnAnswer) {
  Result r = RunCli("--simulate boot --sim clock=virtual --sim main.version=0x2007b --json info");
  EXPECT_EQ(r.status, 0);
  const auto controller = nlohmann::json::parse(r.out)["controllers"].at(0);
  EXPECT_EQ(controller["reportMode"], 3);
  EXPECT_EQ(controller["title"], "Tarvik Update v2.00 (Fw v1.23 beta2 r5)");
  EXPECT_EQ(controller["main"]["verAddr"], 0x0800FC00);
  EXPECT_EQ(controller["main"]["uid"], controller["uid"]);
  EXPECT_EQ(controller["at"]["pid"], 0x0A01);

  EXPECT_EQ(RunCli("--simulate boot --sim clock=virtual --sim info.at=silent info").status, 1);
  EXPECT_EQ(RunCli("--simulate none info").status, 3);
}

TEST(CliTest, FlashAsksOnTheTerminalUnlessTold) {
  const std::string image = WriteImage("flash.dat");
  // No answer on standard input: the confirmation counts as No.
  Result r = RunCli("--simulate boot --sim clock=virtual flash " + image + " </dev/null");
  EXPECT_EQ(r.status, 5);
  // The main record is newer, the ATmcu's (1.10 beta2) older than the ATmcu's 1.10: the guard
  // weighs each record against its own microcontroller.
  r = RunCli("--simulate boot --sim clock=virtual --json flash --yes " + image);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(nlohmann::json::parse(r.out)["reason"],
            "the image's ATmcu record (1.10 beta2) is older than the ATmcu's firmware (1.10); add --allow-older to "
            "write it anyway");
  r = RunCli("--simulate boot --sim clock=virtual --json flash --yes --allow-older " + image);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(nlohmann::json::parse(r.out)["result"], "upgraded");
  r = RunCli("--simulate boot --sim clock=virtual --sim at.version=100 --sim write.fail=0:3 flash -y " + image);
  EXPECT_EQ(r.status, 1);
  std::remove(image.c_str());
}

TEST(CliTest, PacketControllersUpdateAndReportTheirVersion) {
  // The protocol delivers one record: an image with a second one is refused, not cut short.
  const std::string two = WriteImage("packet-two.dat");
  Result r = RunCli("--simulate packet1 --sim clock=virtual --transcript - run --image " + two);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Events(r, "outcome")[0]["result"], "rejected");
  EXPECT_TRUE(Events(r, "received")[0]["hex"].get<std::string>().empty());
  EXPECT_EQ(RunCli("--simulate packet1 --sim clock=virtual flash --yes " + two).status, 4);
  std::remove(two.c_str());

  const std::string image = WriteImage("packet.dat", 0, false);
  r = RunCli("--simulate packet1 --sim clock=virtual --transcript - run --image " + image);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Events(r, "title")[0]["text"], "Tarvik Update v2.00(GamePad V1.23)");
  const auto received = Events(r, "received");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["hex"].get<std::string>().size(), 2u * 100u);

  r = RunCli("--simulate packet2 --sim clock=virtual --sim switch=ignore --transcript - run --image " + image);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Events(r, "msgbox").back()["text"],
            "Firmware update failure, please handle work in BOOT mode\n\nThe controller must be put in boot mode first "
            "(hold the pair button while plugging it in).");
  r = RunCli("--simulate packet2 --sim clock=virtual --sim switch=replug --transcript - run --image " + image);
  EXPECT_EQ(r.status, 0);

  // flash waits for a report-mode-2 controller to come back in report mode 1
  // after the signal; one that stays is asked again after the wait, then refused.
  r = RunCli("--simulate packet2 --sim clock=virtual --sim switch=ignore --transcript - flash --yes --allow-reinstall " +
             image);
  EXPECT_EQ(r.status, 1);
  std::vector<uint64_t> signalled;
  for (const auto& out : Events(r, "out")) {
    if (out["hex"].get<std::string>().rfind("00050050", 0) == 0) signalled.push_back(out["t"].get<uint64_t>());
  }
  ASSERT_EQ(signalled.size(), 2u);
  EXPECT_GE(signalled[1] - signalled[0], 5000u);

  r = RunCli("--simulate packet1 --sim clock=virtual --sim version=0x2007b --json info");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(nlohmann::json::parse(r.out)["controllers"].at(0)["version"]["text"], "1.23 beta2");
  EXPECT_EQ(RunCli("--simulate packet1 --sim clock=virtual --sim version=silent info").status, 1);
  std::remove(image.c_str());
}

}  // namespace
