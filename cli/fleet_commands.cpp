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
#include "cli/cli_text.h"
#include "cli/console.h"
#include "cli/controller_bus.h"
#include "cli/fleet_commands.h"
#include "cli/interrupt_watch.h"
#include "cli/progress_board.h"
#include "update/version_text.h"

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

}  // namespace

int FlashAll(const GlobalOptions& global, const FlashOptions& options, const ImageCheck& image) {
  json document = FlashDocument("all");
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
    return Conclude(global, document, kExitNoController, Tr("no supported controller found"));
  }
  if (!options.assumeYes &&
      !ConfirmBatch(batchAnswer, StrFormat(TrN("Write version %s (%u bytes) to the %zu controller?",
                                               "Write version %s (%u bytes) to all %zu controllers?", controllers.size()),
                                           FormatVersionShort(image.version).c_str(), image.payloadTotal,
                                           controllers.size()))) {
    platform.FinishTranscript();
    document["result"] = "cancelled";
    return Conclude(global, document, kExitCancelled, Tr("the update was not confirmed"));
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
  if (!global.json && !(global.quiet && allDone)) std::printf("%s\n", tally.Text().c_str());
  document["result"] = !allDone                             ? (interrupts.Interrupted() ? "interrupted" : "failed")
                       : tally.upgraded == tally.Total() ? "upgraded"
                                                         : "done";
  AddResults(document, std::move(list), tally);
  return Conclude(global, document, status, allDone ? "" : tally.Text());
}

int FlashWatch(const GlobalOptions& global, const FlashOptions& options, const ImageCheck& image) {
  json document = FlashDocument("watch");
  if (!options.assumeYes) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--watch updates without asking: add --yes"));
  }
  if (options.count < 0) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--count takes a number of upgrades, 1 or more"));
  }
  struct Station {
    std::mutex lock;
    std::condition_variable changed;
    std::set<std::string> busy;  // controllers being updated (ControllerIdentity)
    // Upgraded controllers restart and leave the bus for a moment: until this
    // time of the clock, one away is still the one just updated, not gone.
    std::map<std::string, uint64_t> restarting;
    int running = 0;
    bool wake = false;  // a device notice, an update's end or Ctrl-C since the last look
    Tally tally;
    json results = json::array();

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
    void PostDeviceChange(uint32_t) override { m_station.Wake(); }

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
                              return station.running > 0;
                            });
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, global, document)) return *ended;
  if (!global.json && !global.quiet) {
    std::fprintf(stderr, "tarvik-update-cli: %s\n", Tr("waiting for controllers (Ctrl-C ends)"));
  }
  const std::unique_ptr<ProgressBoard> board = MakeFleetProgressBoard(global.quiet);
  const NotifyHandle watch = platform.WatchDevices(notices);
  std::set<std::string> handled;  // present, already updated or being updated (ControllerIdentity)
  std::vector<std::thread> workers;
  std::vector<std::unique_ptr<TerminalUser>> users;
  const auto enough = [&] { return options.count > 0 && station.tally.upgraded >= options.count; };
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(station.lock);
      if (enough() || stops.StopRequested()) break;
    }
    const std::vector<ControllerEntry> present = platform.Controllers();
    // A controller is followed where it is plugged in: one that comes back
    // under another path during its update is the same controller.
    const auto identity = [](const ControllerEntry& c) { return ControllerIdentity(c.path, c.location); };
    std::set<std::string> here;
    for (const ControllerEntry& c : present) here.insert(identity(c));
    // A controller that left may come back: then it is updated (or skipped)
    // again. One that restarts after its upgrade has not left.
    {
      std::lock_guard<std::mutex> lock(station.lock);
      const uint64_t now = platform.Clock().NowMs();
      for (auto it = station.restarting.begin(); it != station.restarting.end();) {
        it = here.count(it->first) != 0 || now >= it->second ? station.restarting.erase(it) : std::next(it);
      }
      for (auto it = handled.begin(); it != handled.end();) {
        const bool away = here.count(*it) == 0 && station.busy.count(*it) == 0 && station.restarting.count(*it) == 0;
        it = away ? handled.erase(it) : std::next(it);
      }
    }
    for (const ControllerEntry& c : present) {
      const std::string key = identity(c);
      if (handled.count(key)) continue;
      handled.insert(key);
      const ControllerTarget target = platform.TargetFor(c);
      const int number = platform.NumberOf(c.path);
      {
        std::lock_guard<std::mutex> lock(station.lock);
        station.busy.insert(key);
        ++station.running;
      }
      users.push_back(std::make_unique<TerminalUser>(BatchSettings(global, board.get(), number)));
      ShowArrival(board.get(), number, c);
      TerminalUser& user = *users.back();
      workers.emplace_back([&, c, key, target, number, &user = user] {
        const FlashResult r = FlashOne(platform, options, image, user, stops, target, true);
        std::lock_guard<std::mutex> lock(station.lock);
        if (r.status == kExitOk) station.restarting[key] = platform.Clock().NowMs() + kRestartGraceMs;
        station.tally.Add(r);
        station.results.push_back(ResultJson(number, c.path, r));
        const auto print = [&] {
          if (!global.json && !(global.quiet && r.status == kExitOk)) PrintResultLine(number, c.path, r, global.verbose);
        };
        // Its line leaves the board for its result line, printed above it.
        if (board) {
          board->Remove(number, print);
        } else {
          print();
        }
        station.busy.erase(key);
        --station.running;
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
    // updates' threads as well.
    clock.SleepMs(200);
    std::unique_lock<std::mutex> lock(station.lock);
    station.changed.wait_for(lock, std::chrono::milliseconds(clock.RunsByItself() ? 0 : 5));
    station.wake = false;
  }
  platform.UnwatchDevices(watch);
  for (std::thread& worker : workers) worker.join();
  if (board) board->Close();
  platform.FinishTranscript();
  const Tally& tally = station.tally;
  if (!global.json && !global.quiet) std::printf("%s\n", tally.Text().c_str());
  const int status = tally.interrupted > 0 ? kExitInterrupted : tally.failed > 0 ? kExitFailed : kExitOk;
  document["result"] = status == kExitOk ? "done" : status == kExitInterrupted ? "interrupted" : "failed";
  AddResults(document, station.results, tally);
  return Conclude(global, document, status, status == kExitOk ? "" : tally.Text());
}

}  // namespace tarvik
