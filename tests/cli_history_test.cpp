// The image's SHA-256 and signature (image, flash --sha256) and the journal
// of every flash attempt (history), through tarvik-update-cli on simulated
// controllers.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/cli_process.h"
#include "tests/support/image_builder.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// sha256sum of the image SetUp writes.
constexpr const char* kImageSha256 = "a474965064d64ada9af627c0261e3f3ffac9b60224cf8cb189e25cf87fafcb43";
constexpr const char* kVirtual = "--sim clock=virtual ";
// The simulated boot-mode controllers' UIDs, as list shows them.
constexpr const char* kFirstUid = "32415f114e38532220373133";
constexpr const char* kSecondUid = "32415f114e38532220373134";

class CliHistoryTest : public ::testing::Test {
 protected:
  fs::path dir;
  fs::path journal;
  std::string image;
  using Run = tarvik::test::CliRun;

  void SetUp() override {
    dir = tarvik::test::ScratchFolder("tarvik-history");
    journal = dir / "state" / "history.jsonl";
    // One main-mcu record of 3000 bytes, version 1.31.
    image = tarvik::test::WriteFile(dir / "fw.dat",
                                    tarvik::test::Record(131, 0x08004000, tarvik::test::Payload(3000, 7)));
  }
  void TearDown() override { fs::remove_all(dir); }

  // The program with `environment` (VAR=VALUE ..., or env's -u VAR); by default the journal is the test's own.
  Run Cli(const std::string& arguments, const std::string& environment = "") { return Start(arguments, environment, true); }
  // image and history: no controller, no transcript.
  Run Query(const std::string& arguments, const std::string& environment = "") {
    return Start(arguments, environment, false);
  }
  Run Start(const std::string& arguments, const std::string& environment, bool transcript) {
    const std::string env = environment.empty() ? "TARVIK_UPDATE_HISTORY=" + journal.string() : environment;
    return tarvik::test::RunCliIn(dir, "env " + env + " " TARVIK_CLI_PATH, arguments, "/dev/null", false, transcript);
  }
  std::vector<json> JournalLines() const {
    std::vector<json> lines;
    std::ifstream in(journal);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line, nullptr, false));
    return lines;
  }
};

TEST_F(CliHistoryTest, ImageShowsItsSha256) {
  const Run text = Query("image " + image);
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find(std::string("SHA-256: ") + kImageSha256), std::string::npos) << text.out;
  const Run document = Query("--json image " + image);
  EXPECT_EQ(document.Document()["sha256"], kImageSha256);
}

// A sample image, signed by the demo key, which simulated controllers trust
// and the machine does not, until its key is in the user's folder.
TEST_F(CliHistoryTest, TheSignatureIsShownAndRecordedWhereverTheImageIs) {
  const fs::path sample = fs::path(TARVIK_SAMPLES_DIR) / "boot-main-v1.31.dat";
  fs::copy_file(sample, dir / "signed.dat");
  fs::copy_file(sample.string() + ".minisig", dir / "signed.dat.minisig");
  const std::string signedImage = (dir / "signed.dat").string();
  const Run flash = Cli(std::string("--simulate boot ") + kVirtual + "--json flash --yes " + signedImage);
  ASSERT_EQ(flash.status, 0) << flash.err;
  const json signature = flash.Document()["signature"];
  EXPECT_EQ(signature["status"], "verified");
  EXPECT_EQ(signature["keyName"], "Tarvik Update demo key");
  EXPECT_EQ(signature["trustedComment"], "Tarvik Update sample image");
  const json outcome = flash.Events("outcome", 0).at(0);
  EXPECT_EQ(outcome["signature"], "verified");
  EXPECT_EQ(outcome["keyId"], signature["keyId"]);
  const json entry = JournalLines().at(0)["image"];
  EXPECT_EQ(entry["signature"], "verified");
  EXPECT_EQ(entry["keyId"], signature["keyId"]);

  const Run untrusted = Query("--json image " + signedImage);
  EXPECT_EQ(untrusted.status, 4);
  EXPECT_EQ(untrusted.Document()["signature"]["status"], "untrusted");
  EXPECT_EQ(untrusted.Document()["code"], "signature_untrusted");
  fs::create_directories(dir / "config" / "tarvik-update" / "trusted-keys");
  fs::copy_file(TARVIK_DEMO_PUBLIC_KEY, dir / "config" / "tarvik-update" / "trusted-keys" / "demo.pub");
  const Run trusted = Query("image " + signedImage, "XDG_CONFIG_HOME=" + (dir / "config").string());
  EXPECT_EQ(trusted.status, 0) << trusted.err;
  EXPECT_NE(trusted.out.find("Signature: signed by Tarvik Update demo key (key " + signature["keyId"].get<std::string>() +
                             ")\n  trusted comment: Tarvik Update sample image\n"),
            std::string::npos)
      << trusted.out;
}

TEST_F(CliHistoryTest, PublishedSha256GuardsEveryKindOfFlash) {
  std::string upper = kImageSha256;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string other = kImageSha256;
  other[10] = other[10] == '0' ? '1' : '0';
  struct Case {
    std::string line;
    int status;
    bool written;
  };
  const std::string simulated = std::string("--simulate boot,boot ") + kVirtual + "--device 1 ";
  const Case cases[] = {
      {simulated + "flash --yes --sha256 " + upper + " " + image, 0, true},
      {simulated + "flash --yes --sha256 " + other + " " + image, 4, false},
      {std::string("--simulate boot,boot ") + kVirtual + "flash --all --yes --sha256 " + other + " " + image, 4, false},
      {std::string("--simulate boot ") + kVirtual + "flash --watch --count 1 --yes --sha256 " + other + " " + image, 4,
       false},
      {simulated + "flash --yes --sha256 " + std::string(kImageSha256).substr(1) + " " + image, 2, false},
      {simulated + "flash --yes --sha256 " + std::string(64, 'g') + " " + image, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Run r = Cli(c.line);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(!r.Events("flash", 1).empty(), c.written);
    EXPECT_TRUE(r.Events("flash", 2).empty());
    if (c.status == 4) {
      // The reason names both digests.
      EXPECT_NE(r.err.find(kImageSha256), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(other), std::string::npos) << r.err;
    }
  }
}

TEST_F(CliHistoryTest, HistoryListsEveryAttemptWithItsControllerAndImage) {
  const std::string boot = std::string("--simulate boot ") + kVirtual;
  EXPECT_EQ(Cli(boot + "flash --yes " + image).status, 0);
  // Already at 1.31: refused by the version guard.
  EXPECT_EQ(Cli(boot + "--sim main.version=131 flash --yes " + image).status, 5);
  EXPECT_EQ(Cli(boot + "flash --yes --sha256 " + std::string(64, 'a') + " " + image).status, 4);
  // Two controllers finishing at once: one whole line each.
  EXPECT_EQ(Cli(std::string("--simulate boot,boot ") + kVirtual + "flash --all --yes " + image).status, 0);

  const Run r = Query("--json history");
  ASSERT_EQ(r.status, 0) << r.err;
  const json document = r.Document();
  EXPECT_EQ(document["command"], "history");
  EXPECT_EQ(document["result"], "ok");
  EXPECT_EQ(document["exitStatus"], 0);
  const json entries = document["entries"];
  ASSERT_EQ(entries.size(), 5u) << r.out;
  struct Expected {
    std::string result, action, from, uid;
  };
  const Expected expected[] = {{"upgraded", "upgrade", "1.20", kFirstUid},
                               {"refused", "reinstall", "1.31", kFirstUid},
                               {"rejected", "", "", ""}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const json& e = entries[i];
    EXPECT_EQ(e["result"], expected[i].result);
    EXPECT_EQ(e.value("action", ""), expected[i].action);
    EXPECT_EQ(e.value("from", json::object()).value("text", ""), expected[i].from);
    EXPECT_EQ(e["image"]["name"], "fw.dat");
    EXPECT_EQ(e["image"]["size"], 28 + 3000);
    EXPECT_EQ(e["image"]["sha256"], kImageSha256);
    EXPECT_EQ(e["to"], (json{{"text", "1.31"}, {"word", 131}}));
    EXPECT_TRUE(e["time"].get<std::string>().ends_with("Z"));
    if (expected[i].uid.empty()) {
      EXPECT_FALSE(e.contains("controller"));
    } else {
      EXPECT_EQ(e["controller"]["uid"], expected[i].uid);
      EXPECT_EQ(e["controller"]["product"], "5a3c:7e23");
    }
  }
  EXPECT_TRUE(entries[0]["seconds"].is_number());
  EXPECT_NE(entries[2]["reason"].get<std::string>().find(std::string(64, 'a')), std::string::npos);
  const std::set<std::string> fleet = {entries[3]["controller"]["uid"], entries[4]["controller"]["uid"]};
  EXPECT_EQ(fleet, (std::set<std::string>{kFirstUid, kSecondUid}));

  // --device: a UID as list shows it or as typed, or the product; no controller needed.
  const Run byUid = Query("--json --device 32415F11:4E385322:20373134 history");
  ASSERT_EQ(byUid.Document()["entries"].size(), 1u) << byUid.out;
  EXPECT_EQ(Query("--json --device 5a3c:7e23 history").Document()["entries"].size(), 4u);
  const Run text = Query("history");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find(std::string(kFirstUid) + "  fw.dat  1.20 -> 1.31  upgraded"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1.31 -> 1.31  refused"), std::string::npos) << text.out;
  EXPECT_EQ(Query("--simulate boot history").status, 2);
}

TEST_F(CliHistoryTest, UnwritableJournalIsAWarningOnly) {
  tarvik::test::WriteFile(dir / "blocker", {1});
  journal = dir / "blocker" / "history.jsonl";
  const Run one = Cli(std::string("--simulate boot ") + kVirtual + "flash --yes " + image);
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.err.find("warning: the history could not be written"), std::string::npos) << one.err;
  const Run all = Cli(std::string("--simulate boot,boot ") + kVirtual + "--json flash --all --yes " + image);
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.Document()["result"], "upgraded");
  const size_t first = all.err.find("warning");
  EXPECT_TRUE(first != std::string::npos && all.err.find("warning", first + 1) == std::string::npos) << all.err;
}

TEST_F(CliHistoryTest, DamagedLinesAreSkippedAndKept) {
  EXPECT_EQ(Cli(std::string("--simulate boot ") + kVirtual + "flash --yes " + image).status, 0);
  const std::string good = tarvik::test::ReadAll(journal);
  const std::string damaged = good + "{\"time\": \"2026-01-01T00:00:00Z\", \"resu\n" + "[1, 2]\n" + good;
  tarvik::test::WriteFile(journal, std::vector<uint8_t>(damaged.begin(), damaged.end()));
  const Run r = Query("--json history");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.Document()["entries"].size(), 2u) << r.out;
  EXPECT_NE(r.err.find("line 2 of"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 3 of"), std::string::npos) << r.err;
  EXPECT_EQ(tarvik::test::ReadAll(journal), damaged);
}

// A line nested far deeper than an entry is damaged, not copied or printed.
TEST_F(CliHistoryTest, DeeplyNestedLinesAreDamaged) {
  EXPECT_EQ(Cli(std::string("--simulate boot ") + kVirtual + "flash --yes " + image).status, 0);
  const std::string good = tarvik::test::ReadAll(journal);
  const std::string entry = R"({"time":"2026-01-01T00:00:00Z","result":"failed","image":{"name":"fw.dat"},"note":)";
  for (const size_t depth : {64u, 200000u}) {
    SCOPED_TRACE(depth);
    const std::string text = good + entry + std::string(depth, '[') + std::string(depth, ']') + "}\n";
    tarvik::test::WriteFile(journal, std::vector<uint8_t>(text.begin(), text.end()));
    const Run lines = Query("history");
    EXPECT_EQ(lines.status, 0) << lines.err;
    EXPECT_NE(lines.err.find("line 2 of"), std::string::npos) << lines.err;
    const Run document = Query("--json history");
    EXPECT_EQ(document.status, 0) << document.err;
    EXPECT_EQ(document.Document()["entries"].size(), 1u) << document.out;
  }
}

TEST_F(CliHistoryTest, JournalLivesInTheStateDirectoryAndSimulationsStayOutOfIt) {
  const fs::path state = dir / "xdg" / "tarvik-update" / "history.jsonl";
  const fs::path home = dir / "home" / ".local" / "state" / "tarvik-update" / "history.jsonl";
  EXPECT_EQ(Cli(std::string("--simulate boot ") + kVirtual + "flash --yes " + image).status, 0);
  const std::string line = tarvik::test::ReadAll(journal);
  fs::create_directories(state.parent_path());
  fs::create_directories(home.parent_path());
  tarvik::test::WriteFile(state, std::vector<uint8_t>(line.begin(), line.end()));
  const std::string twice = line + line;
  tarvik::test::WriteFile(home, std::vector<uint8_t>(twice.begin(), twice.end()));
  const std::string xdg = "-u TARVIK_UPDATE_HISTORY XDG_STATE_HOME=" + (dir / "xdg").string() + " HOME=" +
                          (dir / "home").string();
  const std::string homeOnly = "-u TARVIK_UPDATE_HISTORY -u XDG_STATE_HOME HOME=" + (dir / "home").string();
  EXPECT_EQ(Query("--json history", xdg).Document()["entries"].size(), 1u);
  EXPECT_EQ(Query("--json history", homeOnly).Document()["entries"].size(), 2u);
  // A simulated controller's update goes only to a journal named for it.
  EXPECT_EQ(Cli(std::string("--simulate boot ") + kVirtual + "flash --yes " + image, xdg).status, 0);
  EXPECT_EQ(Query("--json history", xdg).Document()["entries"].size(), 1u);
  EXPECT_EQ(tarvik::test::ReadAll(home), twice);
}

}  // namespace
