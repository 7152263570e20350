// A whole packet-protocol update (report mode 1 or 2) on an update session,
// probe to outcome, against a controller whose answers come from the fuzzer's bytes:
// requests answered at once, late, twice, only after the host's
// receive-failure notices or not at all, failure reports,
// frames the host must ignore, start answers and data requests where none
// belongs; and end packets whose write fails. On the virtual clock.
//
// Checks: "Firmware upgraded!" only when every byte of desLen went out in
// data packets and the end packet was written, and not after the controller
// reported a failure. Whether a frame it sent reports a failure is read from
// its bytes as the host reads them. Progress never above 100 % nor above the share of
// desLen sent; no request for a file (the image is handed over); the run ends within its
// bound of virtual time.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "device/report_framing.h"
#include "fuzz/fuzz_support.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_setup.h"
#include "tests/support/fault_bus.h"
#include "tests/support/image_builder.h"
#include "session/update_session.h"
#include "tests/support/session_rig.h"
#include "update/packet_layout.h"
#include "update/packet_protocol.h"

using namespace tarvik;
using namespace tarvik::packet;
using test::Bytes;

namespace {

// The controller's side, on the frames the host writes.
class PacketScript final : public ISimDeviceModel {
 public:
  PacketScript(fuzz::ByteReader& reader, int mode) : m_in(reader), m_mode(mode) {}

  std::mutex lock;
  Bytes dataSent;  // payload of the data packets since the last header, in order
  std::atomic<uint64_t> dataCount{0};
  bool endWritten = false;
  bool failureSent = false;   // a failure report since the last header
  bool slowAnswers = false;   // an answer close to the silence bound
  int dataPackets = 0;

  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override {
    {
      std::lock_guard<std::mutex> guard(lock);
      Take(report, port);
      if (!m_replug) return;
      m_replug = false;
    }
    // In report mode 2 the controller comes back in report mode 1 on the
    // signal; the bus's notices are sent from here, outside the lock.
    const ReportFraming mode1 = FramingForMode(ReportMode::kPacketNumbered);
    port.ReplugAs(0x7E21, mode1.outputSize, mode1.inputSize);
  }

 private:
  void Take(const std::vector<uint8_t>& report, SimDevicePort& port) {
    const ReportFraming framing = FramingForMode(static_cast<ReportMode>(m_mode));
    if (report.size() != framing.outputSize || report.size() < 2) return;
    const size_t count = report[1];
    if (count == 0 || count > report.size() - 2) return;
    const uint8_t* piece = report.data() + 2;
    if (m_partial.empty() && count < 4) return;
    const size_t total = 4 + GetLe16((m_partial.empty() ? piece : m_partial.data()) + 2);
    m_partial.insert(m_partial.end(), piece, piece + std::min(count, total - m_partial.size()));
    if (m_partial.size() < total) return;
    const Bytes frame = std::move(m_partial);
    m_partial.clear();
    Handle(frame, port);
  }

  void Handle(const Bytes& frame, SimDevicePort& port) {
    const uint8_t type = frame[1];
    if (type == kTypeMode2Signal && m_mode == 2) {
      m_mode = 1;
      m_partial.clear();
      m_replug = true;
      return;
    }
    if (type == kTypeReceiveFailure && m_lost && m_noticesToResend-- == 0) {
      // The host said it got nothing: the lost answer comes now.
      Bytes lost = std::move(*m_lost);
      m_lost.reset();
      Send(port, lost, 0);
      return;
    }
    if (type == kTypeReceiveFailure || type == kTypeMode2Signal) return;  // no answer, no byte used
    if (type == kTypeStartRequest) {
      Answer(port, {0x00, kTypeStartAnswer, 0x01, 0x00, 0x00});
      return;
    }
    if (type != kTypeFirmware || frame.size() < 5) return;
    const uint8_t command = frame[4];
    if (command == kCmdVersion) {
      Answer(port, Firmware(kCmdVersion, {123, 0, 0, 0}));
    } else if (command == kCmdHeader) {
      // A header starts the transfer again, as the controller takes it.
      m_transfer = true;
      dataSent.clear();
      dataCount.store(0);
      failureSent = false;
      Answer(port, Firmware(kCmdDataRequest, {}));
    } else if (command == kCmdData) {
      ++dataPackets;
      if (frame.size() > 7) {
        dataSent.insert(dataSent.end(), frame.begin() + 7, frame.end());
        dataCount.store(dataSent.size());
      }
      Answer(port, Firmware(kCmdDataRequest, {}));
    } else if (command == kCmdEnd) {
      endWritten = true;
      m_transfer = false;
    }
  }

  static Bytes Firmware(uint8_t command, const Bytes& payload) {
    Bytes frame{0x00, kTypeFirmware, 0, 0, command};
    if (!payload.empty()) {
      frame.push_back(static_cast<uint8_t>(payload.size()));
      frame.push_back(0);
      frame.insert(frame.end(), payload.begin(), payload.end());
    }
    PutLe16(&frame[2], static_cast<uint16_t>(frame.size() - 4));
    return frame;
  }

  // The fuzzer's choice of what goes out instead of, or besides, `frame`.
  void Answer(SimDevicePort& port, const Bytes& frame) {
    const uint8_t action = m_in.Next(0);
    switch (action & 15) {
      case 8:  // lost; sent again after some of the host's receive-failure notices, rarely never
        if ((action >> 4) != 15) {
          m_lost = frame;
          m_noticesToResend = action >> 4;
        }
        return;
      case 9: {  // late; rarely (a second byte of 0xFF) just under the 30 s silence bound
        static constexpr uint32_t kDelays[] = {15, 250, 2500, 29000};
        uint32_t delay = kDelays[(action >> 4) & 3];
        if (delay == 29000 && m_in.Next(0) != 0xFF) delay = 2500;
        slowAnswers = slowAnswers || delay >= 20000;
        Send(port, frame, delay);
        return;
      }
      case 10:  // twice
        Send(port, frame, 0);
        Send(port, frame, (action >> 4) * 2);
        return;
      case 11:  // a failure report instead
        Send(port, Firmware((action & 16) ? kCmdFailure2 : kCmdFailure1, {}), 0);
        return;
      case 12:  // a data request where none belongs, then the answer
        Send(port, Firmware(kCmdDataRequest, {}), 0);
        Send(port, frame, 0);
        return;
      case 13:  // a start answer, then the answer
        Send(port, {0x00, kTypeStartAnswer, 0x01, 0x00, 0x00}, 0);
        Send(port, frame, 0);
        return;
      case 14: {  // a frame to ignore, then the answer
        Bytes junk(1 + m_in.Next(0) % 40, 0);
        for (uint8_t& b : junk) b = m_in.Next(0);
        if (junk.size() > 1 && junk[0] == 0x00 && junk[1] == kTypeFirmware) junk[0] = 1;
        if (junk.size() > 1 && junk[0] == 0x00 && junk[1] == kTypeStartAnswer) junk[0] = 1;
        Send(port, junk, 0);
        Send(port, frame, 0);
        return;
      }
      default:
        Send(port, frame, 0);
        return;
    }
  }

  void Send(SimDevicePort& port, const Bytes& frame, uint32_t delay) {
    const ReportFraming framing = FramingForMode(static_cast<ReportMode>(m_mode));
    Bytes report(framing.inputSize, 0);
    report[0] = framing.firstByte;
    report[1] = static_cast<uint8_t>(std::min<size_t>(frame.size(), report.size() - 2));
    std::copy(frame.begin(), frame.begin() + report[1], report.begin() + 2);
    // The host reads the frame after the report ID and the count byte.
    const uint8_t* seen = report.data() + 2;
    if (m_transfer && IsPacketFrame(seen) && FrameType(seen) == kTypeFirmware) {
      const uint8_t command = BodyCommand(FrameBody(seen));
      if (command == kCmdFailure1 || command == kCmdFailure2) failureSent = true;
    }
    port.SendInputReport(std::move(report), delay);
  }

  fuzz::ByteReader& m_in;
  int m_mode;
  Bytes m_partial;
  bool m_transfer = false;
  bool m_replug = false;
  std::optional<Bytes> m_lost;  // an answer held back until the host's notices
  int m_noticesToResend = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader reader(data, size);
  const uint8_t shape = reader.Next(0);
  const int row = 1 + (shape & 1);
  const uint32_t desLen = 1 + (reader.Next(100) | (reader.Next(0) & 1) << 8);
  Bytes image = test::Record(150, 0x08004000, test::Payload(desLen, reader.Next(0)));
  // The chain's empty terminator: the file holds 28 bytes beyond desLen, which
  // the last data packet carries.
  if (shape & 2) image = test::Concat({image, Bytes(28, 0)});
  const uint64_t packets = (desLen + kDataPayload - 1) / kDataPayload + 1;

  VirtualClock clock;
  test::SessionSystem system(clock);
  system.traceReceived = false;
  SimHidBus simBus(clock);
  auto model = std::make_shared<PacketScript>(reader, row);
  SimDeviceSetup setup = ControllerSetup(row);
  setup.model = model;
  simBus.Plug(setup, false);
  // End packets whose write fails, as the fuzzer says.
  test::FaultBus bus(simBus);
  bus.failWrite = [&](const uint8_t* report, size_t length) {
    // Report ID, count byte, then 00 16 01 00 02.
    return length > 6 && report[2] == 0x00 && report[3] == kTypeFirmware && report[6] == kCmdEnd &&
           (reader.Next(0) & 7) == 7;
  };
  // Start-up, one silence bound, 3 s a packet, and two answers just under the
  // silence bound: a whole-transfer limit must keep an update inside this.
  const uint64_t boundMs = 10000 + 30000 + packets * 3000 + 2 * 30000;
  fuzz::SessionUser user;
  user.onProgress = [&](int pos) {
    fuzz::Check(pos >= 0, "negative progress");
    fuzz::Check(pos <= 100, "progress above 100");
    fuzz::Check(uint64_t(pos) * desLen <= model->dataCount.load() * 100, "progress ahead of the data sent");
  };
  UpdateSession session(bus, system);
  session.Probe();
  const UpdateOutcome outcome =
      session.Update({.image = FirmwareImage::FromBytes(image, "fw.dat"), .prompt = &user, .events = &user});

  std::lock_guard<std::mutex> guard(model->lock);
  fuzz::Check(user.fileRequests == 0, "asked for a file although the image was handed over");
  fuzz::Check(user.succeeded == (outcome.result == OutcomeResult::kUpgraded), "success told and outcome disagree");
  if (clock.NowMs() > boundMs) {
    fuzz::Check(model->slowAnswers, "the update ran past its bound of virtual time");
    fuzz::Check(false, "answers just under the silence bound hold the update for ever");
  }
  if (!user.succeeded) return 0;
  const Bytes expected(image.begin() + 28, image.begin() + 28 + desLen);
  const bool allSent = model->dataSent.size() >= desLen &&
                       std::equal(expected.begin(), expected.end(), model->dataSent.begin());
  fuzz::Check(allSent || model->dataSent.size() < desLen, "success with data that differs from the image");
  fuzz::Check(allSent, "success before every byte of desLen was sent");
  if (!model->endWritten) {
    fuzz::Check(bus.failedWrites.load() > 0, "success without an end packet");
    fuzz::Check(false, "success although the end packet was not written");
  }
  fuzz::Check(!model->failureSent, "success after the controller reported a failure");
  fuzz::Check(model->dataSent.size() < desLen + kDataPayload, "data packets sent after desLen was reached");
  // Every packet carries the file's next bytes, beyond desLen included.
  fuzz::Check(model->dataSent.size() <= image.size() - 28 &&
                  std::equal(model->dataSent.begin(), model->dataSent.end(), image.begin() + 28),
              "data packets that are not the file's bytes");
  return 0;
}
