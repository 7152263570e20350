// tarvik-update-cli's outcomes as scripts and people meet them: exit statuses,
// the one line on standard output or standard error, the JSON document, and
// the reports each scenario exchanges with the controller against a golden file.
//
// TARVIK_UPDATE_GOLDEN=1 rewrites the golden files from the current output.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/cli_process.h"
#include "tests/support/image_builder.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using tarvik::test::ReadAll;

class CliOutcomeTest : public ::testing::Test {
 protected:
  fs::path dir;
  using Run = tarvik::test::CliRun;

  void SetUp() override { dir = tarvik::test::ScratchFolder("tarvik-outcome"); }
  void TearDown() override { fs::remove_all(dir); }

  // An image of one record per length, the first for the main mcu, the
  // second for the ATmcu; `cut` bytes are taken off the end.
  std::string Image(const std::string& name, std::vector<uint32_t> lengths, uint32_t version = 131,
                    size_t cut = 0) {
    tarvik::test::Bytes bytes;
    for (size_t r = 0; r < lengths.size(); ++r) {
      const tarvik::test::Bytes record =
          tarvik::test::Record(version, r == 0 ? 0x08004000 : 0x2000,
                               tarvik::test::Payload(lengths[r], static_cast<uint8_t>(r)), r == 0 ? 1 : 0);
      bytes.insert(bytes.end(), record.begin(), record.end());
    }
    bytes.resize(bytes.size() - cut);
    return tarvik::test::WriteFile(dir / name, bytes);
  }

  Run Cli(const std::string& arguments, const std::string& input = "/dev/null", bool onTerminal = false) {
    return tarvik::test::RunCliIn(dir, TARVIK_CLI_PATH, arguments, input, onTerminal);
  }
  // image reads only the file: no transcript.
  Run ImageCli(const std::string& arguments) {
    return tarvik::test::RunCliIn(dir, TARVIK_CLI_PATH, "image " + arguments, "/dev/null", false, false);
  }

  static size_t Count(const Run& run, const std::string& ev) {
    size_t n = 0;
    for (const json& e : run.transcript) n += e.value("ev", "") == ev;
    return n;
  }
  static json LastOutcome(const Run& run) {
    EXPECT_FALSE(run.transcript.empty());
    if (run.transcript.empty()) return json();
    // The outcome ends the attempt: no report and no message follows it (the
    // window may still react to a removal notice, and the simulator dumps its flash).
    for (auto e = run.transcript.rbegin(); e != run.transcript.rend(); ++e) {
      const std::string ev = e->value("ev", "");
      if (ev == "outcome") return *e;
      EXPECT_TRUE(ev != "out" && ev != "in" && ev != "msgbox" && ev != "filedialog") << ev;
    }
    ADD_FAILURE() << "no outcome event";
    return json();
  }

  // What the controller was sent and answered, the outcome and what the
  // controller holds at the end, without times and with the scenario's folder
  // as "DIR", compared with tests/golden/NAME.jsonl.
  void ExpectGolden(const Run& run, const std::string& name) {
    static const std::set<std::string> kControllerEvents = {"out", "in", "outcome", "flash", "stamp", "received"};
    std::string text;
    for (json e : run.transcript) {
      if (kControllerEvents.count(e.value("ev", "")) == 0) continue;
      e.erase("t");
      if (e.contains("seconds")) e["seconds"] = 0;
      std::string line = e.dump();
      for (size_t at; (at = line.find(dir.string())) != std::string::npos;) line.replace(at, dir.string().size(), "DIR");
      text += line + "\n";
    }
    const fs::path golden = fs::path(TARVIK_GOLDEN_DIR) / (name + ".jsonl");
    if (std::getenv("TARVIK_UPDATE_GOLDEN")) {
      std::ofstream(golden, std::ios::binary) << text;
      return;
    }
    EXPECT_EQ(text, ReadAll(golden)) << "transcript differs from " << golden;
  }
};

constexpr const char* kBoot = "--simulate boot --sim clock=virtual ";
constexpr const char* kPacket = "--simulate packet1 --sim clock=virtual ";

TEST_F(CliOutcomeTest, ImagesThatCannotBeUsedAreRefusedBeforeAnyReport) {
  const std::string missing = (dir / "missing.dat").string();
  Run r = Cli(std::string(kBoot) + "flash --yes " + missing);
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "tarvik-update-cli: cannot open " + missing + ": No such file or directory\n");
  EXPECT_EQ(Count(r, "out"), 0u);
  EXPECT_EQ(LastOutcome(r)["result"], "rejected");

  r = Cli(std::string(kBoot) + "flash --yes " + dir.string());
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "tarvik-update-cli: cannot open " + dir.string() + ": it is a directory\n");
  EXPECT_EQ(Count(r, "out"), 0u);

  // A broken image is refused before the version confirmation is asked.
  const std::string broken = Image("broken.dat", {100}, 131, 10);
  r = Cli(std::string(kBoot) + "--json flash " + broken);
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Count(r, "out"), 0u);
  EXPECT_EQ(r.err.find("Write it?"), std::string::npos);
  const json document = r.Document();
  EXPECT_EQ(document["result"], "rejected");
  EXPECT_EQ(document["reason"], broken + " is not a valid image: record 1 runs past the end of the file");
  EXPECT_EQ(document["exitStatus"], 4);

  r = ImageCli("--json " + dir.string());
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.Document()["reason"], "cannot open " + dir.string() + ": it is a directory");
}

// Images and information blocks the update would not write as checked end
// before any erase or data packet, with a reason that names the record or block.
// A script tells what happened by the code beside the reason, in the
// document and in the controller's result alike, whatever the wording.
TEST_F(CliOutcomeTest, EachEndCarriesTheCodeOfWhatHappened) {
  const std::string image = Image("fw.dat", {100});
  const std::string damaged = Image("damaged.dat", {100});
  std::ofstream(damaged + ".minisig") << "untrusted comment: no signature follows\n";
  const std::string virtualClock = "--json --sim clock=virtual ";
  const struct {
    std::string arguments;
    int status;
    const char* code;
  } cases[] = {
      {"--simulate boot --sim erase=silent flash --yes " + image, 1, "erase_unanswered"},
      {"--simulate boot --sim erase.busy=100 flash --yes " + image, 1, "erase_busy"},
      {"--simulate boot --sim unplug.after=8 flash --yes " + image, 1, "disconnected"},
      {"--simulate boot flash --yes --sha256 " + std::string(64, '0') + " " + image, 4, "digest_mismatch"},
      {"--simulate boot flash --yes --require-signature " + image, 4, "unsigned"},
      {"--simulate boot flash --yes " + damaged, 4, "signature_damaged"},
      {"--simulate boot --sim main.version=132 flash --yes " + image, 5, "older_than_controller"},
      {"--simulate boot --sim info.main=silent flash --yes " + image, 1, "not_queried"},
      {"--simulate packet1 --sim start=silent flash --yes " + image, 1, "controller_silent"},
      {"--simulate packet1 --sim latency.ms=20000 flash --yes " + image, 1, "transfer_too_slow"},
      {"--simulate packet1 --sim fail.at=1 flash --yes " + image, 1, "controller_failure"},
      {"--simulate packet1 --sim version=silent info", 1, "version_untold"},
      {"--simulate boot --sim info.at=silent info", 1, "info_unanswered"},
      {"--simulate none flash --yes " + image, 3, "no_controller"},
      {"--simulate boot flash --yes --pace fast " + image, 2, "usage_error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Run run = Cli(virtualClock + c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    const json document = run.Document();
    EXPECT_EQ(document.value("code", ""), c.code) << run.out;
    EXPECT_FALSE(document.value("reason", "").empty()) << run.out;
    for (const json& result : document.value("results", json::array())) {
      EXPECT_EQ(result.value("code", ""), c.code) << run.out;
    }
  }
}

// What a person meant: a mistyped command named as typed, whatever options
// come before it; one setting for each --sim, so the image's path stays the
// command's; the place list prints picks a controller; a report-mode-2
// controller's switch is told.
TEST_F(CliOutcomeTest, TheCommandLineReadsWhatWasMeant) {
  const std::string image = Image("fw.dat", {100});
  const struct {
    std::string arguments;
    int status;
    const char* says;  // in standard output
  } cases[] = {
      {"--json --simulate boot flsh", 2, "\\\"flsh\\\" is not a command; the nearest is \\\"flash\\\""},
      {"--json --device 1 flsh", 2, "\\\"flsh\\\" is not a command"},
      {"--simulate boot flash --watch --count 1 --sim clock=virtual --yes " + image, 0, "1 controller: 1 upgraded"},
      {"--json --simulate boot,boot --sim clock=virtual --device sim-2 info", 0, "\"location\": \"sim-2\""},
      {"--simulate packet2 --sim clock=virtual info", 0, "switched to report mode 1"},
      {"--json --simulate packet2 --sim clock=virtual info", 0, "\"reportModeBefore\": 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Run run = Cli(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
  }
}

TEST_F(CliOutcomeTest, WhatWouldNotBeWrittenAsCheckedEndsBeforeAnyErase) {
  using tarvik::test::Bytes;
  using tarvik::test::Concat;
  using tarvik::test::Payload;
  using tarvik::test::Record;
  const std::string packet1 = "--simulate packet1 --sim clock=virtual ";
  const Bytes good = Concat({Record(131, 0x08004000, Payload(100)), Record(131, 0x2000, Payload(50), 0)});
  struct Case {
    std::string simulate;
    Bytes image;
    int status;
    const char* reason;
  } cases[] = {
      {kBoot, Concat({Record(131, 0x08004000, Payload(100)), Record(0, 0x08005000, Payload(50)),
                      Record(131, 0x2000, Payload(60), 0)}),
       4, "record 2 has version 0"},
      {packet1, good, 4, "record 2 (ATmcu, 50 bytes) would be dropped"},
      {kBoot, Record(131, 0x7FFFFFF0u, Payload(100)), 4, "record 1 (main mcu, 100 bytes at 0x7FFFFFF0) reaches"},
      {kBoot, Concat({Record(131, 0x08004000, Payload(100)), Record(131, 0x08004040, Payload(50))}), 4,
       "records 1 and 2 overlap on the main mcu"},
      {std::string(kBoot) + "--sim main.veraddr=0xFFFFFFFF ", good, 1, "the main mcu's information block gives VerAddr 0xFFFFFFFF"},
      {std::string(kBoot) + "--sim main.veraddr=0x8000FC00 ", good, 1, "the main mcu's information block gives VerAddr 0x8000FC00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const std::string image = tarvik::test::WriteFile(dir / "hostile.dat", c.image);
    const Run r = Cli(c.simulate + "--json flash --yes --allow-older " + image);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.Document()["reason"].get<std::string>().find(c.reason), std::string::npos) << r.out;
    for (const json& e : r.transcript) {
      if (e.value("ev", "") != "out") continue;
      const std::string hex = e["hex"];
      EXPECT_NE(hex.substr(0, 8), "00050400") << "an erase went out";
      EXPECT_NE(hex.substr(2, 12), "2300161f0001") << "a header packet went out";
    }
    EXPECT_EQ(Count(r, "flash"), 0u);
  }
}

// Bytes after the one record that form no further records: a packet
// controller keeps desLen bytes, a boot-mode one refuses the file before any erase.
TEST_F(CliOutcomeTest, TrailingBytesAfterTheRecordUpdateAPacketControllerOnly) {
  using tarvik::test::Bytes;
  const Bytes payload = tarvik::test::Payload(100, 3);
  const std::string image = tarvik::test::WriteFile(
      dir / "trailing.dat", tarvik::test::Concat({tarvik::test::Record(124, 0x08004000, payload), Bytes(60, 0xEE)}));
  const auto erased = [](const Run& r) {
    for (const json& e : r.transcript) {
      if (e.value("ev", "") == "out" && e["hex"].get<std::string>().substr(0, 8) == "00050400") return true;
    }
    return false;
  };
  Run r = Cli(std::string(kPacket) + "--json flash --yes " + image);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.Document()["result"], "upgraded");
  ASSERT_EQ(r.Events("received", 0).size(), 1u);
  EXPECT_EQ(r.Events("received", 0)[0]["hex"], tarvik::test::Hex(payload));

  r = Cli(std::string(kBoot) + "--json flash --yes " + image);
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.Document()["reason"], image + " is not a valid image: record 2 runs past the end of the file");
  EXPECT_FALSE(erased(r));

  r = Cli("--simulate packet1,boot --sim clock=virtual --json flash --all --yes " + image);
  ASSERT_EQ(r.Events("outcome", 1).size(), 1u) << r.out;
  EXPECT_EQ(r.Events("outcome", 1)[0]["result"], "upgraded");
  EXPECT_EQ(r.Events("received", 1).at(0)["hex"], tarvik::test::Hex(payload));
  EXPECT_TRUE(r.Events("outcome", 2).empty());
  EXPECT_FALSE(erased(r));
}

TEST_F(CliOutcomeTest, SuccessPrintsOneLineAndNothingElse) {
  const std::string image = Image("fw.dat", {100, 50});
  Run r = Cli(std::string(kBoot) + "flash --yes " + image);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Upgraded controller 5a3c:7e23 (uid ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(", at sim-1) from 1.20 to 1.31 (150 bytes, "), std::string::npos) << r.out;
  // Redirected standard error: no trace, no progress frames.
  EXPECT_EQ(r.err, "");
  const json outcome = LastOutcome(r);
  EXPECT_EQ(outcome["result"], "upgraded");
  EXPECT_EQ(outcome["bytesSent"], 150);
  EXPECT_EQ(outcome["payloadTotal"], 150);
  ExpectGolden(r, "boot-upgraded");

  r = Cli(std::string(kBoot) + "--quiet flash --yes " + image);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Cli(std::string(kBoot) + "-v flash --yes " + image);
  EXPECT_NE(r.err.find("m_DevicePath:"), std::string::npos);

  r = Cli(std::string(kPacket) + "--json flash --yes " + Image("one.dat", {100}));
  EXPECT_EQ(r.status, 0);
  const json document = r.Document();
  EXPECT_EQ(document["result"], "upgraded");
  ASSERT_EQ(document["results"].size(), 1u);
  const json& result = document["results"][0];
  EXPECT_EQ(result["controller"]["product"], "5a3c:7e21");
  EXPECT_EQ(result["from"], (json{{"text", "1.23"}, {"word", 123}}));
  EXPECT_EQ(result["to"], (json{{"text", "1.31"}, {"word", 131}}));
  EXPECT_EQ(result["bytesSent"], 100);
  EXPECT_EQ(result["payloadTotal"], 100);
}

TEST_F(CliOutcomeTest, EachFailureNamesItsStep) {
  const std::string image = Image("fw.dat", {100, 50});
  // A packet-protocol controller takes one record.
  const std::string one = Image("one.dat", {100});
  // What a half-written controller does next, after the reason.
  const auto bootNext = [](const char* bytes) {
    return std::string("The controller holds part of the image (") + bytes +
           " of 150 bytes) and may not start until it is updated: hold the pair button while plugging it in, then "
           "run the same flash again.";
  };
  struct Case {
    std::string arguments;
    std::string reason;
    std::string next;
    std::string golden;
  };
  const Case cases[] = {
      {std::string(kBoot) + "--sim erase=silent", "the erase of record 1 at 0x08004000 was never answered",
       bootNext("0"), "boot-erase-unanswered"},
      {std::string(kBoot) + "--sim write.fail=1:3",
       "the chunk at 0x0800402E was not acknowledged in three attempts", bootNext("46"), "boot-chunk-unacknowledged"},
      {std::string(kBoot) + "--sim unplug.after=9",
       "the controller was disconnected at 66 % (the version stamp of record 1 at 0x0800FC00)", bootNext("100"),
       "boot-unplugged"},
      {std::string(kPacket) + "--sim fail.at=2", "the controller reported failure 0x15 after 2 packets at 64 %",
       "The controller took part of the image (64 of 100 bytes) and keeps its old firmware until an update ends; "
       "unplug it, plug it in again and run the same flash again.",
       "packet-failure-report"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const bool packet = c.arguments.rfind(kPacket, 0) == 0;
    const Run r = Cli(c.arguments + " flash --yes " + (packet ? one : image));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvik-update-cli: " + c.reason + "\ntarvik-update-cli: " + c.next + "\n");
    const json outcome = LastOutcome(r);
    EXPECT_EQ(outcome["result"], "failed");
    EXPECT_EQ(outcome["reason"], c.reason);
    EXPECT_EQ(Count(r, "outcome"), 1u);
    ExpectGolden(r, c.golden);
  }
}

TEST_F(CliOutcomeTest, VersionGuardNoControllerAndUsageErrors) {
  const std::string same = Image("same.dat", {100}, 120);
  Run r = Cli(std::string(kBoot) + "flash --yes " + same);
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("--allow-reinstall"), std::string::npos);
  EXPECT_EQ(Count(r, "out") > 0 && Count(r, "outcome") == 0, true);  // only the start-up query went out
  EXPECT_EQ(Cli(std::string(kBoot) + "flash --yes --allow-reinstall " + same).status, 0);

  const std::string older = Image("older.dat", {100}, 110);
  r = Cli(std::string(kBoot) + "--json flash --yes " + older);
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.Document()["reason"].get<std::string>().find("--allow-older"), std::string::npos);
  // Asked on the terminal, the prompt says so; "n" cancels.
  const fs::path no = dir / "no.txt";
  std::ofstream(no) << "n\n";
  r = Cli(std::string(kBoot) + "flash " + older, no.string(), true);
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find("Fw 1.10 and current is 1.20 (the image is older than the controller's firmware). Write it? [y/N]"),
            std::string::npos);
  // Without a terminal nobody can answer: no prompt, no report, and what a script needs instead.
  r = Cli(std::string(kBoot) + "flash " + older, no.string());
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err,
            "tarvik-update-cli: the update needs a confirmation and standard input is not a terminal: add --yes to "
            "give it\n");
  EXPECT_EQ(Count(r, "out"), 0u);
  EXPECT_EQ(LastOutcome(r)["result"], "cancelled");
  // An unknown version does not stop the update.
  EXPECT_EQ(Cli(std::string(kPacket) + "--sim version=silent flash --yes " + older).status, 0);

  r = Cli("--simulate none --json flash --yes " + older);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.Document()["reason"],
            "no supported controller found: check the cable, and hold the pair button while plugging in a "
            "controller that does not start; list shows what is connected");
  r = Cli("--simulate none --json info");
  EXPECT_EQ(r.status, 3);

  r = Cli("--json flash --frobnicate x.dat");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.Document()["result"], "error");
  r = Cli("--simulate nowhere --json info");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.Document()["result"], "error");
  // An option the command would not use is named, not passed over.
  const struct {
    std::string arguments;
    const char* option;
  } unused[] = {
      {"image --device 1 " + older, "--device does not apply to image"},
      {"--simulate boot image " + older, "--simulate does not apply to image"},
      {"--verbose image " + older, "--verbose does not apply to image"},
      {"--device 1 run", "--device does not apply to run"},
      {"--quiet info", "--quiet does not apply to info"},
      {std::string(kBoot) + "flash --allow-older " + older, "--allow-older goes with --yes"},
  };
  for (const auto& u : unused) {
    r = tarvik::test::RunCliIn(dir, TARVIK_CLI_PATH, u.arguments, "/dev/null", false, false);
    EXPECT_EQ(r.status, 2) << u.arguments;
    EXPECT_EQ(r.err.rfind(std::string("tarvik-update-cli: ") + u.option, 0), 0u) << r.err;
  }

  r = Cli("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tarvik-update-cli " TARVIK_VERSION "\n");
  r = Cli("--help");
  EXPECT_NE(r.out.find("130  interrupted"), std::string::npos);

  // Start-up alone never claims an upgrade.
  r = Cli("--simulate none --json run --press 0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.Document()["upgraded"], false);
}

TEST_F(CliOutcomeTest, ProgressIsDrawnInPlaceOnATerminalOnly) {
  const std::string image = Image("fw.dat", {300, 50});
  // util-linux's script gives the program a terminal and copies what it draws.
  const fs::path screen = dir / "screen.txt";
  const std::string command = "cd " + dir.string() + " && script -qec 'env LANG=en_US.UTF-8 " TARVIK_CLI_PATH
                              " --simulate boot --sim clock=virtual flash --yes " + image + "' " +
                              screen.string() + " >/dev/null 2>&1 </dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string drawn = ReadAll(screen);
  EXPECT_NE(drawn.find("\r[##############################] 100 %  writing record 2  350/350 bytes"),
            std::string::npos)
      << drawn;
  EXPECT_NE(drawn.find("erasing record 1"), std::string::npos);
  EXPECT_NE(drawn.find("at sim-1) from 1.20 to 1.31 (350 bytes, "), std::string::npos);
  // Redirected, the same update draws nothing.
  const Run r = Cli(std::string(kBoot) + "flash --yes " + image);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(CliOutcomeTest, ImageListingIsBoundedWhateverTheFileHolds) {
  // 5000 empty records: the scan walks them all, the listing shows the first 1000.
  const fs::path empty = dir / "empty-records.dat";
  std::ofstream(empty, std::ios::binary) << std::string(28 * 5000, '\0');
  const Run r = ImageCli("--json " + empty.string());
  EXPECT_EQ(r.status, 4);
  const json document = r.Document();
  EXPECT_EQ(document["recordCount"], 5000);
  EXPECT_EQ(document["records"].size(), 1000u);
  EXPECT_EQ(document["reason"], empty.string() + " is not a valid image: the image carries no payload");
}

TEST_F(CliOutcomeTest, CtrlCStopsTheUpdateAtItsNextStepAndSaysWhatIsLeft) {
  // A 64 KiB image on the real clock takes several seconds; the signal comes mid-way.
  const std::string image = Image("big.dat", {65536});
  const std::string transcript = (dir / "transcript.jsonl").string();
  const std::string command = "exec env LANG=en_US.UTF-8 " TARVIK_CLI_PATH " --simulate boot --transcript " +
                              transcript + " --json flash --yes " + image + " >" + (dir / "out.txt").string() +
                              " 2>" + (dir / "err.txt").string() + " </dev/null";
  ASSERT_EQ(tarvik::test::InterruptAfter(command, std::chrono::milliseconds(2500)), 130);
  const std::string out = ReadAll(dir / "out.txt");
  tarvik::test::KeepJsonDocument("--json", out);
  const json document = json::parse(out);
  EXPECT_EQ(document["result"], "interrupted");
  EXPECT_LT(document["results"].at(0)["bytesSent"].get<int>(), 65536);
  EXPECT_NE(document["results"][0]["controllerState"].get<std::string>().find("stays in boot mode"), std::string::npos);
  const std::string err = ReadAll(dir / "err.txt");
  EXPECT_NE(err.find("stays in boot mode with part of the image"), std::string::npos) << err;
  std::ifstream lines(transcript);
  std::string last;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"ev\":\"outcome\"") != std::string::npos) last = line;
  }
  EXPECT_EQ(json::parse(last)["result"], "interrupted");
}


// The output reports of a transcript, per controller ("dev").
std::vector<std::string> Outputs(const std::vector<json>& events, int dev = 0) {
  std::vector<std::string> hex;
  for (const json& e : events) {
    if (e.value("ev", "") == "out" && e.value("dev", 0) == dev) hex.push_back(e["hex"]);
  }
  return hex;
}

std::vector<json> Lines(const std::string& text) {
  std::vector<json> events;
  std::stringstream lines(text);
  for (std::string line; std::getline(lines, line);) events.push_back(json::parse(line, nullptr, false));
  return events;
}

// Each golden transcript, and each recording of tests/recordings/, played
// back with the command line and image it was recorded with: the engine
// sends what was recorded, and the status says it matched, also where the
// recorded update failed (which the output still tells).
TEST_F(CliOutcomeTest, EveryGoldenTranscriptAndRecordingReplaysClean) {
  const std::string image = Image("fw.dat", {100, 50});
  const std::string one = Image("one.dat", {100});
  struct Case {
    std::string arguments;  // after --replay FILE
    std::string reason;     // what the output says of the recorded update
  };
  // By folder and name, without .jsonl.
  const std::map<std::string, Case> cases = {
      {"golden/boot-upgraded", {"flash --yes " + image, ""}},
      {"golden/boot-erase-unanswered",
       {"flash --yes " + image, "the erase of record 1 at 0x08004000 was never answered"}},
      {"golden/boot-chunk-unacknowledged",
       {"flash --yes " + image, "the chunk at 0x0800402E was not acknowledged in three attempts"}},
      {"golden/boot-unplugged", {"flash --yes " + image, "the version stamp of record 1"}},
      {"golden/packet-failure-report",
       {"flash --yes " + one, "the controller reported failure 0x15 after 2 packets at 64 %"}},
  };
  size_t replayed = 0;
  for (const fs::path& folder : {fs::path(TARVIK_GOLDEN_DIR), fs::path(TARVIK_RECORDINGS_DIR)}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() != ".jsonl") continue;
      const std::string name = folder.filename().string() + "/" + entry.path().stem().string();
      SCOPED_TRACE(name);
      ++replayed;
      const auto c = cases.find(name);
      ASSERT_NE(c, cases.end()) << "a transcript without its command line here";
      const Run r = Cli("--replay " + entry.path().string() + " " + c->second.arguments);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.err.find("tarvik-update-cli: the replay matched the recording to its end"), std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find(c->second.reason), std::string::npos) << r.err;
      const std::vector<json> recorded = Lines(ReadAll(entry.path()));
      for (int dev = 0; dev <= 8; ++dev) EXPECT_EQ(Outputs(r.transcript, dev), Outputs(recorded, dev)) << dev;
    }
  }
  EXPECT_EQ(replayed, cases.size());
}

TEST_F(CliOutcomeTest, AReplayThatSendsOtherBytesEndsThereWithStatusSix) {
  const std::string image = Image("fw.dat", {100, 50});
  std::vector<std::string> lines;
  std::stringstream golden(ReadAll(fs::path(TARVIK_GOLDEN_DIR) / "boot-upgraded.jsonl"));
  for (std::string line; std::getline(golden, line);) lines.push_back(line);
  // Line 11: the first data chunk; its 30th byte (a payload byte) recorded otherwise.
  ASSERT_EQ(lines[10].rfind(R"({"ev":"out","hex":"000503)", 0), 0u) << lines[10];
  const size_t at = std::string(R"({"ev":"out","hex":")").size() + 2 * 29;
  lines[10].replace(at, 2, lines[10].substr(at, 2) == "ff" ? "00" : "ff");
  std::ofstream changed(dir / "changed.jsonl", std::ios::binary);
  for (const std::string& line : lines) changed << line << "\n";
  changed.close();

  const Run r = Cli("--replay " + (dir / "changed.jsonl").string() + " flash --yes " + image);
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_NE(r.err.find("tarvik-update-cli: the replay diverged at line 11 of the recording (the controller's output "
                       "report 6)\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\n            " + std::string(2 * 29, ' ') + "^^\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("before it 5 output reports went as recorded (the last at line 9)"), std::string::npos) << r.err;
  // The engine sent what it always sends: the recording is what differs.
  const std::vector<std::string> sent = Outputs(r.transcript);
  ASSERT_GE(sent.size(), 6u);
  EXPECT_EQ(sent[5], Outputs(Lines(ReadAll(fs::path(TARVIK_GOLDEN_DIR) / "boot-upgraded.jsonl")))[5]);
  // Another image is another recording.
  EXPECT_EQ(Cli("--replay " + (fs::path(TARVIK_GOLDEN_DIR) / "boot-upgraded.jsonl").string() + " flash --yes " +
                Image("other.dat", {100, 60}))
                .status,
            6);
}

// Several controllers side by side, one of them leaving mid-way, recorded
// with --transcript and played back.
TEST_F(CliOutcomeTest, ARecordingOfSeveralControllersReplays) {
  const std::string image = Image("fw.dat", {100, 50});
  const Run recorded = Cli("--simulate boot,boot,packet2 --sim clock=virtual --sim 2:unplug.after=6 flash --all --yes " +
                           Image("one.dat", {100}));
  EXPECT_EQ(recorded.status, 1);
  fs::copy_file(dir / "transcript.jsonl", dir / "recording.jsonl");
  const Run replayed = Cli("--replay " + (dir / "recording.jsonl").string() + " flash --all --yes " + (dir / "one.dat").string());
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  for (int dev = 1; dev <= 3; ++dev) {
    SCOPED_TRACE(dev);
    EXPECT_FALSE(Outputs(recorded.transcript, dev).empty());
    EXPECT_EQ(Outputs(replayed.transcript, dev), Outputs(recorded.transcript, dev));
  }
  // The usage line is checked before the recording is read.
  const Run both = Cli("--replay " + (dir / "recording.jsonl").string() + " --simulate boot flash --yes " + image);
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(Cli("--replay " + (dir / "missing.jsonl").string() + " info").status, 2);
}

// A redacted recording holds neither the controller's UID nor the image's
// bytes, and still replays: the same image clean, another of the same sizes
// and version (only its bytes differ) not.
TEST_F(CliOutcomeTest, ARedactedRecordingCarriesNeitherUidNorImageAndStillReplays) {
  using tarvik::test::Bytes;
  const std::string image = Image("fw.dat", {100, 50});
  const Run recorded = Cli(std::string(kBoot) + "--redact flash --yes " + image);
  ASSERT_EQ(recorded.status, 0) << recorded.err;
  EXPECT_NE(recorded.out.find("uid 32415f114e38532220373133"), std::string::npos) << recorded.out;
  const std::string text = ReadAll(dir / "transcript.jsonl");
  // The UID as the information reply carries it, and as the trace writes it.
  EXPECT_EQ(text.find("115f41322253384e33313720"), std::string::npos);
  EXPECT_EQ(text.find("32415f11"), std::string::npos);
  // Any eight bytes in a row of either record's payload.
  const auto hex = [](const Bytes& bytes, size_t from, size_t count) {
    std::string out;
    for (size_t i = from; i < from + count; ++i) out += "0123456789abcdef"[bytes[i] >> 4], out += "0123456789abcdef"[bytes[i] & 15];
    return out;
  };
  for (const Bytes& payload : {tarvik::test::Payload(100, 0), tarvik::test::Payload(50, 1)}) {
    for (size_t at = 0; at + 8 <= payload.size(); at += 4) EXPECT_EQ(text.find(hex(payload, at, 8)), std::string::npos) << at;
  }
  EXPECT_GT(Count(recorded, "out"), 5u);
  fs::copy_file(dir / "transcript.jsonl", dir / "redacted.jsonl");
  const std::string redacted = (dir / "redacted.jsonl").string();

  const Run replayed = Cli("--replay " + redacted + " flash --yes " + image);
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  const std::string other = tarvik::test::WriteFile(
      dir / "other.dat", tarvik::test::Concat({tarvik::test::Record(131, 0x08004000, tarvik::test::Payload(100, 9), 1),
                                               tarvik::test::Record(131, 0x2000, tarvik::test::Payload(50, 1), 0)}));
  const Run diverged = Cli("--replay " + redacted + " flash --yes " + other);
  EXPECT_EQ(diverged.status, 6) << diverged.err;
  EXPECT_NE(diverged.err.find("they are compared by their SHA-256"), std::string::npos) << diverged.err;
  // A replay of it never learns the UID either.
  EXPECT_EQ(ReadAll(dir / "transcript.jsonl").find("32415f11"), std::string::npos);
  // --redact says how a transcript is written: without one it is a mistake.
  EXPECT_EQ(tarvik::test::RunCliIn(dir, TARVIK_CLI_PATH, "--simulate boot --redact list", "/dev/null", false, false).status, 2);
}

// The pace changes only the waits: both send the same reports, each pace's
// recording replays clean under either, and the JSON result, the journal
// line and the transcript's outcome say which pace ran.
TEST_F(CliOutcomeTest, EitherPaceSendsTheSameReportsAndSaysWhichItWas) {
  const std::string image = Image("fw.dat", {100, 50});
  const std::string journal = (dir / "history.jsonl").string();
  std::map<std::string, std::vector<json>> recorded;
  for (const std::string pace : {"parts", "ack"}) {
    SCOPED_TRACE(pace);
    const Run r = tarvik::test::RunCliIn(dir, "env TARVIK_UPDATE_HISTORY=" + journal + " " TARVIK_CLI_PATH,
                                         "--simulate boot --sim latency.ms=1 --json flash --yes --pace " + pace + " " +
                                             image);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Document()["results"][0]["pace"], pace);
    EXPECT_EQ(LastOutcome(r).value("pace", "parts"), pace);
    EXPECT_EQ(Lines(ReadAll(journal)).back()["pace"], pace);
    fs::copy_file(dir / "transcript.jsonl", dir / (pace + ".jsonl"));
    recorded[pace] = r.transcript;
  }
  EXPECT_EQ(Outputs(recorded["parts"]), Outputs(recorded["ack"]));
  for (const std::string made : {"parts", "ack"}) {
    for (const std::string replayed : {"parts", "ack"}) {
      SCOPED_TRACE(made + " replayed at " + replayed);
      const Run r = Cli("--replay " + (dir / (made + ".jsonl")).string() + " flash --yes --pace " + replayed + " " + image);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.err.find("the replay matched the recording to its end"), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(Cli("flash --yes --pace fast " + image).status, 2);
}

}  // namespace
