// A boot-mode controller's start-up query against replies made of the
// fuzzer's bytes: none, several, late, short, busy, echoing another command,
// or carrying any information block. The title and the log are built from
// whatever arrived (ASan sees any read out of bounds); the device version is
// the sentinel or the version of a block that acknowledged a request for the
// main microcontroller, and a title with a version shows that block.
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/window_texts.h"
#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "platform/std/virtual_clock.h"
#include "res/text_table.h"
#include "sim/sim_setup.h"
#include "tests/support/session_rig.h"
#include "update/boot_wire.h"
#include "update/firmware_version.h"

using namespace tarvik;
using Block = std::vector<uint8_t>;

namespace {

class InfoScript final : public ISimDeviceModel {
 public:
  explicit InfoScript(fuzz::ByteReader& reader) : m_in(reader) {}

  std::mutex lock;
  std::vector<Block> mainAcks;  // blocks of acknowledging replies to main requests
  std::vector<Block> atAcks;

  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override {
    std::lock_guard<std::mutex> guard(lock);
    if (report.size() != 65 || report[1] != boot::kMarker) return;
    if (GetLe16(&report[1 + boot::kFrameCommand]) != boot::kCmdGetInfo) return;
    const bool at = (GetLe32(&report[1 + boot::kFrameAddress]) & boot::kAddressAtMcu) != 0;
    const int replies = 1 + (m_in.Next(0) >> 6);  // 1 to 4 tries at a reply
    for (int i = 0; i < replies; ++i) Reply(at, port);
  }

 private:
  void Reply(bool at, SimDevicePort& port) {
    const uint8_t kind = m_in.Next(0) % 12;
    std::vector<uint8_t> reply(65, 0);
    boot::BootReply made;
    made.echo = boot::kCmdGetInfo;
    uint32_t delay = 0;
    size_t length = reply.size();
    switch (kind) {
      case 4: return;  // no reply
      case 6:          // any 64 bytes
        for (size_t i = 1; i < reply.size(); ++i) reply[i] = m_in.Next(0);
        break;
      case 7: delay = (m_in.Next(0) % 4 + 1) * 150; break;
      case 8: {
        const uint8_t low = m_in.Next(0);
        made.echo = static_cast<uint16_t>(low | (m_in.Next(0) << 8));
        break;
      }
      case 9: made.status = boot::kStatusBusy; break;
      case 10: length = 1 + m_in.Next(0) % 65; break;  // a short report
      case 11: made.lead = m_in.Next(1); break;
      default: break;
    }
    if (kind != 6) {
      for (size_t i = 0; i < boot::kInfoBlockSize; ++i) made.data[i] = m_in.Next(static_cast<uint8_t>(0x30 + i));
      made.Serialize(reply.data() + 1);
    }
    reply.resize(length);
    // What the host would see: the bytes that arrived, zero after them.
    std::vector<uint8_t> seen(reply);
    seen.resize(65, 0);
    const boot::BootReply arrived = boot::BootReply::Parse(seen.data() + 1);
    if (arrived.Acknowledges(boot::kCmdGetInfo)) {
      (at ? atAcks : mainAcks).push_back(Block(arrived.data.begin(), arrived.data.end()));
    }
    port.SendInputReport(std::move(reply), delay);
  }

  fuzz::ByteReader& m_in;
};

uint32_t ShownVersion(const Block& block) {
  const uint32_t version = boot::InfoBlock::Parse(block.data()).version;
  return version == 0xFFFFFFFFu ? 0 : version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader reader(data, size);
  VirtualClock clock;
  test::SessionRig rig(clock);
  rig.EnableLog();
  auto model = std::make_shared<InfoScript>(reader);
  SimDeviceSetup setup = ControllerSetup(3);
  setup.model = model;
  rig.bus.KeepExchangeLog(false);
  rig.bus.Plug(setup, false);

  uint32_t version = 0;
  Block mainBlock;
  std::string title;
  rig.RunWindow([&](CUpdateDlg& dlg) {
    version = dlg.Session().DeviceVersion().Word();
    mainBlock = dlg.Session().InfoBlockBytes(ImageMcu::kMain);
    title = rig.host.WindowText();
  });
  const std::string base = LoadText(rig.system, kTextTitle);

  std::lock_guard<std::mutex> guard(model->lock);
  fuzz::Check(clock.NowMs() <= 20000, "the start-up query took more than 20 s of virtual time");
  fuzz::Check(rig.user.fileDialogs == 0, "a file dialog at start-up");
  if (version == FirmwareVersion::kUnknownWord) {
    fuzz::Check(title == base || title.rfind(base + " (Fw v", 0) == 0, "title without a version query");
    return 0;
  }
  bool fromMain = false;
  for (const Block& b : model->mainAcks) fromMain = fromMain || (b == mainBlock && ShownVersion(b) == version);
  bool fromAt = false;
  for (const Block& b : model->atAcks) fromAt = fromAt || (b == mainBlock && ShownVersion(b) == version);
  fuzz::Check(fromMain || fromAt, "the device version comes from no acknowledging block");
  fuzz::Check(fromMain, "the main block and version were taken from a reply to an ATmcu request");
  fuzz::Check(title == FormatBootVersionTitle(base, version, boot::InfoBlock::Parse(mainBlock.data()).revision),
              "the title does not show the block's version");
  return 0;
}
