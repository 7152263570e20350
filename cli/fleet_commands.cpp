// flash --all and flash --watch: many controllers, each on a session of its
// own on a thread of its own, the batch confirmed once.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "cli/console.h"
#include "cli/controller_bus.h"
#include "cli/fleet_commands.h"
#include "cli/interrupt_watch.h"
#include "cli/progress_board.h"
#include "update/firmware_version.h"

namespace tarvik {

namespace {

// A controller restarts after its update: this long away, it is still the same one.
constexpr uint64_t kRestartGraceMs = 5000;

// The terminal's yes or no for a whole batch, asked once; Ctrl-C answers no.
bool ConfirmBatch(AnswerReader& answers, const std::string& question) {
  std::fprintf(stderr, Tr("%s [y/N] "), question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!answers.ReadLine(answer)) std::fputc('\n', stderr);
  return !answers.Woken() && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// Each controller's progress is a line of the batch's board, where there is one.
TerminalSettings BatchSettings(const GlobalOptions& global, ProgressBoard* board, int number) {
  TerminalSettings settings;
  settings.assumeYes = true;  // asked once for the batch
  settings.verbose = global.verbose;
  settings.drawProgress = false;  // several bars would overwrite each other
  settings.board = board;
  settings.boardKey = number;
  return settings;
}

// A controller on the board before its session found out more about it.
void ShowArrival(ProgressBoard* board, int number, const ControllerEntry& c) {
  if (board == nullptr) return;
  const std::string product = StrFormat("%04x:%04x", c.vendorId, c.productId);
  board->Set(number, std::to_string(number) + " " +
                         (c.location.empty() ? product
                                             : StrFormat(Tr("%s at %s"), product.c_str(), c.location.c_str())));
}

// Who a controller is to the station: where it is plugged in, whatever path
// it comes back under, and its serial number where it has one, so that
// another controller plugged in at the same place is another.
std::string StationKey(const ControllerEntry& c) {
  const std::string place = ControllerIdentity(c.path, c.location);
  return c.serial.empty() ? place : place + " serial " + c.serial;
}

}  // namespace

int FlashAll(const GlobalOptions& global, const FlashOptions& options, const ImageCheck& image) {
  json document = FlashDocument("all");
  document["signature"] = SignatureJson(image.signature);
  document["summary"] = Tally().Json();
  StopSource stops;
  AnswerReader batchAnswer;
  InterruptWatch interrupts([&] {
    stops.RequestStop();
    batchAnswer.Wake();
  });
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, global, document)) return *ended;
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  if (controllers.empty()) {
    platform.FinishTranscript();
    document["result"] = "no controller";
    return Conclude(global, document, kExitNoController, Reason(ReasonCode::kNoController));
  }
  // Nobody can answer the confirmation: say what a script needs instead of waiting for it.
  if (!options.assumeYes && !StandardInputIsTerminal()) {
    return ConcludeNeedsYes(platform, global, document);
  }
  if (!options.assumeYes &&
      !ConfirmBatch(batchAnswer, StrFormat(TrN("Write version %s (%u bytes) to the %zu controller?",
                                               "Write version %s (%u bytes) to all %zu controllers?", controllers.size()),
                                           FormatVersionShort(image.version).c_str(), image.payloadTotal,
                                           controllers.size()))) {
    platform.FinishTranscript();
    document["result"] = "cancelled";
    return Conclude(global, document, kExitCancelled, Reason(ReasonCode::kNotConfirmed));
  }
  const std::unique_ptr<ProgressBoard> board = MakeFleetProgressBoard(global.quiet);
  std::vector<FlashResult> results(controllers.size());
  std::vector<int> numbers(controllers.size());
  std::vector<std::unique_ptr<TerminalUser>> users;
  std::vector<std::thread> workers;
  for (size_t i = 0; i < controllers.size(); ++i) {
    const ControllerTarget target = platform.TargetFor(controllers[i]);
    numbers[i] = static_cast<int>(i + 1);
    users.push_back(std::make_unique<TerminalUser>(BatchSettings(global, board.get(), numbers[i])));
    ShowArrival(board.get(), numbers[i], controllers[i]);
    TerminalUser& user = *users.back();
    workers.emplace_back([&, i, target, &user = user] {
      results[i] = FlashOne(platform, options, image, user, stops, target, true);
      // Its result stands in its line until all are done, then goes to standard output.
      if (board) board->Set(numbers[i], ResultLine(numbers[i], controllers[i].path, results[i], global.verbose));
    });
  }
  for (std::thread& worker : workers) worker.join();
  if (board) board->Close();
  platform.FinishTranscript();

  Tally tally;
  json list = json::array();
  for (size_t i = 0; i < controllers.size(); ++i) {
    tally.Add(results[i]);
    list.push_back(ResultJson(numbers[i], controllers[i].path, results[i]));
    if (!global.json && !(global.quiet && results[i].status == kExitOk)) {
      PrintResultLine(numbers[i], controllers[i].path, results[i], global.verbose);
    }
  }
  const bool allDone = tally.AllDone();
  const int status = allDone ? kExitOk : interrupts.Interrupted() ? kExitInterrupted : kExitFailed;
  // The summary is said once: as a line of standard output, or as the document's reason.
  if (!global.json && !(global.quiet && allDone)) std::printf("%s\n", tally.Text().c_str());
  document["result"] = !allDone                             ? (interrupts.Interrupted() ? "interrupted" : "failed")
                       : tally.upgraded == tally.Total() ? "upgraded"
                                                         : "done";
  document["results"] = std::move(list);
  document["summary"] = tally.Json();
  return Conclude(global, document, status, global.json && !allDone ? tally.Text() : "",
                  status == kExitInterrupted ? ReasonCodeName(ReasonCode::kInterrupted) : kCodeNotAllUpgraded);
}

int FlashWatch(const GlobalOptions& global, const FlashOptions& options, const ImageCheck& image) {
  // Each controller's result is a document of its own, printed as it finishes.
  json document = FlashDocument("watch");
  document["signature"] = SignatureJson(image.signature);
  document.erase("results");
  document["summary"] = Tally().Json();
  if (!options.assumeYes) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--watch updates without asking: add --yes"));
  }
  if (options.count < 0) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--count takes a number of upgrades, 1 or more"));
  }
  // What the station shares with its workers. It keeps counts of the
  // finished controllers, not the controllers.
  struct Station {
    std::mutex lock;
    std::condition_variable changed;
    std::set<std::string> busy;  // controllers being updated (StationKey)
    std::set<int> places;        // their numbers: one update at a place at a time
    // Upgraded controllers restart and leave the bus for a moment: until its
    // time of the clock, one away is still the one just updated, not gone.
    // Only a look begun after it was made may see it back.
    struct Restart {
      uint64_t untilMs = 0;
      uint64_t look = 0;  // the station's look when it was made
    };
    std::map<std::string, Restart> restarting;
    // Controllers that left the bus during their update. One may be plugged
    // in again before a look finds its place empty: it is updated again.
    std::set<std::string> pulled;
    uint64_t looks = 0;  // the station's looks at the bus so far
    bool wake = false;  // a device notice, an update's end or Ctrl-C since the last look
    Tally tally;
    std::vector<uint64_t> ended;  // workers whose update is over, to be joined

    void Wake() {
      std::lock_guard<std::mutex> guard(lock);
      wake = true;
      changed.notify_all();
    }
  } station;
  // Device notices wake the station at once.
  class Notices final : public IDeviceNotifyTarget {
   public:
    explicit Notices(Station& s) : m_station(s) {}
    void PostDeviceChange(DeviceChange) override { m_station.Wake(); }

   private:
    Station& m_station;
  } notices(station);
  StopSource stops;
  // Ctrl-C with nothing running ends the station at once, and says so.
  InterruptWatch interrupts([&] {
                              stops.RequestStop();
                              station.Wake();
                            },
                            [&] {
                              std::lock_guard<std::mutex> lock(station.lock);
                              return !station.busy.empty();
                            });
  CliPlatform platform;
  {
    std::string error;
    int code = kExitOk;
    if (!platform.Set(global, error, code)) {
      document["result"] = "error";
      return Conclude(global, document, code, error);
    }
  }
  if (!global.json && !global.quiet) {
    std::fprintf(stderr, "tarvik-update-cli: %s\n", Tr("waiting for controllers (Ctrl-C ends)"));
  }
  const std::unique_ptr<ProgressBoard> board = MakeFleetProgressBoard(global.quiet);
  const NotifyHandle watch = platform.WatchDevices(notices);
  // The workers, the station's own: each is joined and forgotten once its
  // update is over, its line printed and its result counted.
  struct Worker {
    std::thread thread;
    std::unique_ptr<TerminalUser> user;
  };
  std::map<uint64_t, Worker> workers;
  uint64_t nextWorker = 0;
  const auto joinEnded = [&] {
    std::vector<uint64_t> ended;
    {
      std::lock_guard<std::mutex> lock(station.lock);
      ended.swap(station.ended);
    }
    for (const uint64_t id : ended) {
      const auto worker = workers.find(id);
      worker->second.thread.join();
      workers.erase(worker);
    }
  };
  std::set<std::string> handled;  // present, already updated or being updated (StationKey)
  const auto enough = [&] { return options.count > 0 && station.tally.upgraded >= options.count; };
  for (;;) {
    joinEnded();
    uint64_t look = 0;
    {
      std::lock_guard<std::mutex> lock(station.lock);
      if (enough() || stops.StopRequested()) break;
      look = ++station.looks;
    }
    const std::vector<ControllerEntry> present = platform.Controllers();
    std::set<std::string> here;
    for (const ControllerEntry& c : present) here.insert(StationKey(c));
    // A controller that left may come back: then it is updated (or skipped)
    // again. One that restarts after its upgrade has not left.
    {
      std::lock_guard<std::mutex> lock(station.lock);
      const uint64_t now = platform.Clock().NowMs();
      for (auto it = station.restarting.begin(); it != station.restarting.end();) {
        const bool back = here.count(it->first) != 0 && it->second.look < look;
        it = back || now >= it->second.untilMs ? station.restarting.erase(it) : std::next(it);
      }
      for (auto it = handled.begin(); it != handled.end();) {
        const bool away = here.count(*it) == 0 && station.busy.count(*it) == 0 && station.restarting.count(*it) == 0;
        it = away || station.pulled.count(*it) != 0 ? handled.erase(it) : std::next(it);
      }
      station.pulled.clear();
    }
    for (const ControllerEntry& c : present) {
      const std::string key = StationKey(c);
      if (handled.count(key)) continue;
      const int number = platform.NumberOf(c.path);
      {
        // The one before at this place is still being updated: this one waits for its end.
        std::lock_guard<std::mutex> lock(station.lock);
        if (!station.places.insert(number).second) continue;
        station.busy.insert(key);
      }
      handled.insert(key);
      const ControllerTarget target = platform.TargetFor(c);
      const uint64_t id = nextWorker++;
      Worker& worker = workers[id];
      worker.user = std::make_unique<TerminalUser>(BatchSettings(global, board.get(), number));
      ShowArrival(board.get(), number, c);
      worker.thread = std::thread([&, c, key, target, number, id, &user = *worker.user] {
        const FlashResult r = FlashOne(platform, options, image, user, stops, target, true);
        std::lock_guard<std::mutex> lock(station.lock);
        if (r.status == kExitOk) {
          station.restarting[key] = {platform.Clock().NowMs() + kRestartGraceMs, station.looks};
        }
        if (r.reason.code == ReasonCode::kDisconnected) station.pulled.insert(key);
        station.tally.Add(r);
        const auto print = [&] {
          if (global.json) {
            PrintJsonLine({{"command", "flash"},
                           {"mode", "watch"},
                           {"finished", ResultJson(number, c.path, r)},
                           {"summary", station.tally.Json()}});
          } else if (!(global.quiet && r.status == kExitOk)) {
            PrintResultLine(number, c.path, r, global.verbose);
          }
        };
        // Its line leaves the board for its result line, printed above it.
        if (board) {
          board->Remove(number, print);
        } else {
          print();
        }
        station.busy.erase(key);
        station.places.erase(number);
        station.ended.push_back(id);
        station.wake = true;
        station.changed.notify_all();
      });
    }
    IClock& clock = platform.Clock();
    if (watch != kNoNotifyHandle && clock.RunsByItself()) {
      // Until a notice, an update's end or Ctrl-C; at least once a second, for
      // the restart grace and a node that could not be opened at its notice.
      std::unique_lock<std::mutex> lock(station.lock);
      station.changed.wait_for(lock, std::chrono::seconds(1), [&] { return station.wake; });
      station.wake = false;
      continue;
    }
    // Without notices, looked for again every 200 ms of the session's clock; a
    // clock whose time passes only at the waits needs real time given to the
    // updates' threads as well, and a little while none runs.
    clock.SleepMs(200);
    std::unique_lock<std::mutex> lock(station.lock);
    const int realMs = clock.RunsByItself() ? 0 : station.busy.empty() ? 1 : 5;
    station.changed.wait_for(lock, std::chrono::milliseconds(realMs), [&] { return station.wake; });
    station.wake = false;
  }
  platform.UnwatchDevices(watch);
  for (auto& [id, worker] : workers) worker.thread.join();
  workers.clear();
  if (board) board->Close();
  platform.FinishTranscript();
  const Tally tally = station.tally;  // every worker is joined
  const int status = tally.interrupted > 0                  ? kExitInterrupted
                     : tally.failed + tally.rejected > 0 ? kExitFailed
                                                         : kExitOk;
  // The summary is said once: as a line of standard output, or as the document's reason.
  if (!global.json && !(global.quiet && status == kExitOk)) std::printf("%s\n", tally.Text().c_str());
  document["result"] = status == kExitOk ? "done" : status == kExitInterrupted ? "interrupted" : "failed";
  document["summary"] = tally.Json();
  return Conclude(global, document, status, global.json && status != kExitOk ? tally.Text() : "",
                  status == kExitInterrupted ? ReasonCodeName(ReasonCode::kInterrupted) : kCodeNotAllUpgraded);
}

}  // namespace tarvik
