// Measures and prints: the command line's flash as a whole process (wall
// time, CPU, peak memory), the boot-mode update's wall time and CPU against
// its protocol floor, the packet protocol's host turnaround and whole host
// cycle per exchange with and without a transcript, discovery among many
// devices, memory against image size, and a station's threads, memory and
// descriptors as controllers come and go. Ratios are measured side by side in
// one run; absolute times depend on the machine.
//
//   tarvik-bench [process|boot|packet|discovery|memory|fleet|station|all] [--runs N]
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/bytes.h"
#include "device/chid.h"
#include "device/device_table.h"
#include "diag/diag.h"
#include "platform/forwarding_hid_bus.h"
#include "platform/linux/linux_system.h"
#include "platform/std/steady_clock.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_setup.h"
#include "tests/support/image_builder.h"
#include "tests/support/scripted_model.h"
#include "tests/support/session_rig.h"
#include "update/boot_protocol.h"
#include "platform/signature_crypto.h"
#include "samples/demo_key.h"
#include "update/packet_protocol.h"
#include "session/update_session.h"
#include "transcript/transcript.h"

// Heap accounting: every allocation of the process goes through here.
namespace {
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void CountAlloc(size_t size) {
  const int64_t live = g_live.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
  int64_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
}
void* Allocate(size_t size) {
  // The size is kept in front of the block so that the delete can count it.
  void* block = std::malloc(size + 16);
  if (!block) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  CountAlloc(size);
  return static_cast<char*>(block) + 16;
}
void Release(void* p) {
  if (!p) return;
  void* block = static_cast<char*>(p) - 16;
  g_live.fetch_sub(static_cast<int64_t>(*static_cast<size_t*>(block)));
  std::free(block);
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace tarvik {
namespace {

using Clock = std::chrono::steady_clock;
using test::Bytes;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  return values[index];
}

// One record of `size` payload bytes (built in place: g++ 12 at -O2 warns
// falsely about the vector insert of test::Record).
Bytes OneRecordImage(size_t size) {
  Bytes image(kRecordHeaderSize + size, 0);
  PutLe32(&image[0], 123);
  PutLe32(&image[4], 0x08004000);
  PutLe32(&image[8], static_cast<uint32_t>(size));
  PutLe16(&image[12], 1);
  const Bytes payload = test::Payload(size);
  std::copy(payload.begin(), payload.end(), image.begin() + kRecordHeaderSize);
  return image;
}

// ---- Boot-mode update against its protocol floor, on the real clock --------

// The real clock as it paced waits before: a sleep to 200 us before each
// deadline and the rest yielded away, whatever the machine's wakes are like.
class YieldingClock final : public IClock {
 public:
  uint64_t NowMs() override { return m_clock.NowMs(); }
  void SleepMs(uint32_t ms) override { m_clock.SleepMs(ms); }
  uint64_t NowUs() override { return m_clock.NowUs(); }
  void SleepUntilUs(uint64_t deadlineUs) override {
    if (deadlineUs > NowUs() + 200) {
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(deadlineUs - 200)));
    }
    while (NowUs() < deadlineUs) std::this_thread::yield();
  }

 private:
  SteadyClock m_clock;
};

double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// A system seam for an update driven in this process: nobody reads the trace
// (as in a plain flash), and the current directory holds no log.txt.
struct QuietSystem {
  explicit QuietSystem(IClock& clock) : system(clock) {
    system.currentDirectory = dir.Path().string();
    system.traceReceived = false;
  }
  test::TempDir dir;
  test::SessionSystem system;
};

// One boot-mode update of a one-record image of `image` bytes on `clock`,
// driven through an update session at `pace` against a controller whose
// replies come `latencyMs` after their frames: its wall time and the
// process's CPU time, in ms.
// The image is read as if from `path`: a signature beside it is checked against `trust`.
void BootUpdateOn(IClock& clock, size_t image, double& wallMs, double& cpuMs, BootPace pace = BootPace::kParts,
                  uint32_t latencyMs = 0, const std::string& path = "fw.dat", const ImageTrust& trust = {}) {
  QuietSystem quiet(clock);
  SimHidBus bus(clock);
  SimBootConfig config;
  config.latencyMs = latencyMs;
  auto model = std::make_shared<SimBootController>(config);
  SimDeviceSetup setup = ControllerSetup(3);
  setup.model = model;
  bus.Plug(setup, false);
  UpdateSession session(bus, quiet.system);
  if (!session.Probe().queried) std::printf("the probe did not answer\n");
  const auto start = Clock::now();
  const double cpuStart = ProcessCpuMs();
  UpdateRequest request;
  request.image = FirmwareImage::FromBytes(OneRecordImage(image), path);
  request.pace = pace;
  request.trust = trust;
  const UpdateOutcome outcome = session.Update(request);
  wallMs = Ms(Clock::now() - start);
  cpuMs = ProcessCpuMs() - cpuStart;
  if (outcome.result != OutcomeResult::kUpgraded) std::printf("an update did not succeed\n");
}

// The CPU the waits of a boot-mode update cost at the least: `waits` plain
// sleeps of 5 ms (the erase wait's one sleep is counted as one of them), with
// nothing spun, and the update's own work on a clock that does not wait.
double LeastCpuMs(uint32_t waits, size_t image) {
  const double start = ProcessCpuMs();
  for (uint32_t i = 0; i < waits; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double sleeps = ProcessCpuMs() - start;
  VirtualClock clock;
  double wallMs = 0;
  double workMs = 0;
  BootUpdateOn(clock, image, wallMs, workMs);
  return sleeps + workMs;
}

// The two paces of a boot-mode update side by side, on the real clock as the
// command line runs them, against controllers that reply at once and 1 and
// 2 ms after each frame.
void BenchBootPaces(int runs, double floorMs) {
  constexpr size_t kImage = 64 * 1024;
  std::printf("== boot-mode update, 64 KiB: --pace parts and --pace ack side by side, as ratios to the floor ==\n");
  std::printf("latency_ms  run  parts_wall  ratio   cpu_ms  ack_wall  ratio   cpu_ms\n");
  prctl(PR_SET_TIMERSLACK, LinuxSystem::kWorkerTimerSlackNs, 0, 0, 0);
  for (const uint32_t latency : {0u, 1u, 2u}) {
    std::vector<double> ratios[2];
    for (int run = 0; run < runs; ++run) {
      double wall[2] = {};
      double cpuMs[2] = {};
      SteadyClock clock;
      BootUpdateOn(clock, kImage, wall[0], cpuMs[0], BootPace::kParts, latency);
      BootUpdateOn(clock, kImage, wall[1], cpuMs[1], BootPace::kAck, latency);
      for (int i = 0; i < 2; ++i) ratios[i].push_back(wall[i] / floorMs);
      std::printf("%10u  %3d  %10.1f  %6.4f  %6.0f  %8.1f  %6.4f  %6.0f\n", latency, run, wall[0], wall[0] / floorMs,
                  cpuMs[0], wall[1], wall[1] / floorMs, cpuMs[1]);
    }
    std::printf("latency %u ms: parts median %.4f, ack median %.4f (aim for ack at 1 ms: <= 0.5)\n", latency,
                Percentile(ratios[0], 0.5), Percentile(ratios[1], 0.5));
  }
  prctl(PR_SET_TIMERSLACK, 0, 0, 0, 0);
  std::printf("\n");
}

void BenchBoot(int runs) {
  constexpr size_t kImage = 64 * 1024;
  const uint32_t chunks = static_cast<uint32_t>((kImage + boot::kMaxData - 1) / boot::kMaxData);
  const double floorMs = 1000.0 + chunks * 5.0;
  std::printf("== boot-mode update, 64 KiB in one record, real clock: the waits' pacing side by side ==\n");
  std::printf("floor = 1000 ms erase wait + %u chunks x 5 ms poll = %.0f ms\n", chunks, floorMs);
  std::printf("yield: sleep to 200 us before each deadline, then yield (as before)\n");
  std::printf("steady: sleep to as late as recent wakes allow, then yield (SteadyClock, 1 us timer slack as the CLI sets it)\n");
  std::printf("least: the CPU of as many plain 5 ms sleeps as the update waits, and of its work on a virtual clock\n");
  std::printf("run  yield_wall  ratio   cpu_ms  steady_wall  ratio   cpu_ms  least_cpu_ms\n");
  std::vector<double> ratios[2];
  std::vector<double> cpu[2];
  std::vector<double> least;
  for (int run = 0; run < runs; ++run) {
    double wall[2] = {};
    double cpuMs[2] = {};
    YieldingClock yielding;
    SteadyClock steady;
    BootUpdateOn(yielding, kImage, wall[0], cpuMs[0]);
    // As the command line runs its updates: on a thread with fine timer slack.
    prctl(PR_SET_TIMERSLACK, LinuxSystem::kWorkerTimerSlackNs, 0, 0, 0);
    BootUpdateOn(steady, kImage, wall[1], cpuMs[1]);
    least.push_back(LeastCpuMs(chunks + 1, kImage));
    prctl(PR_SET_TIMERSLACK, 0, 0, 0, 0);  // the default again
    for (int i = 0; i < 2; ++i) {
      ratios[i].push_back(wall[i] / floorMs);
      cpu[i].push_back(cpuMs[i]);
    }
    std::printf("%3d  %10.1f  %6.4f  %6.0f  %11.1f  %6.4f  %6.0f  %12.0f\n", run, wall[0], wall[0] / floorMs, cpuMs[0],
                wall[1], wall[1] / floorMs, cpuMs[1], least.back());
  }
  std::printf("boot ratio: yield median %.4f, steady median %.4f (aim <= 1.01); cpu: yield median %.0f ms, steady "
              "median %.0f ms (aim <= 100), least median %.0f ms\n\n",
              Percentile(ratios[0], 0.5), Percentile(ratios[1], 0.5), Percentile(cpu[0], 0.5),
              Percentile(cpu[1], 0.5), Percentile(least, 0.5));
  BenchBootPaces(runs, floorMs);
}

// ---- Packet protocol: host turnaround and whole host cycle per exchange ----

// Between the simulated bus and the host: times each data request as the host
// reads it, each data packet as the host writes it, and the host's whole cycle
// from a data request's read to its next read that waits, less the time spent
// inside the simulated bus (which plays the kernel and the controller).
class CycleBus final : public ForwardingHidBus {
 public:
  explicit CycleBus(IHidBus& inner) : ForwardingHidBus(inner) {}
  std::vector<double> turnaroundsUs;  // data request read -> data packet write
  std::vector<double> cyclesUs;       // data request read -> next waiting read, host only
  std::vector<double> exchangesUs;    // data request read -> next data request read, everything

  bool WriteReportTimed(HidHandle h, const uint8_t* report, size_t size, uint64_t& takenUs) override {
    const auto start = Clock::now();
    // A data packet: count byte, then 00 16 len len 00.
    const bool data =
        size > 6 && report[2] == 0x00 && report[3] == packet::kTypeFirmware && report[6] == packet::kCmdData;
    if (data && m_requestSeen && !m_packetSeen) {
      turnaroundsUs.push_back(Us(start - m_requestAt));
      m_packetSeen = true;
    }
    const bool written = ForwardingHidBus::WriteReportTimed(h, report, size, takenUs);
    m_insideBus += Clock::now() - start;
    return written;
  }
  HidReadResult ReadReport(HidHandle h, uint8_t* buffer, size_t size, uint32_t timeoutMs) override {
    const auto start = Clock::now();
    if (m_requestSeen && timeoutMs > 0) {
      cyclesUs.push_back(Us(start - m_requestAt - m_insideBus));
      m_requestSeen = false;
    }
    const HidReadResult result = ForwardingHidBus::ReadReport(h, buffer, size, timeoutMs);
    const auto end = Clock::now();
    m_insideBus += end - start;
    if (result.status == HidRead::kReport && result.bytes > 6 && buffer[2] == 0x00 &&
        buffer[3] == packet::kTypeFirmware && buffer[6] == packet::kCmdDataRequest) {
      if (m_requestAt != Clock::time_point{}) exchangesUs.push_back(Us(end - m_requestAt));
      m_requestAt = end;
      m_insideBus = {};
      m_requestSeen = true;
      m_packetSeen = false;
    }
    return result;
  }

 private:
  // The host's own thread alone calls reads and writes during the data phase.
  Clock::time_point m_requestAt;
  Clock::duration m_insideBus{};
  bool m_requestSeen = false;
  bool m_packetSeen = false;
};

// One 64 KiB packet-protocol update in report mode `mode` through an update
// session, with or without a transcript (bus reports, trace and outcome, as
// the command line's --transcript records them).
CycleBus PacketUpdate(int mode, bool transcript, bool& upgraded) {
  SteadyClock clock;
  QuietSystem quiet(clock);
  SimHidBus bus(clock);
  // Report mode 2 updates after the controller came back in report mode 1.
  SimPacketConfig config;
  config.onMode2Signal = SimSwitch::kReplug;
  SimDeviceSetup setup = ControllerSetup(mode);
  setup.model = std::make_shared<SimPacketController>(mode, config);
  bus.Plug(setup, false);
  CycleBus timing(bus);
  std::FILE* file = transcript ? std::tmpfile() : nullptr;
  std::optional<Transcript> record;
  std::optional<RecordingSystem> recordingSystem;
  std::optional<RecordingHidBus> recordingBus;
  std::optional<TranscriptUpdateObserver> outcomes;
  if (file) {
    record.emplace(clock, file);
    recordingSystem.emplace(quiet.system, *record);
    recordingBus.emplace(timing, *record);
    outcomes.emplace(*record);
  }
  {
    UpdateSession session(recordingBus ? static_cast<IHidBus&>(*recordingBus) : timing,
                          recordingSystem ? static_cast<ISystem&>(*recordingSystem) : quiet.system);
    session.Probe();
    const UpdateOutcome outcome = session.Update({.image = FirmwareImage::FromBytes(OneRecordImage(64 * 1024), "fw.dat"),
                                                  .progress = outcomes ? &*outcomes : nullptr});
    upgraded = outcome.result == OutcomeResult::kUpgraded;
  }
  if (record) record->Flush();
  if (file) std::fclose(file);
  return timing;
}

void BenchPacket(int runs) {
  std::printf("== packet protocol, 64 KiB (2048 exchanges), update session on the simulated bus ==\n");
  std::printf("turn: data request read -> data packet written (no transcript)\n");
  std::printf("host: data request read -> the host's next waiting read, less the time inside the simulated bus\n");
  std::printf("cycle: data request read -> next data request read: the whole cycle, simulated controller included\n");
  std::printf("+tr: with a transcript (bus reports, trace and outcome, to a file), as --transcript records them\n");
  std::printf("mode run turn_med turn_p99 | host_med host+tr_med ratio | cycle_med cycle+tr_med ratio | "
              "cycle_mean cycle+tr_mean ratio\n");
  std::vector<double> hostRatios;
  std::vector<double> cycleRatios;
  const auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
  };
  for (int mode = 1; mode <= 2; ++mode) {
    for (int run = 0; run < runs; ++run) {
      bool upgraded[2] = {};
      const CycleBus plain = PacketUpdate(mode, false, upgraded[0]);
      const CycleBus recorded = PacketUpdate(mode, true, upgraded[1]);
      const double host[2] = {Percentile(plain.cyclesUs, 0.5), Percentile(recorded.cyclesUs, 0.5)};
      const double cycle[2] = {Percentile(plain.exchangesUs, 0.5), Percentile(recorded.exchangesUs, 0.5)};
      const double cycleMean[2] = {mean(plain.exchangesUs), mean(recorded.exchangesUs)};
      hostRatios.push_back(host[1] / host[0]);
      cycleRatios.push_back(cycle[1] / cycle[0]);
      std::printf("%4d %3d %8.1f %8.1f | %8.2f %11.2f %5.2f | %9.2f %12.2f %5.2f | %10.2f %13.2f %5.2f%s\n", mode, run,
                  Percentile(plain.turnaroundsUs, 0.5), Percentile(plain.turnaroundsUs, 0.99), host[0], host[1],
                  host[1] / host[0], cycle[0], cycle[1], cycle[1] / cycle[0], cycleMean[0], cycleMean[1],
                  cycleMean[1] / cycleMean[0], upgraded[0] && upgraded[1] ? "" : "  (no success)");
    }
  }
  std::printf("aims: turnaround median <= 30 us, p99 <= 200 us; whole cycle with a transcript <= 2x without\n");
  std::printf("median ratios with/without a transcript: whole cycle %.2f, host alone %.2f\n",
              Percentile(cycleRatios, 0.5), Percentile(hostRatios, 0.5));
  std::printf("the controller asks at most once per 1-2 ms on USB full speed: that, not the host, paces this protocol\n\n");
}

// ---- Discovery -------------------------------------------------------------

void BenchDiscovery(int runs) {
  std::printf("== discovery: CHid::SearchDevice, the controller behind N other devices ==\n");
  std::printf("    N   search_us  us_per_device  vs_1000\n");
  double at1000 = 0;
  std::vector<std::pair<uint32_t, double>> rows;
  for (uint32_t n : {0u, 200u, 1000u, 2000u}) {
    VirtualClock clock;
    test::FakeSystem system(clock);
    SimHidBus bus(clock);
    SimOptions options;
    options.mode = SimMode::kBoot;
    options.extraDevices = n;
    PopulateSimBus(bus, options);
    CDiag diag(system);
    CHid hid(bus, diag);
    std::vector<double> times;
    for (int i = 0; i < std::max(3, runs * 3); ++i) {
      const auto start = Clock::now();
      const bool found = hid.SearchDevice();
      times.push_back(Us(Clock::now() - start));
      if (!found) std::printf("not found at N=%u\n", n);
    }
    const double median = Percentile(times, 0.5);
    if (n == 1000) at1000 = median;
    rows.push_back({n, median});
  }
  for (const auto& [n, us] : rows) {
    std::printf("%5u %11.1f %14.3f %8.2f\n", n, us, n ? us / n : 0.0, at1000 > 0 ? us / at1000 : 0.0);
  }
  std::printf("linear: 2000 costs 2.0x 1000\n\n");
}

// ---- Memory against image size ---------------------------------------------

// The heap around one update of `image` into a controller of report mode
// `mode` played by `model`, above what the window held before the press: at
// its peak during the update, and what is still held once the window is gone
// (by the model and the bus, which outlive it).
struct UpdateHeap {
  int64_t peak = 0;
  int64_t held = 0;
  bool upgraded = false;
};

UpdateHeap MeasureUpdateHeap(std::shared_ptr<ISimDeviceModel> model, int mode, const Bytes& image,
                             bool keepExchangeLog) {
  VirtualClock clock;
  test::SessionRig rig(clock);
  rig.bus.KeepExchangeLog(keepExchangeLog);
  SimDeviceSetup setup = ControllerSetup(mode);
  setup.model = std::move(model);
  rig.bus.Plug(setup, false);
  rig.SetImage(image);
  UpdateHeap heap;
  int64_t before = 0;
  rig.RunWindow([&](CUpdateDlg& dlg) {
    rig.user.progress.reserve(image.size());  // the recording user's own list stays out of the count
    before = g_live.load();
    g_peak.store(before);
    rig.PressUpdate(dlg);
    heap.peak = g_peak.load() - before;
  });
  heap.held = g_live.load() - before;
  heap.upgraded = rig.user.Succeeded();
  return heap;
}

void BenchMemory() {
  std::printf("== memory against image size (heap bytes) ==\n");
  std::printf("image_KiB  engine_peak  sim_flash  sim_flash_per_byte  bus_log  packet_sim_received\n");
  for (size_t kib : {64u, 1024u, 4096u}) {
    const size_t size = kib * 1024;
    const Bytes image = OneRecordImage(size);
    // A controller that keeps nothing, for the engine's own peak.
    const auto acknowledging = [] {
      return std::make_shared<test::ScriptedModel>([](const Bytes& r, SimDevicePort& port) {
        port.SendInputReport(test::BootReply(test::BootCommandOf(r)));
      });
    };
    // The engine: peak heap of a whole boot-mode update against a controller
    // that keeps nothing and a bus that logs nothing.
    const int64_t enginePeak = MeasureUpdateHeap(acknowledging(), 3, image, false).peak;
    // The boot-mode simulator: what it holds once the image is written.
    auto bootModel = std::make_shared<SimBootController>();
    const UpdateHeap boot = MeasureUpdateHeap(bootModel, 3, image, false);
    if (bootModel->WrittenRegions().empty() || !boot.upgraded) std::printf("(update failed)\n");
    const int64_t simFlash = boot.held;
    // The bus's log of every report, for the same update.
    const int64_t busLog = MeasureUpdateHeap(acknowledging(), 3, image, true).held;
    // The packet-protocol simulator keeps the data it received.
    const int64_t packetSim = MeasureUpdateHeap(std::make_shared<SimPacketController>(1), 1, image, false).held;
    std::printf("%9zu %12lld %10lld %19.2f %8lld %20lld\n", kib, static_cast<long long>(enginePeak),
                static_cast<long long>(simFlash), static_cast<double>(simFlash) / static_cast<double>(size),
                static_cast<long long>(busLog), static_cast<long long>(packetSim));
  }
  std::printf("engine_peak: heap in use during the update above what the window held before it\n\n");
}

}  // namespace
// ---- flash --all: N boot-mode controllers at once (real clock) --------------

// Runs tarvik-update-cli and returns its wall time in ms; `cpuMs` gets its
// user + system time, `peakKiB` (when given) its peak resident memory.
double RunCli(const std::vector<std::string>& arguments, double& cpuMs, long* peakKiB = nullptr) {
  std::vector<char*> argv;
  std::string program = TARVIK_CLI_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
          (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  if (peakKiB) *peakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  (exit status %d)\n", WEXITSTATUS(status));
  return wall;
}

// Writes a one-record image of `size` payload bytes, version 1.31, to a file of its own.
std::string WriteImageFile(size_t size) {
  const std::string path =
      "/tmp/tarvik-bench-" + std::to_string(getpid()) + "-" + std::to_string(size / 1024) + "k.dat";
  std::vector<uint8_t> bytes(kRecordHeaderSize + size);
  PutLe32(&bytes[0], 131);
  PutLe32(&bytes[4], 0x08004000);
  PutLe32(&bytes[8], static_cast<uint32_t>(size));
  bytes[12] = 1;
  for (size_t i = kRecordHeaderSize; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return {};
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

long OwnPeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// ---- The command line as a whole process ------------------------------------

// flash of one simulated controller, as a user runs it: process wall time, CPU
// and peak resident memory, for each kind of flash side by side in each run.
void BenchProcess(int runs) {
  struct Kind {
    const char* name;
    std::vector<std::string> simulate;
  };
  const Kind kinds[] = {
      {"packet1", {"--simulate", "packet1"}},
      {"boot, virtual clock", {"--simulate", "boot", "--sim", "clock=virtual"}},
  };
  std::printf("== tarvik-update-cli flash --yes, one simulated controller, process as a whole ==\n");
  // A child's peak resident memory is at least what this process held when it
  // started it (the kernel counts the copy the child begins as): measured first.
  std::printf("(this process's own peak when starting them: %ld KiB)\n", OwnPeakKiB());
  std::vector<std::string> images;
  for (size_t kib : {64u, 1024u}) images.push_back(WriteImageFile(kib * 1024));
  std::printf("run  kind                  wall_64k_ms  cpu_64k_ms  peak_64k_KiB  peak_1M_KiB  1M-64k_KiB\n");
  std::vector<double> walls[2];
  std::vector<double> growth[2];
  for (int run = 0; run < runs; ++run) {
    for (int k = 0; k < 2; ++k) {
      std::vector<std::string> arguments = kinds[k].simulate;
      double cpu[2] = {};
      long peak[2] = {};
      double wall[2] = {};
      for (int i = 0; i < 2; ++i) {
        std::vector<std::string> a = arguments;
        for (const char* more : {"--quiet", "flash", "--yes"}) a.push_back(more);
        a.push_back(images[static_cast<size_t>(i)]);
        wall[i] = RunCli(a, cpu[i], &peak[i]);
      }
      walls[k].push_back(wall[0]);
      growth[k].push_back(static_cast<double>(peak[1] - peak[0]));
      std::printf("%3d  %-20s %12.1f %11.1f %13ld %12ld %11ld\n", run, kinds[k].name, wall[0], cpu[0], peak[0],
                  peak[1], peak[1] - peak[0]);
      std::fflush(stdout);
    }
  }
  for (const std::string& image : images) std::remove(image.c_str());
  std::printf("median wall at 64 KiB: packet1 %.1f ms, boot (virtual clock) %.1f ms (aim: packet <= 40 ms)\n",
              Percentile(walls[0], 0.5), Percentile(walls[1], 0.5));
  std::printf("median growth from 64 KiB to 1 MiB: packet1 %.0f KiB, boot %.0f KiB (aim: <= 1024 KiB, the image)\n\n",
              Percentile(growth[0], 0.5), Percentile(growth[1], 0.5));
}

void BenchFleet() {
  std::printf("== flash --all: N boot-mode controllers, 64 KiB image, real clock ==\n");
  const std::string image = WriteImageFile(64 * 1024);
  if (image.empty()) return;
  std::printf("    N    wall_ms  vs_N=1  cpu_ms  cpu_ms_per_controller\n");
  double one = 0;
  for (int n : {1, 2, 4, 8, 16, 32}) {
    std::string modes = "boot";
    for (int i = 1; i < n; ++i) modes += ",boot";
    double cpu = 0;
    const double wall = RunCli({"--simulate", modes, "--quiet", "flash", "--all", "--yes", image}, cpu);
    if (n == 1) one = wall;
    std::printf("%5d %10.1f %7.3f %7.1f %10.1f\n", n, wall, one > 0 ? wall / one : 0.0, cpu, cpu / n);
    std::fflush(stdout);
  }
  std::remove(image.c_str());
  std::printf("aim: N=8 at most 1.10x N=1; cpu per controller flat\n\n");
}

// ---- flash --watch: a station's cost as controllers come and go --------------

// What /proc tells of a process now.
struct ProcessFigures {
  long threads = 0;
  long rssKiB = 0;
  long peakKiB = 0;  // its peak resident memory so far
  long descriptors = 0;
};

ProcessFigures ReadFigures(pid_t pid) {
  ProcessFigures figures;
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream status(dir + "/status");
  for (std::string line; std::getline(status, line);) {
    std::sscanf(line.c_str(), "Threads: %ld", &figures.threads);
    std::sscanf(line.c_str(), "VmRSS: %ld", &figures.rssKiB);
    std::sscanf(line.c_str(), "VmHWM: %ld", &figures.peakKiB);
  }
  std::error_code error;
  for (std::filesystem::directory_iterator fd(dir + "/fd", error), end; !error && fd != end; fd.increment(error)) {
    ++figures.descriptors;
  }
  return figures;
}

// A station of one place on a virtual clock, fed a stream of 1,000 boot-mode
// controllers: what the process holds after 10, 100 and 1,000 of them, read
// from /proc as their JSON lines come in, and the most threads and
// descriptors it had at any look (every millisecond or so). Ctrl-C ends it
// once the stream is over.
void BenchStation() {
  constexpr int kControllers = 1000;
  std::printf("== flash --watch --json, a stream of %d boot-mode controllers at one place, virtual clock ==\n",
              kControllers);
  const std::string image = WriteImageFile(6000);
  if (image.empty()) return;
  int out[2];
  if (pipe(out) != 0) return;
  std::string program = TARVIK_CLI_PATH;
  std::vector<std::string> arguments = {program, "--simulate", "boot", "--sim", "clock=virtual", "--sim",
                                        "stream=" + std::to_string(kControllers), "--json", "flash", "--watch",
                                        "--yes", image};
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    // The station's descriptors are its own: none passed on from here.
    close_range(3, ~0U, 0);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::atomic<bool> watching{true};
  std::atomic<long> mostThreads{0};
  std::atomic<long> mostDescriptors{0};
  std::thread looks([&] {
    while (watching.load()) {
      const ProcessFigures now = ReadFigures(child);
      mostThreads.store(std::max(mostThreads.load(), now.threads));
      mostDescriptors.store(std::max(mostDescriptors.load(), now.descriptors));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::printf("controllers  wall_s  threads  rss_KiB  peak_KiB  descriptors\n");
  FILE* lines = fdopen(out[0], "r");
  char* line = nullptr;
  size_t capacity = 0;
  int finished = 0;
  long rssAtTen = 0;
  long rssAtEnd = 0;
  while (finished < kControllers && getline(&line, &capacity, lines) > 0) {
    if (std::strstr(line, "\"finished\"") == nullptr) continue;
    ++finished;
    if (finished != 10 && finished != 100 && finished != kControllers) continue;
    const ProcessFigures now = ReadFigures(child);
    (finished == 10 ? rssAtTen : rssAtEnd) = now.rssKiB;
    std::printf("%11d  %6.1f  %7ld  %7ld  %8ld  %11ld\n", finished,
                std::chrono::duration<double>(Clock::now() - start).count(), now.threads, now.rssKiB, now.peakKiB,
                now.descriptors);
    std::fflush(stdout);
  }
  kill(child, SIGINT);  // nothing runs any more: the station ends at once
  while (getline(&line, &capacity, lines) > 0) {
  }
  std::free(line);
  std::fclose(lines);
  int status = 0;
  waitpid(child, &status, 0);
  watching.store(false);
  looks.join();
  std::remove(image.c_str());
  if (finished < kControllers || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("  (%d controllers finished, exit status %d)\n", finished, WEXITSTATUS(status));
  }
  std::printf("most threads at any look: %ld (aim: <= 8 + 1 per controller being updated, here 1)\n",
              mostThreads.load());
  std::printf("most descriptors at any look: %ld\n", mostDescriptors.load());
  std::printf("resident memory from 10 to %d controllers: %+ld KiB (aim: within 16384 KiB)\n\n", kControllers,
              rssAtEnd - rssAtTen);
}

// The signature check of the largest image taken, 64 MiB, in both of
// minisign's forms, with the cryptography the check calls. The key and the
// signature are RFC 8032's first test: a real point and a real scalar, so
// that the verification hashes the whole message before it fails, as a match does.
void BenchSignature(int runs) {
  std::printf("== signature: checking a 64 MiB image's signature (aim: under 0.5 s)\n");
  std::vector<uint8_t> image(kMaxImageBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  auto bytes = [](const char* hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
      out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    }
    return out;
  };
  const std::vector<uint8_t> key = bytes("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  const std::vector<uint8_t> signature = bytes(
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24"
      "655141438e7a100b");
  for (const bool prehashed : {true, false}) {
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
      const auto start = std::chrono::steady_clock::now();
      uint8_t digest[kBlake2b512Bytes];
      if (prehashed) {
        Blake2b512(image.data(), image.size(), digest);
        Ed25519Verify(key.data(), signature.data(), digest, sizeof digest);
      } else {
        Ed25519Verify(key.data(), signature.data(), image.data(), image.size());
      }
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("%-22s best of %d: %.3f s\n", prehashed ? "default form (ED)" : "legacy form (Ed)", runs, best);
  }

  // A 64 KiB boot-mode update as a user's runs: on the real clock, and on a
  // clock that does not wait, where the check is the largest share of the
  // CPU it can be. The image is signed by the demo key with the minisign tool.
  std::printf("64 KiB boot-mode update's CPU, unsigned and signed (aim: within 10 %%)\n");
  constexpr size_t kBootImage = 64 * 1024;
  const std::string path = (std::filesystem::temp_directory_path() / "tarvik-bench-signed.dat").string();
  const Bytes signedImage = OneRecordImage(kBootImage);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(signedImage.data()),
                                              static_cast<std::streamsize>(signedImage.size()));
  const std::string sign = "minisign -S -s " TARVIK_DEMO_SECRET_KEY " -m " + path + " -t bench >/dev/null 2>&1";
  ImageTrust trust;
  if (std::system(sign.c_str()) != 0 || !trust.AddKeyText(kDemoTrustedKey)) {
    std::printf("minisign could not sign %s\n\n", path.c_str());
    return;
  }
  for (const bool real : {true, false}) {
    std::vector<double> cpu[2];
    for (int run = 0; run < std::max(runs, 5); ++run) {
      for (const bool withSignature : {false, true}) {
        SteadyClock steady;
        VirtualClock virtualClock;
        IClock& clock = real ? static_cast<IClock&>(steady) : virtualClock;
        double wallMs = 0, cpuMs = 0;
        BootUpdateOn(clock, kBootImage, wallMs, cpuMs, BootPace::kParts, 0, withSignature ? path : "unsigned.dat",
                     trust);
        cpu[withSignature].push_back(cpuMs);
      }
    }
    const double unsignedMs = Percentile(cpu[0], 0.5), signedMs = Percentile(cpu[1], 0.5);
    std::printf("%-14s cpu median: unsigned %.1f ms, signed %.1f ms, ratio %.3f\n",
                real ? "real clock" : "virtual clock", unsignedMs, signedMs, signedMs / unsignedMs);
  }
  std::printf("\n");
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".minisig");
}

}  // namespace tarvik

int main(int argc, char** argv) {
  std::string what = "all";
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      what = argv[i];
    }
  }
  // First, while this process is small: its children's peak memory counts it.
  if (what == "process" || what == "all") tarvik::BenchProcess(runs);
  if (what == "discovery" || what == "all") tarvik::BenchDiscovery(runs);
  if (what == "memory" || what == "all") tarvik::BenchMemory();
  if (what == "packet" || what == "all") tarvik::BenchPacket(runs);
  if (what == "boot" || what == "all") tarvik::BenchBoot(runs);
  if (what == "fleet" || what == "all") tarvik::BenchFleet();
  if (what == "station" || what == "all") tarvik::BenchStation();
  if (what == "signature" || what == "all") tarvik::BenchSignature(runs);
  return 0;
}
