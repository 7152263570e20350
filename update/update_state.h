// The values an update shares between the user-interface thread and the
// worker, each safe to read and write from either.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvik {

inline constexpr uint32_t kDeviceVersionUnknown = 0x5A5A5A5A;
inline constexpr uint32_t kDeviceVersionNoFirmware = 0xFFFFFFFF;  // packet protocol

// The packet-protocol transfer's progress; the values are the protocol's own.
enum class TransferState : int {
  kStarted = 1,  // image confirmed and header packet sent; no data sent yet
  kSending = 2,  // data being sent
  kDone = 3,     // all data sent, or no transfer since start
};

struct UpdateState {
  // The window's stop flag, as a truth: set while no update runs and by the
  // update's end operations (StopUpdate, ReportUpdateSuccess); cleared when an
  // update begins. A boot-mode update that fails calls neither, so it stays
  // clear until the next update begins. The packet protocol's receive loop
  // runs until it is set.
  std::atomic<bool> updateEnded{true};
  std::atomic<uint32_t> deviceVersion{kDeviceVersionUnknown};
  std::atomic<TransferState> transferState{TransferState::kDone};
  // Set when the worker is asked to end (the window closes, Ctrl-C): it sends
  // no further frame and ends at its next step.
  std::atomic<bool> stopRequested{false};
  // A removal notice came while the worker ran.
  std::atomic<bool> removalNoticed{false};
  // True while the start-up version query runs (device notices wait for it).
  std::atomic<bool> queryRunning{false};
  // Set once a boot-mode query has written the version title.
  std::atomic<uint8_t> titleShowsVersion{0};
};

}  // namespace tarvik
