// A controller running its application firmware on the simulated bus, in
// report mode 1 or 2: the device side of the firmware packet protocol. The
// device drives a transfer: it answers the header with a data request, asks
// for each next piece of the image until it holds the announced length, and
// takes the end packet as the transfer's completion. It can be told to
// misbehave as real controllers do (silence, failure reports, frames the host
// must ignore, slow answers, a replug into report mode 1 on the mode-2 signal).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_hid_bus.h"
#include "update/packet_layout.h"

namespace tarvik {

enum class SimSwitch {
  kIgnore,  // the mode-2 signal changes nothing
  kReplug,  // the controller comes back as a report-mode-1 product
};

// How the simulated controller behaves; each field has a --sim key (see
// ApplySimPacketSetting).
struct SimPacketConfig {
  std::optional<uint32_t> version = 123;  // none: version queries go unanswered
  bool startAnswers = true;
  // After this many data packets of a transfer, a failure report with
  // `failCommand` takes the next data request's place and the transfer is
  // abandoned until the next header.
  std::optional<uint32_t> failAt;
  uint8_t failCommand = packet::kCmdFailure1;
  // After this many data packets of a transfer the controller falls silent
  // for good; it still takes what the host writes.
  std::optional<uint32_t> silentAfter;
  bool junk = false;  // frames the host must ignore go before every answer
  SimSwitch onMode2Signal = SimSwitch::kIgnore;
  // After the end packet of a whole transfer the controller starts what it
  // was sent: it leaves the bus and comes back kRestartAwayMs later, its
  // version report telling the header's version. False: it stays on the bus,
  // telling its old version.
  bool endReplug = true;
  uint32_t latencyMs = 0;  // every answer arrives this long after its report
  // Whether the payload is kept for ReceivedData and Firmware; a controller
  // whose payload nobody reads counts it only (a 1 MiB image is 1 MiB less).
  bool keepReceived = true;
};

// Applies one behaviour setting (version, start, fail.at, fail.cmd,
// silent.after, junk, switch, end.replug, latency.ms). False with `error` set to one line
// when the value is not valid for the key; false with `error` empty when the
// key is not one of these, so that the caller can try its other keys.
// `config` is left alone unless the setting is applied.
bool ApplySimPacketSetting(const std::string& key, const std::string& value,
                           SimPacketConfig& config, std::string& error);

// What the controller has been sent, for tests.
struct SimPacketCounts {
  int startRequests = 0;
  int versionQueries = 0;
  int receiveFailures = 0;
  int mode2Signals = 0;
  int dataPackets = 0;  // accepted ones, over all transfers
  int endPackets = 0;   // whether or not they completed a transfer
  // Frames acted on in no way: wrong report ID, size or count, lead byte not
  // zero, a body the type or command cannot take, an unknown type or command,
  // a data packet outside a transfer.
  int ignoredFrames = 0;
};

class SimPacketController final : public ISimDeviceModel {
 public:
  // How long a controller is off the bus while it starts new firmware.
  static constexpr uint32_t kRestartAwayMs = 400;

  // `reportMode` is 1 or 2; anything else is taken as 1.
  explicit SimPacketController(int reportMode, SimPacketConfig config = {});

  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override;
  void OnPowerLost() override;

  // The payload bytes of the data packets accepted since the last header, in
  // order, including any beyond the announced length (empty unless kept).
  std::vector<uint8_t> ReceivedData() const;
  // What the controller keeps of them: the first announced-length bytes.
  std::vector<uint8_t> Firmware() const;
  // desLen of the last header; 0 before the first.
  uint32_t AnnouncedLength() const;
  // End packets that arrived with the announced length received.
  int CompletedTransfers() const;
  // 1 or 2; 1 after a replug.
  int ReportMode() const;
  // What its version report tells; none when it tells nothing.
  std::optional<uint32_t> Version() const;
  SimPacketCounts Counts() const;

 private:
  // `replug` and `restart` are set when the device is to leave the bus once
  // its lock is let go.
  void HandleFrame(const std::vector<uint8_t>& frame, SimDevicePort& port, bool& replug, bool& restart);
  void HandleFirmwarePacket(const uint8_t* body, size_t length, SimDevicePort& port, bool& restart);
  void RequestData(SimDevicePort& port);
  void Answer(SimDevicePort& port, const std::vector<uint8_t>& frame);
  void SendFrame(SimDevicePort& port, const std::vector<uint8_t>& frame);

  const SimPacketConfig m_config;
  // One device, many writers: answers go out under the lock so that they
  // leave in the order the reports were handled.
  mutable std::mutex m_lock;
  int m_reportMode;
  std::optional<uint32_t> m_version;
  uint32_t m_announcedVersion = 0;  // the last header's version word
  // A frame longer than one report, until its body length has arrived.
  std::vector<uint8_t> m_partial;
  uint32_t m_announced = 0;
  std::vector<uint8_t> m_received;
  uint64_t m_receivedBytes = 0;  // since the last header, kept or not
  uint32_t m_transferPackets = 0;  // data packets since the last header
  // Between a header and the end packet or a failure report; data packets
  // outside a transfer have nowhere to go.
  bool m_receiving = false;
  bool m_silent = false;
  int m_completed = 0;
  SimPacketCounts m_counts;
};

}  // namespace tarvik
