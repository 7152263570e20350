// A whole boot-mode update on an update session, probe to outcome, against a
// controller whose every answer after the information blocks comes from the
// fuzzer's bytes: acknowledged at once or late or twice, lost, busy, echoing
// another command, or garbage. On the virtual clock.
//
// Checks: "Firmware upgraded!" only when every byte of every record went out
// in a write frame that got an acknowledging reply addressed to it, and every
// record's version stamp was acknowledged likewise. The script knows which
// frame each of its replies answers. What a reply says is read from its bytes
// with the host's own reply parser, garbage included. Progress never goes
// above 100 % nor above the share of the payload sent. No file is asked for,
// since the image is handed over. The run ends within its bound of virtual time.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_setup.h"
#include "tests/support/image_builder.h"
#include "tests/support/scripted_model.h"
#include "session/update_session.h"
#include "tests/support/session_rig.h"
#include "update/boot_wire.h"

using namespace tarvik;
using test::Bytes;

namespace {

constexpr uint32_t kMainVerAddr = 0x0800FC00;
constexpr uint32_t kAtVerAddr = 0x0001FC00;

struct Planned {
  uint32_t address;  // as the host sends it: bit 31 for the ATmcu
  uint32_t version;
  bool at;
  Bytes payload;
};

class BootScript final : public ISimDeviceModel {
 public:
  explicit BootScript(fuzz::ByteReader& reader) : m_in(reader) {}

  std::mutex lock;
  std::map<uint32_t, uint8_t> sent;   // data bytes written, by sent address
  std::map<uint32_t, uint8_t> acked;  // ... in a frame that got its own acknowledgement
  std::set<std::pair<uint32_t, uint32_t>> stampsAcked;  // (address, version)
  std::set<std::pair<uint32_t, uint32_t>> stampsSent;
  std::atomic<uint64_t> sentCount{0};
  int erasesInARow = 0;
  int mostErasesInARow = 0;
  bool resetSent = false;

  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override {
    std::lock_guard<std::mutex> guard(lock);
    if (report.size() != 65 || report[1] != boot::kMarker) return;
    const uint8_t* frame = report.data() + 1;
    const uint16_t command = GetLe16(frame + boot::kFrameCommand);
    const uint32_t length = std::min<uint32_t>(GetLe32(frame + boot::kFrameDataLength), boot::kMaxData);
    const uint32_t address = GetLe32(frame + boot::kFrameAddress);
    const uint8_t* bytes = frame + boot::kFrameData;
    if (command == boot::kCmdGetInfo) {
      std::vector<uint8_t> reply = test::BootReply(boot::kCmdGetInfo);
      const bool at = (address & boot::kAddressAtMcu) != 0;
      boot::InfoBlock info;
      info.pid = at ? 0x0A01 : 0x7E23;
      info.version = at ? 110 : 120;
      info.verAddr = at ? kAtVerAddr : kMainVerAddr;
      info.Serialize(reply.data() + 1 + boot::kReplyData);
      port.SendInputReport(std::move(reply));
      return;
    }
    erasesInARow = command == boot::kCmdErase ? erasesInARow + 1 : 0;
    mostErasesInARow = std::max(mostErasesInARow, erasesInARow);
    if (command == boot::kCmdReset) resetSent = true;
    if (command == boot::kCmdWriteData) {
      for (uint32_t i = 0; i < length; ++i) {
        if (sent.emplace(address + i, bytes[i]).second) ++sentCount;
      }
    }
    if (command == boot::kCmdWriteValue && length == 4) stampsSent.insert({address, GetLe32(bytes)});

    const uint8_t action = m_in.Next(0);
    m_acknowledged = false;
    switch (action & 15) {
      case 8:  // lost
        break;
      case 9: {  // late
        static constexpr uint32_t kDelays[] = {30, 700, 1600, 4000};
        Reply(port, command, test::BootReply(command), kDelays[(action >> 4) & 3]);
        break;
      }
      case 10:  // twice, the second waiting behind the first. (A duplicate that
                // comes only after the host's next frame cannot be told from that
                // frame's acknowledgement: replies name nothing but the command.)
        Reply(port, command, test::BootReply(command));
        Reply(port, command, test::BootReply(command));
        break;
      case 11:  // busy
        Reply(port, command, test::BootReply(command, boot::kStatusBusy));
        break;
      case 12: {  // the echo of another command
        static constexpr uint16_t kOthers[] = {boot::kCmdWriteData, boot::kCmdErase, boot::kCmdWriteValue,
                                               boot::kCmdReset, boot::kCmdGetInfo, 0x0103};
        Reply(port, command, test::BootReply(kOthers[(action >> 4) % 6]));
        break;
      }
      case 13: {  // garbage, which may still read as an acknowledgement
        std::vector<uint8_t> junk(65, 0);
        for (size_t i = 1; i < junk.size(); ++i) junk[i] = m_in.Next(0);
        Reply(port, command, std::move(junk));
        break;
      }
      case 14:  // acknowledged late by a little
        Reply(port, command, test::BootReply(command), 3 + (action >> 4));
        break;
      default:
        Reply(port, command, test::BootReply(command));
        break;
    }
    if (!m_acknowledged) return;
    if (command == boot::kCmdWriteData) {
      for (uint32_t i = 0; i < length; ++i) acked[address + i] = bytes[i];
    }
    if (command == boot::kCmdWriteValue && length == 4) stampsAcked.insert({address, GetLe32(bytes)});
  }

 private:
  // Sends `reply` to a frame of `command`. The reply counts as that frame's
  // acknowledgement when its bytes say so to the host's parser. The host
  // sees the bytes that arrived and zero after them.
  void Reply(SimDevicePort& port, uint16_t command, std::vector<uint8_t> reply, uint32_t delayMs = 0) {
    std::vector<uint8_t> seen(reply);
    seen.resize(1 + boot::kReplySize, 0);
    if (boot::BootReply::Parse(seen.data() + 1).Acknowledges(command)) m_acknowledged = true;
    port.SendInputReport(std::move(reply), delayMs);
  }

  fuzz::ByteReader& m_in;
  bool m_acknowledged = false;  // a reply to the frame in hand acknowledged it
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader reader(data, size);
  const uint8_t shape = reader.Next(0);
  std::vector<Planned> records;
  Bytes image;
  uint64_t payloadTotal = 0;
  uint64_t boundMs = 15000;
  for (int i = 0; i < 1 + (shape & 1); ++i) {
    const bool at = i == 1 && (shape & 2) != 0;
    const uint32_t desLen = 1 + reader.Next(60) % 140;
    const uint32_t address = 0x08004000u + 0x10000u * static_cast<uint32_t>(i);
    Planned planned{at ? (address | boot::kAddressAtMcu) : address, 100u + static_cast<uint32_t>(i), at,
                    test::Payload(desLen, reader.Next(static_cast<uint8_t>(i)))};
    image = test::Concat({image, test::Record(planned.version, address, planned.payload, at ? 0 : 1)});
    payloadTotal += desLen;
    // Erase: 10 tries or 60 busy answers of 1 s, then up to 5 s for the late
    // replies of its unanswered tries; each chunk: 3 attempts of 100 polls of
    // 5 ms plus a 10 ms read; the stamp likewise.
    const uint64_t chunks = (desLen + boot::kMaxData - 1) / boot::kMaxData;
    boundMs += 77000 + (chunks + 1) * 4600;
    records.push_back(std::move(planned));
  }

  VirtualClock clock;
  test::SessionSystem system(clock);
  system.traceReceived = false;
  SimHidBus bus(clock);
  auto model = std::make_shared<BootScript>(reader);
  SimDeviceSetup setup = ControllerSetup(3);
  setup.model = model;
  bus.Plug(setup, false);
  fuzz::SessionUser user;
  user.onProgress = [&](int pos) {
    fuzz::Check(pos >= 0 && pos <= 100, "progress outside 0 to 100");
    fuzz::Check(uint64_t(pos) * payloadTotal <= model->sentCount.load() * 100,
                "progress ahead of the payload sent");
  };
  UpdateSession session(bus, system);
  session.Probe();
  const UpdateOutcome outcome =
      session.Update({.image = FirmwareImage::FromBytes(image, "fw.dat"), .prompt = &user, .events = &user});

  std::lock_guard<std::mutex> guard(model->lock);
  fuzz::Check(user.fileRequests == 0, "asked for a file although the image was handed over");
  fuzz::Check(user.succeeded == (outcome.result == OutcomeResult::kUpgraded), "success told and outcome disagree");
  if (clock.NowMs() > boundMs) {
    fuzz::Check(model->mostErasesInARow > 60, "the update ran past its bound of virtual time");
    fuzz::Check(false, "erase answers that alternate busy and others never end the erase");
  }
  if (!user.succeeded) return 0;
  bool allSent = true;
  bool allAcked = true;
  bool stampsSent = true;
  bool stampsAcked = true;
  for (const Planned& r : records) {
    for (size_t i = 0; i < r.payload.size(); ++i) {
      const uint32_t a = r.address + static_cast<uint32_t>(i);
      auto s = model->sent.find(a);
      allSent = allSent && s != model->sent.end() && s->second == r.payload[i];
      auto k = model->acked.find(a);
      allAcked = allAcked && k != model->acked.end() && k->second == r.payload[i];
    }
    const std::pair<uint32_t, uint32_t> stamp{(r.at ? kAtVerAddr | boot::kAddressAtMcu : kMainVerAddr), r.version};
    stampsSent = stampsSent && model->stampsSent.count(stamp);
    stampsAcked = stampsAcked && model->stampsAcked.count(stamp);
  }
  fuzz::Check(allSent, "success with a byte of the image never sent");
  fuzz::Check(stampsSent, "success with a version stamp never sent");
  fuzz::Check(model->resetSent, "success without the reset");
  fuzz::Check(allAcked, "success with a write frame that no reply acknowledged");
  fuzz::Check(stampsAcked, "success with a version stamp that no reply acknowledged");
  return 0;
}
