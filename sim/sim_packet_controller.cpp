#include "sim/sim_packet_controller.h"

#include <algorithm>
#include <utility>

#include "base/bytes.h"
#include "base/parse_number.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "device/device_table.h"
#include "device/report_framing.h"

namespace tarvik {

using namespace packet;

namespace {

constexpr size_t kFrameHeader = kFrameHeaderSize;
constexpr size_t kPayloadHeader = kBodyPayload;  // command, payload length
constexpr size_t kVersionPayload = 4;

// Row 1 of the device table: what a controller becomes on the mode-2 signal.
constexpr DeviceTableRow kMode1Row = kDeviceTable[0];

// Each would be taken for a real frame by a host that skips one check: the
// lead byte, the frame type, the command.
const std::vector<uint8_t> kJunkFrames[] = {
    {0x01, kTypeFirmware, 0x01, 0x00, kCmdDataRequest},
    {0x00, 0x04, 0x01, 0x00, kCmdDataRequest},
    {0x00, kTypeFirmware, 0x01, 0x00, 0x33},
};

std::string BadValue(const std::string& key, const std::string& expected,
                     const std::string& value) {
  return StrFormat(Tr("--sim %s= takes %s, got \"%s\""), key.c_str(), expected.c_str(), value.c_str());
}

std::vector<uint8_t> FirmwareFrame(uint8_t command, const uint8_t* payload, size_t length) {
  std::vector<uint8_t> frame(PayloadFrameSize(length), 0);
  frame.resize(EncodeFirmwarePacket(command, payload, length, frame.data()));
  return frame;
}

}  // namespace

bool ApplySimPacketSetting(const std::string& key, const std::string& value,
                           SimPacketConfig& config, std::string& error) {
  uint32_t number = 0;
  if (key == "version") {
    if (value == "silent") {
      config.version.reset();
    } else if (ParseUnsigned(value, number)) {
      config.version = number;
    } else {
      error = BadValue(key, Tr("a 32-bit number or silent"), value);
      return false;
    }
    return true;
  }
  if (key == "start" || key == "junk" || key == "end.replug" || key == "switch") {
    const bool isStart = key == "start";
    const bool isFlag = key == "junk" || key == "end.replug";
    const std::string on = isStart ? "answer" : isFlag ? "1" : "replug";
    const std::string off = isStart ? "silent" : isFlag ? "0" : "ignore";
    if (value != on && value != off) {
      error = BadValue(key, isStart ? Tr("answer or silent") : isFlag ? Tr("1 or 0") : Tr("replug or ignore"), value);
      return false;
    }
    if (isStart) {
      config.startAnswers = value == on;
    } else if (key == "junk") {
      config.junk = value == on;
    } else if (isFlag) {
      config.endReplug = value == on;
    } else {
      config.onMode2Signal = value == on ? SimSwitch::kReplug : SimSwitch::kIgnore;
    }
    return true;
  }
  if (key == "fail.at" || key == "silent.after" || key == "latency.ms") {
    if (!ParseUnsigned(value, number)) {
      error = BadValue(key, Tr("a number"), value);
      return false;
    }
    if (key == "fail.at") {
      config.failAt = number;
    } else if (key == "silent.after") {
      config.silentAfter = number;
    } else {
      config.latencyMs = number;
    }
    return true;
  }
  if (key == "fail.cmd") {
    if (!ParseUnsigned(value, number) || (number != kCmdFailure1 && number != kCmdFailure2)) {
      error = BadValue(key, Tr("0x15 or 0x18"), value);
      return false;
    }
    config.failCommand = static_cast<uint8_t>(number);
    return true;
  }
  error.clear();
  return false;
}

SimPacketController::SimPacketController(int reportMode, SimPacketConfig config)
    : m_config(std::move(config)), m_reportMode(reportMode == 2 ? 2 : 1), m_version(m_config.version) {}

void SimPacketController::OnPowerLost() {
  std::lock_guard<std::mutex> lock(m_lock);
  // A frame half received and a transfer under way live in its memory only.
  m_partial.clear();
  m_receiving = false;
  m_silent = false;
}

void SimPacketController::OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) {
  bool replug = false;
  bool restart = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const ReportFraming framing = FramingForMode(static_cast<tarvik::ReportMode>(m_reportMode));
    const size_t count = report.size() >= 2 ? report[1] : 0;
    if (report.size() != framing.outputSize || report[0] != framing.firstByte || count == 0 ||
        count > report.size() - 2) {
      ++m_counts.ignoredFrames;
      return;
    }
    const uint8_t* piece = report.data() + 2;
    if (m_partial.empty() && count < kFrameHeader) {
      ++m_counts.ignoredFrames;
      return;
    }
    // Only the first piece of a frame carries its header; bytes after the
    // frame's end in the same report belong to no frame.
    const size_t total =
        kFrameHeader + GetLe16((m_partial.empty() ? piece : m_partial.data()) + kFrameBodyLength);
    const size_t take = std::min(count, total - m_partial.size());
    m_partial.insert(m_partial.end(), piece, piece + take);
    if (m_partial.size() < total) return;
    const std::vector<uint8_t> frame = std::move(m_partial);
    m_partial.clear();
    HandleFrame(frame, port, replug, restart);
  }
  // The bus sends the removal and arrival notices from inside this call, and
  // whoever receives them must be free to write to the device at once.
  if (replug) {
    const ReportFraming mode1 = FramingForMode(kMode1Row.mode);
    port.ReplugAs(kMode1Row.productId, mode1.outputSize, mode1.inputSize);
  }
  // It starts what it was sent once the answers it sent before are out.
  if (restart) port.LeaveAndReturn(m_config.latencyMs, kRestartAwayMs);
}

void SimPacketController::HandleFrame(const std::vector<uint8_t>& frame, SimDevicePort& port, bool& replug,
                                      bool& restart) {
  const uint8_t type = FrameType(frame.data());
  const uint8_t* body = FrameBody(frame.data());
  const size_t length = frame.size() - kFrameHeader;
  if (!IsPacketFrame(frame.data())) {
    ++m_counts.ignoredFrames;
    return;
  }
  if (type == kTypeFirmware) {
    HandleFirmwarePacket(body, length, port, restart);
    return;
  }
  // The host only ever sends 0x00 as a short frame's value; any other body
  // is a fault to show, not a request to answer.
  if (length != 1 || body[0] != 0x00) {
    ++m_counts.ignoredFrames;
    return;
  }
  switch (type) {
    case kTypeStartRequest:
      ++m_counts.startRequests;
      if (m_config.startAnswers) {
        const auto answer = ShortFrameReport(kTypeStartAnswer, 0x00);
        Answer(port, {answer.begin() + kReportFrame, answer.end()});
      }
      return;
    case kTypeReceiveFailure:
      ++m_counts.receiveFailures;
      return;
    case kTypeMode2Signal:
      ++m_counts.mode2Signals;
      if (m_reportMode == 2 && m_config.onMode2Signal == SimSwitch::kReplug) {
        m_reportMode = static_cast<int>(kMode1Row.mode);
        m_partial.clear();
        replug = true;
      }
      return;
    default:
      ++m_counts.ignoredFrames;
      return;
  }
}

void SimPacketController::HandleFirmwarePacket(const uint8_t* body, size_t length, SimDevicePort& port,
                                               bool& restart) {
  const uint8_t command = length > 0 ? BodyCommand(body) : 0xFF;
  const bool bare = length == 1;
  const bool withPayload =
      length > kPayloadHeader && GetLe16(body + kBodyPayloadLength) == length - kPayloadHeader;
  const uint8_t* payload = body + kPayloadHeader;
  const size_t payloadLength = withPayload ? length - kPayloadHeader : 0;

  if (command == kCmdHeader && withPayload && payloadLength == kHeaderPayload) {
    m_announced = GetLe32(payload + kHeaderDesLen);
    m_announcedVersion = GetLe32(payload + kHeaderVersion);
    m_received.clear();
    m_receivedBytes = 0;
    m_transferPackets = 0;
    m_receiving = true;
    RequestData(port);
  } else if (command == kCmdData && (bare || withPayload) && m_receiving) {
    if (m_config.keepReceived) m_received.insert(m_received.end(), payload, payload + payloadLength);
    m_receivedBytes += payloadLength;
    ++m_transferPackets;
    ++m_counts.dataPackets;
    RequestData(port);
  } else if (command == kCmdEnd && bare) {
    ++m_counts.endPackets;
    // The host's end closes the transfer whether or not it was whole.
    const bool whole = m_receiving && m_receivedBytes >= m_announced;
    if (whole) ++m_completed;
    m_receiving = false;
    if (whole && m_config.endReplug) {
      if (m_version) m_version = m_announcedVersion;
      restart = true;
    }
  } else if (command == kCmdVersion && bare) {
    ++m_counts.versionQueries;
    if (m_version) {
      uint8_t word[kVersionPayload];
      PutLe32(word, *m_version);
      Answer(port, FirmwareFrame(kCmdVersion, word, sizeof word));
    }
  } else {
    ++m_counts.ignoredFrames;
  }
}

void SimPacketController::RequestData(SimDevicePort& port) {
  if (m_config.silentAfter && m_transferPackets >= *m_config.silentAfter) m_silent = true;
  if (m_config.failAt && m_transferPackets == *m_config.failAt) {
    m_receiving = false;
    Answer(port, FirmwareFrame(m_config.failCommand, nullptr, 0));
    return;
  }
  Answer(port, FirmwareFrame(kCmdDataRequest, nullptr, 0));
}

void SimPacketController::Answer(SimDevicePort& port, const std::vector<uint8_t>& frame) {
  if (m_silent) return;
  if (m_config.junk) {
    for (const std::vector<uint8_t>& junk : kJunkFrames) SendFrame(port, junk);
  }
  SendFrame(port, frame);
}

void SimPacketController::SendFrame(SimDevicePort& port, const std::vector<uint8_t>& frame) {
  const ReportFraming framing = FramingForMode(static_cast<tarvik::ReportMode>(m_reportMode));
  std::vector<uint8_t> report(framing.inputSize, 0);
  report[0] = framing.firstByte;
  report[1 + kReportCount] = static_cast<uint8_t>(frame.size());
  std::copy(frame.begin(), frame.end(), report.begin() + 1 + kReportFrame);
  port.SendInputReport(std::move(report), m_config.latencyMs);
}

std::vector<uint8_t> SimPacketController::ReceivedData() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_received;
}

std::vector<uint8_t> SimPacketController::Firmware() const {
  std::lock_guard<std::mutex> lock(m_lock);
  const size_t kept = std::min<size_t>(m_received.size(), m_announced);
  return {m_received.begin(), m_received.begin() + static_cast<std::ptrdiff_t>(kept)};
}

uint32_t SimPacketController::AnnouncedLength() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_announced;
}

int SimPacketController::CompletedTransfers() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_completed;
}

int SimPacketController::ReportMode() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_reportMode;
}

std::optional<uint32_t> SimPacketController::Version() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_version;
}

SimPacketCounts SimPacketController::Counts() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_counts;
}

}  // namespace tarvik
