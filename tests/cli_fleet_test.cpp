// tarvik-update-cli with several controllers on the bus: list, --device,
// flash --all, the station mode (--watch) and its JSON lines, a stream of
// controllers, the summaries, "dev" in the transcript and one step log per
// controller.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/cli_process.h"
#include "tests/support/image_builder.h"
#include "tests/support/terminal_screen.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using tarvik::test::ReadAll;

using tarvik::test::Hex;

class CliFleetTest : public ::testing::Test {
 protected:
  fs::path dir;
  std::vector<uint8_t> payload;  // of the image written by SetUp
  std::string image;
  using Run = tarvik::test::CliRun;

  void SetUp() override {
    dir = tarvik::test::ScratchFolder("tarvik-fleet");
    // One main-mcu record of 3000 bytes, version 1.31.
    for (uint32_t i = 0; i < 3000; ++i) payload.push_back(static_cast<uint8_t>(i * 13 + 5));
    image = tarvik::test::WriteFile(dir / "fw.dat", tarvik::test::Record(131, 0x08004000, payload));
  }
  void TearDown() override { fs::remove_all(dir); }

  Run Cli(const std::string& arguments) { return tarvik::test::RunCliIn(dir, TARVIK_CLI_PATH, arguments); }

  // A station's documents under --json, one a line, each kept for the schema check.
  std::vector<json> Lines(const std::string& arguments, Run& run) {
    run = tarvik::test::RunCliIn(dir, std::string(TARVIK_CLI_PATH) + " --json", arguments);
    std::vector<json> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
      tarvik::test::KeepJsonDocument("--json", line);
      lines.push_back(json::parse(line, nullptr, false));
    }
    return lines;
  }
  // The lines of the controllers that finished, in order.
  static std::vector<json> Finished(const std::vector<json>& lines) {
    std::vector<json> finished;
    for (const json& line : lines) {
      if (line.contains("finished")) finished.push_back(line["finished"]);
    }
    return finished;
  }

  // Whether controller `dev`'s main flash holds the image's payload.
  bool HoldsPayload(const Run& run, int dev) const {
    for (const json& e : run.Events("flash", dev)) {
      if (e["mcu"] == "main" && e["address"] == 0x08004000 && e["hex"] == Hex(payload)) return true;
    }
    return false;
  }
};

constexpr const char* kVirtual = "--sim clock=virtual ";

// Runs the shell command `command`, whose standard error goes to `err`, and
// sends it SIGINT once `err` holds `ready`, whatever the machine's load. Its
// exit status; -1 when it did not exit by itself.
int InterruptOnceSaid(const std::string& command, const fs::path& err, const std::string& ready) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int raw = 0;
  for (int i = 0; i < 6000 && ReadAll(err).find(ready) == std::string::npos; ++i) {
    if (waitpid(child, &raw, WNOHANG) == child) return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGINT);
  if (waitpid(child, &raw, 0) != child || !WIFEXITED(raw)) return -1;
  return WEXITSTATUS(raw);
}

TEST_F(CliFleetTest, ListShowsEveryControllerInBusOrder) {
  const Run r = Cli(std::string("--simulate boot,packet1,packet2 ") + kVirtual + "--json list");
  ASSERT_EQ(r.status, 0) << r.err;
  const json list = r.Document()["controllers"];
  ASSERT_EQ(list.size(), 3u);
  const int modes[] = {3, 1, 2};
  const char* pids[] = {"pid_7e23", "pid_7e21", "pid_7e22"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list[i]["index"], i + 1);
    EXPECT_EQ(list[i]["reportMode"], modes[i]);
    EXPECT_NE(list[i]["path"].get<std::string>().find(pids[i]), std::string::npos);
    EXPECT_EQ(list[i]["location"], "sim-" + std::to_string(i + 1));  // where each is plugged in
  }
  EXPECT_EQ(list[0]["version"], (json{{"text", "1.20"}, {"word", 120}}));
  EXPECT_EQ(list[0]["at"]["version"]["text"], "1.10");
  EXPECT_EQ(list[0]["main"]["revision"], 5);
  EXPECT_EQ(list[0]["uid"], "32415f114e38532220373133");
  EXPECT_EQ(list[1]["product"], "5a3c:7e21");
  EXPECT_FALSE(list[1].contains("uid"));
  // The start-up queries went to each controller under its own number.
  EXPECT_FALSE(r.Events("out", 1).empty());
  EXPECT_FALSE(r.Events("out", 3).empty());
  EXPECT_TRUE(r.Events("out", 0).empty());

  const Run text = Cli(std::string("--simulate boot,boot ") + kVirtual + "list");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("uid 32415f114e38532220373133"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("uid 32415f114e38532220373134"), std::string::npos) << text.out;
  EXPECT_EQ(Cli("--simulate none list").status, 3);

  // --device lists that controller alone, under its own number; one that is not there is said so.
  const Run second = Cli(std::string("--simulate boot,packet1,packet2 ") + kVirtual + "--device 2 --json list");
  EXPECT_EQ(second.status, 0);
  const json only = second.Document()["controllers"];
  ASSERT_EQ(only.size(), 1u);
  EXPECT_EQ(only[0]["index"], 2);
  EXPECT_EQ(only[0]["reportMode"], 1);
  EXPECT_EQ(Cli(std::string("--simulate boot,packet1 ") + kVirtual + "--device 5 list").status, 3);
}

TEST_F(CliFleetTest, FlashWithSeveralControllersNeedsDeviceOrAll) {
  const Run refused = Cli(std::string("--simulate boot,boot ") + kVirtual + "flash --yes " + image);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--device"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--all"), std::string::npos) << refused.err;
  EXPECT_TRUE(refused.Events("out", 1).empty() && refused.Events("out", 2).empty());
  EXPECT_TRUE(refused.Events("flash", 1).empty() && refused.Events("flash", 2).empty());

  const Run second = Cli(std::string("--simulate boot,boot ") + kVirtual + "--device 2 flash --yes " + image);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(HoldsPayload(second, 2));
  EXPECT_TRUE(second.Events("flash", 1).empty());
  EXPECT_TRUE(second.Events("out", 1).empty());
  ASSERT_EQ(second.Events("outcome", 2).size(), 1u);

  // By UID and by path, as list shows them.
  const Run byUid =
      Cli(std::string("--simulate boot,boot ") + kVirtual + "--device 32415F11-4E385322-20373134 flash --yes " + image);
  EXPECT_EQ(byUid.status, 0) << byUid.err;
  EXPECT_TRUE(HoldsPayload(byUid, 2));
  EXPECT_TRUE(byUid.Events("flash", 1).empty());
  const std::string path = Cli(std::string("--simulate boot,packet1 ") + kVirtual + "--json list")
                               .Document()["controllers"][1]["path"];
  const Run byPath =
      Cli(std::string("--simulate boot,packet1 ") + kVirtual + "--json --device '" + path + "' info");
  EXPECT_EQ(byPath.status, 0);
  EXPECT_EQ(byPath.Document()["controllers"][0]["reportMode"], 1);
  EXPECT_EQ(byPath.Document()["controllers"][0]["index"], 2);

  EXPECT_EQ(Cli(std::string("--simulate boot,boot ") + kVirtual + "--device 3 flash --yes " + image).status, 3);
  EXPECT_EQ(Cli(std::string("--simulate boot,boot ") + kVirtual + "--device 000000000000000000000000 info").status, 3);
  // info without --device shows each.
  const Run info = Cli(std::string("--simulate boot,packet2 ") + kVirtual + "--json info");
  EXPECT_EQ(info.status, 0);
  ASSERT_EQ(info.Document()["controllers"].size(), 2u);
  // The report-mode-2 controller came back in report mode 1 on the probe's signal.
  EXPECT_EQ(info.Document()["controllers"][1]["reportMode"], 1);
}

TEST_F(CliFleetTest, FlashAllLeavesThePayloadInEveryController) {
  const Run r = Cli(std::string("--simulate boot,boot,packet1 ") + kVirtual + "flash --all --yes " + image);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HoldsPayload(r, 1));
  EXPECT_TRUE(HoldsPayload(r, 2));
  const std::vector<json> received = r.Events("received", 3);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["hex"], Hex(payload));
  for (int dev = 1; dev <= 3; ++dev) {
    ASSERT_EQ(r.Events("outcome", dev).size(), 1u) << dev;
    EXPECT_EQ(r.Events("outcome", dev)[0]["result"], "upgraded");
  }
  for (const char* ev : {"out", "in", "outcome", "flash", "stamp", "received"}) {
    EXPECT_TRUE(r.Events(ev, 0).empty()) << ev << " without dev";
  }
  // One line per controller, named by product, UID and place (not by its long path), then the summary.
  EXPECT_NE(r.out.find("1 5a3c:7e23 uid "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3 5a3c:7e21 at sim-"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("hid#vid_"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3 controllers: 3 upgraded"), std::string::npos) << r.out;
}

TEST_F(CliFleetTest, AnUnpluggedControllerDisturbsNoneOfTheOthers) {
  const Run r =
      Cli(std::string("--simulate boot,boot,boot ") + kVirtual + "--sim 2:unplug.after=6 --json flash --all --yes " + image);
  EXPECT_EQ(r.status, 1);
  const json results = r.Document()["results"];
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0]["result"], "upgraded");
  EXPECT_EQ(results[1]["result"], "failed");
  EXPECT_EQ(results[2]["result"], "upgraded");
  EXPECT_EQ(results[0]["bytesSent"], payload.size());
  EXPECT_EQ(results[1]["payloadTotal"], payload.size());
  EXPECT_FALSE(results[1]["reason"].get<std::string>().empty());
  EXPECT_TRUE(HoldsPayload(r, 1));
  EXPECT_TRUE(HoldsPayload(r, 3));
  EXPECT_FALSE(HoldsPayload(r, 2));
}

TEST_F(CliFleetTest, TheVersionGuardAppliesToEachControllerOfTheBatch) {
  // First controller's version, its result and action, the batch's exit status.
  struct Case {
    const char* settings;
    const char* result;
    const char* action;
    int status;
  };
  for (const Case& c : {Case{"--sim 1:main.version=131 ", "skipped", "reinstall", 0},
                        Case{"--sim 1:main.version=140 ", "refused", "downgrade", 1}}) {
    SCOPED_TRACE(c.settings);
    const Run r = Cli(std::string("--simulate boot,boot ") + kVirtual + c.settings + "--json flash --all --yes " + image);
    EXPECT_EQ(r.status, c.status) << r.err;
    const json results = r.Document()["results"];
    EXPECT_EQ(results[0]["result"], c.result);
    EXPECT_EQ(results[0]["action"], c.action);
    EXPECT_EQ(results[1]["result"], "upgraded");
    EXPECT_EQ(results[1]["action"], "upgrade");
    EXPECT_TRUE(r.Events("flash", 1).empty());
  }
  // Written again when asked for, and said so.
  const Run again = Cli(std::string("--simulate boot ") + kVirtual + "--sim main.version=131 flash --all --yes --allow-reinstall " + image);
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find(": reinstalled from 1.31 to 1.31"), std::string::npos) << again.out;
  // Without --yes the batch is asked once; no answer is a no.
  const Run unasked = Cli(std::string("--simulate boot,boot ") + kVirtual + "flash --all " + image);
  EXPECT_EQ(unasked.status, 5);
  EXPECT_TRUE(unasked.Events("out", 1).empty() && unasked.Events("out", 2).empty());
}

TEST_F(CliFleetTest, StationUpdatesControllersAsTheyArrive) {
  const Run r = Cli(std::string("--simulate boot,boot ") + kVirtual +
                    "--sim 2:arrive.after=1500 flash --watch --count 2 --yes " + image);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HoldsPayload(r, 1));
  EXPECT_TRUE(HoldsPayload(r, 2));
  EXPECT_NE(r.out.find("2 controllers: 2 upgraded"), std::string::npos) << r.out;
  // The second controller's first report comes after its arrival.
  const std::vector<json> second = r.Events("out", 2);
  ASSERT_FALSE(second.empty());
  EXPECT_GE(second.front()["t"].get<int>(), 1500);

  // One already at the image's version is skipped; an unplug does not stop the station.
  Run mixed;
  const std::vector<json> lines = Lines(std::string("--simulate boot,boot,boot,boot ") + kVirtual +
                                            "--sim 1:main.version=131 --sim 2:unplug.after=6 --sim 3:arrive.after=500 "
                                            "--sim 4:arrive.after=900 flash --watch --count 2 --yes " + image,
                                        mixed);
  EXPECT_EQ(mixed.status, 1);
  const json summary = lines.back()["summary"];
  EXPECT_EQ(summary["upgraded"], 2);
  EXPECT_EQ(summary["skipped"], 1);
  EXPECT_EQ(summary["failed"], 1);
  EXPECT_TRUE(HoldsPayload(mixed, 3));
  EXPECT_TRUE(HoldsPayload(mixed, 4));
  // A station that does not start says so in one JSON line too.
  const struct {
    std::string arguments;
    int status;
  } refusals[] = {
      {"flash --watch " + image, 2},
      {"flash --watch --count -1 --yes " + image, 2},
      {"flash --watch --device 1 --yes " + image, 2},
      {"flash --watch --yes " + (dir / "missing.dat").string(), 4},
  };
  for (const auto& c : refusals) {
    Run refused;
    const std::vector<json> documents = Lines(std::string("--simulate boot ") + kVirtual + c.arguments, refused);
    EXPECT_EQ(refused.status, c.status) << c.arguments;
    ASSERT_EQ(documents.size(), 1u) << refused.out;
    EXPECT_EQ(documents[0]["exitStatus"], c.status);
    EXPECT_FALSE(documents[0].is_discarded()) << refused.out;
  }
}

// A stream of controllers at each place: every one that comes is updated,
// its JSON line printed as it finishes, and the station counts them.
TEST_F(CliFleetTest, AStationUpdatesAStreamOfControllers) {
  struct Case {
    std::string simulate;
    int count;
    size_t uids;              // boot-mode controllers in all, each a UID of its own
    std::vector<int> places;  // their "dev" in the transcript (0: one place, none)
  };
  const Case cases[] = {{"--simulate boot --sim stream=6 ", 6, 6, {0}},
                        {"--simulate boot,packet1 --sim stream=3 ", 6, 3, {1, 2}},
                        {"--simulate packet2 --sim stream=2 ", 2, 0, {0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.simulate);
    Run r;
    const std::vector<json> lines =
        Lines(c.simulate + kVirtual + "flash --watch --count " + std::to_string(c.count) + " --yes " + image, r);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<json> finished = Finished(lines);
    ASSERT_EQ(finished.size(), static_cast<size_t>(c.count));
    ASSERT_EQ(lines.size(), finished.size() + 1);  // then the station's own document
    std::set<std::string> uids;
    for (size_t i = 0; i < finished.size(); ++i) {
      EXPECT_EQ(finished[i]["result"], "upgraded") << i;
      EXPECT_EQ(lines[i]["summary"]["upgraded"], i + 1);  // the counts so far
      if (finished[i]["controller"].contains("uid")) uids.insert(finished[i]["controller"]["uid"]);
    }
    EXPECT_EQ(uids.size(), c.uids);
    EXPECT_EQ(lines.back()["summary"]["upgraded"], c.count);
    // Every one holds the payload: a boot-mode one in its flash, a packet one as received.
    for (const int dev : c.places) {
      int holding = 0;
      for (const char* ev : {"flash", "received"}) {
        for (const json& e : r.Events(ev, dev)) holding += e["hex"] == Hex(payload);
      }
      EXPECT_EQ(holding, c.count / static_cast<int>(c.places.size())) << dev;
    }
  }
}

// A controller pulled during its update and plugged in again is updated
// again when it is back, and then holds the payload.
TEST_F(CliFleetTest, AStationUpdatesAPulledControllerAgainOnItsReturn) {
  for (const char* mode : {"boot", "packet1"}) {
    SCOPED_TRACE(mode);
    Run r;
    const std::vector<json> lines = Lines(std::string("--simulate ") + mode + " " + kVirtual +
                                              "--sim unplug.after=6 --sim unplug.back=500 flash --watch --count 1 --yes " +
                                              image,
                                          r);
    const std::vector<json> finished = Finished(lines);
    ASSERT_EQ(finished.size(), 2u) << r.err;
    EXPECT_EQ(finished[0]["code"], "disconnected");
    EXPECT_EQ(finished[1]["result"], "upgraded");
    EXPECT_EQ(lines.back()["summary"]["upgraded"], 1);
    int holding = 0;
    for (const char* ev : {"flash", "received"}) {
      for (const json& e : r.Events(ev, 0)) holding += e["hex"] == Hex(payload);
    }
    EXPECT_EQ(holding, 1);
  }
}

// A controller that refuses the image is counted as rejected, not failed,
// and the summary is said once, on standard output. So is one flash's.
TEST_F(CliFleetTest, TheSummaryCountsRejectedApartAndIsSaidOnce) {
  // Two records: a report-mode-1 controller takes only the first, so it refuses the image.
  image = tarvik::test::WriteFile(dir / "two.dat", tarvik::test::Concat({tarvik::test::Record(131, 0x08004000, payload),
                                                                         tarvik::test::Record(131, 0x08008000, payload)}));
  const std::string summary = "2 controllers: 1 upgraded, 1 rejected";
  for (const std::string mode : {"--all", "--watch --count 1"}) {
    SCOPED_TRACE(mode);
    const std::string line = std::string("--simulate boot,packet1 ") + kVirtual + "flash " + mode + " --yes " + image;
    for (const std::string quiet : {"", "--quiet "}) {
      const Run plain = Cli(quiet + line);
      EXPECT_EQ(plain.status, 1);
      EXPECT_NE(plain.out.find(": rejected: "), std::string::npos) << plain.out;
      EXPECT_NE(plain.out.find(summary), std::string::npos) << plain.out;
      EXPECT_EQ(plain.out.find(summary), plain.out.rfind(summary)) << plain.out;
      EXPECT_EQ(plain.err.find(summary), std::string::npos) << plain.err;
    }
    Run r;
    const json last = mode == "--all" ? (r = Cli("--json " + line)).Document() : Lines(line, r).back();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(last["summary"], (json{{"upgraded", 1}, {"skipped", 0}, {"refused", 0}, {"rejected", 1},
                                     {"failed", 0}, {"interrupted", 0}}));
    EXPECT_EQ(last["reason"], summary);
    EXPECT_TRUE(HoldsPayload(r, 1));
    for (const json& e : r.Events("received", 2)) EXPECT_EQ(e["hex"], "");
  }
  // One controller's flash counts the same way.
  const Run one = Cli(std::string("--simulate packet1 ") + kVirtual + "--json flash --yes " + image);
  EXPECT_EQ(one.status, 4);
  EXPECT_EQ(one.Document()["summary"], (json{{"upgraded", 0}, {"skipped", 0}, {"refused", 0}, {"rejected", 1},
                                             {"failed", 0}, {"interrupted", 0}}));
}

// A report-mode-2 controller comes back in report mode 1 under another path
// on the signal: the same controller, followed where it is plugged in.
TEST_F(CliFleetTest, AControllerBackInReportModeOneIsTheSameController) {
  const Run all = Cli(std::string("--simulate packet2,boot ") + kVirtual + "--json flash --all --yes " + image);
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.Document()["summary"]["upgraded"], 2);
  // Counted once: a count of two waits for the boot-mode controller that comes later.
  Run watch;
  const std::vector<json> lines =
      Lines(std::string("--simulate packet2,boot ") + kVirtual + "--sim 2:arrive.after=3000 flash --watch --count 2 --yes " + image,
            watch);
  EXPECT_EQ(watch.status, 0) << watch.err;
  EXPECT_EQ(Finished(lines).size(), 2u);
  EXPECT_TRUE(HoldsPayload(watch, 2));
}

// On a terminal each controller has a progress line, redrawn in place, and
// what stays on the screen is the result lines; elsewhere nothing is drawn.
TEST_F(CliFleetTest, EachControllerHasAProgressLineOnATerminal) {
  struct Case {
    std::string arguments;
    std::vector<std::string> progress;  // the start of each controller's progress line
    std::vector<std::string> shown;     // the screen's last lines at the end
  };
  const Case cases[] = {
      {"--simulate boot,packet1 flash --all --yes ",
       {"1 5a3c:7e23 at sim-1  [", "2 5a3c:7e21 at sim-2  ["},
       {"1 5a3c:7e23 uid 32415f114e38532220373133 at sim-1: upgraded from 1.20 to 1.31",
        "2 5a3c:7e21 at sim-2: upgraded from 1.23 to 1.31", "2 controllers: 2 upgraded"}},
      {"--simulate packet1,packet1 --sim 2:arrive.after=300 flash --watch --count 2 --yes ",
       {"1 5a3c:7e21 at sim-1  [", "2 5a3c:7e21 at sim-2  ["},
       {"1 5a3c:7e21 at sim-1: upgraded from 1.23 to 1.31", "2 5a3c:7e21 at sim-2: upgraded from 1.23 to 1.31",
        "2 controllers: 2 upgraded"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Run r = tarvik::test::RunCliIn(dir, TARVIK_CLI_PATH, c.arguments + image, "/dev/null", true);
    EXPECT_EQ(r.status, 0) << r.out;
    for (const std::string& line : c.progress) EXPECT_NE(r.out.find(line), std::string::npos) << line;
    const std::vector<std::string> screen = tarvik::test::Screen(r.out);
    ASSERT_GE(screen.size(), c.shown.size());
    for (size_t i = 0; i < c.shown.size(); ++i) {
      const std::string& shown = screen[screen.size() - c.shown.size() + i];
      EXPECT_EQ(shown.rfind(c.shown[i], 0), 0u) << shown;
    }
    const Run piped = Cli(c.arguments + image);
    EXPECT_EQ(piped.err.find('\x1b'), std::string::npos) << piped.err;
    EXPECT_EQ(piped.out.find('\x1b'), std::string::npos) << piped.out;
  }
}

TEST_F(CliFleetTest, EachControllerLogsToAFileOfItsOwn) {
  std::ofstream(dir / "log.txt").close();
  const Run r = Cli(std::string("--simulate boot,boot ") + kVirtual + "flash --all --yes " + image);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(dir / "log.txt"), "");
  const std::string first = ReadAll(dir / "log-1-7e23.txt");
  const std::string second = ReadAll(dir / "log-2-7e23.txt");
  EXPECT_FALSE(first.empty());
  // Two like controllers updated alike: entries of one never land in the other's file.
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), std::count(second.begin(), second.end(), '\n'));
  // Without log.txt at start, no log at all.
  fs::remove(dir / "log.txt");
  fs::remove(dir / "log-1-7e23.txt");
  fs::remove(dir / "log-2-7e23.txt");
  EXPECT_EQ(Cli(std::string("--simulate boot,boot ") + kVirtual + "flash --all --yes " + image).status, 0);
  EXPECT_FALSE(fs::exists(dir / "log-1-7e23.txt"));
  EXPECT_FALSE(fs::exists(dir / "log.txt"));
}

TEST_F(CliFleetTest, CtrlCStopsEveryUpdateOfTheBatch) {
  // 64 KiB on the real clock takes several seconds; the signal comes once the controllers are found.
  image = tarvik::test::WriteFile(dir / "big.dat", tarvik::test::Record(131, 0x08004000, tarvik::test::Bytes(65536, 0x5A)));
  const std::string command = "exec env LANG=en_US.UTF-8 " TARVIK_CLI_PATH
                              " --simulate boot,boot --verbose --json flash --all --yes " + image + " >" +
                              (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string() + " </dev/null";
  ASSERT_EQ(InterruptOnceSaid(command, dir / "err.txt", "m_DevicePath:"), 130);
  const json document = json::parse(ReadAll(dir / "out.txt"), nullptr, false);
  ASSERT_EQ(document["results"].size(), 2u);
  for (const json& result : document["results"]) EXPECT_EQ(result["result"], "interrupted");
}

TEST_F(CliFleetTest, CtrlCOnAnIdleStationEndsItAtOnceAndSaysSo) {
  const std::string command = "exec env LANG=en_US.UTF-8 " TARVIK_CLI_PATH " --simulate none flash --watch --yes " +
                              image + " >" + (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string() +
                              " </dev/null";
  EXPECT_EQ(InterruptOnceSaid(command, dir / "err.txt", "waiting for controllers"), 0);
  const std::string err = ReadAll(dir / "err.txt");
  EXPECT_NE(err.find("no update was running: stopping"), std::string::npos) << err;
  EXPECT_EQ(err.find("next step"), std::string::npos) << err;
  EXPECT_NE(ReadAll(dir / "out.txt").find("0 controllers"), std::string::npos);
}

TEST_F(CliFleetTest, UsageMistakesOfTheFleetOptions) {
  const std::string sim = std::string("--simulate boot,boot ") + kVirtual;
  EXPECT_EQ(Cli(sim + "flash --all --watch --yes " + image).status, 2);
  EXPECT_EQ(Cli(sim + "flash --count 2 --yes " + image).status, 2);
  EXPECT_EQ(Cli(sim + "--device 1 flash --all --yes " + image).status, 2);
  EXPECT_EQ(Cli(sim + "--sim 3:unplug.after=1 list").status, 2);
  EXPECT_EQ(Cli("--simulate boot,none list").status, 2);
}

}  // namespace
