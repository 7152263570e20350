// A controller in boot mode on the simulated bus: it answers the boot command
// protocol's frames for its two microcontrollers (the main mcu and the ATmcu),
// keeps what the host erased, wrote and stamped into their flash, and can be
// told to misbehave in the ways a real bootloader does (silence, busy erases,
// lost write acknowledgements, unrelated replies, slow answers).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_hid_bus.h"
#include "update/boot_wire.h"

namespace tarvik {

// One microcontroller's information block as the device reports it.
using SimInfoBlock = boot::InfoBlock;

enum class SimInfoAnswer {
  kOk,      // the block, acknowledged
  kSilent,  // no reply at all
  kWrong,   // a burst of well-formed replies that acknowledge another command
};

// How the simulated controller behaves; each field has a --sim key (see
// ApplySimBootSetting).
struct SimBootConfig {
  // The fixed identities are non-zero and differ from every other field of
  // both blocks, so a host reading a field from the wrong offset or the wrong
  // microcontroller shows it.
  SimInfoBlock main{.pid = 0x7E23,
                    .unused = 0xA55A,
                    .version = 120,
                    .uid = {0x32415F11, 0x4E385322, 0x20373133},
                    .bootId = {0x0B1D0044, 0x0B1D0055, 0x0B1D0066},
                    .bootIdAddr = 0x0800F800,
                    .appIdAddr = 0x0800F400,
                    .verAddr = 0x0800FC00,
                    .revision = 5};
  SimInfoBlock at{.pid = 0x0A01,
                  .unused = 0x5AA5,
                  .version = 110,
                  .uid = {0x41540177, 0x41540288, 0x41540399},
                  .bootId = {0x0A7B00AA, 0x0A7B00BB, 0x0A7B00CC},
                  .bootIdAddr = 0x0001F800,
                  .appIdAddr = 0x0001F400,
                  .verAddr = 0x0001FC00,
                  .revision = 3};
  SimInfoAnswer infoMain = SimInfoAnswer::kOk;
  SimInfoAnswer infoAt = SimInfoAnswer::kOk;
  bool eraseAnswers = true;
  uint32_t eraseBusy = 0;  // busy answers per erase region before it is done
  // The firmware-data chunk `writeFailChunk` (0-based over the whole update)
  // goes unacknowledged and unwritten for its first `writeFailAttempts`
  // attempts; 3 or more attempts: for ever.
  bool writeFail = false;
  uint32_t writeFailChunk = 0;
  uint32_t writeFailAttempts = 0;
  bool setVersionAnswers = true;
  bool resetAnswers = true;
  // At its reset the controller leaves the bus and comes back, running what it
  // was stamped with, as a real one re-enumerates; false: it stays on the bus.
  bool resetReplug = true;
  uint32_t latencyMs = 0;  // every reply arrives this long after its frame
  // Whether the bytes written are kept for WrittenRegions; a controller whose
  // flash nobody reads acknowledges the writes and keeps nothing of them.
  bool keepWritten = true;
};

// Applies one behaviour setting (main.pid, main.version, main.revision,
// main.veraddr, at.pid, at.version, at.veraddr, info.main, info.at, erase,
// erase.busy, write.fail, setversion, reset, reset.replug, latency.ms). False with `error`
// set to one line when the value is not valid for the key; false with `error`
// empty when the key is not one of these, so that the caller can try its
// other keys. `config` is left alone unless the setting is applied.
bool ApplySimBootSetting(const std::string& key, const std::string& value, SimBootConfig& config,
                         std::string& error);

class SimBootController final : public ISimDeviceModel {
 public:
  // A contiguous run of written bytes of one microcontroller ("main" or "at").
  struct FlashRegion {
    std::string mcu;
    uint32_t address;  // without the mcu-select bit
    std::vector<uint8_t> bytes;
    bool operator==(const FlashRegion&) const = default;
  };
  struct EraseRegion {
    std::string mcu;
    uint32_t address;
    uint32_t length;
    bool operator==(const EraseRegion&) const = default;
  };
  struct VersionStamp {
    std::string mcu;
    uint32_t address;
    uint32_t version;
    bool operator==(const VersionStamp&) const = default;
  };

  // How long a controller is off the bus across its reset: from the reset's
  // acknowledgement until it has enumerated again.
  static constexpr uint32_t kResetAwayMs = 400;

  explicit SimBootController(SimBootConfig config = {});

  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override;
  void OnPowerLost() override;

  // Changes the behaviour while the device is on the bus, from the next frame
  // on. `change` sees the information blocks as they are now (with any stamped
  // version) and runs under the model's lock, so it must not call the model.
  void Reconfigure(const std::function<void(SimBootConfig&)>& change);

  // Ordered by the earliest write among each region's bytes (none unless kept).
  std::vector<FlashRegion> WrittenRegions() const;
  // Erases carried out (a silent erase too, not one still answered busy), in order.
  std::vector<EraseRegion> ErasedRegions() const;
  std::vector<VersionStamp> Stamps() const;
  int ResetCount() const;
  // Firmware-data frames stored at least partly outside every erased region.
  int WritesOutsideErased() const;
  // Frames with the marker and this command code, whether answered or not.
  int FramesReceived(uint16_t command) const;
  // Frames acted on in no way: wrong size, report ID or marker, a data length
  // the command cannot take, an unknown command.
  int IgnoredFrames() const;

 private:
  enum Mcu { kMain = 0, kAt = 1, kMcuCount = 2 };

  // Flash is kept in pages of bytes, allocated when first written, and a map
  // of written runs: each run is a stretch of bytes first written by one frame
  // (its sequence number orders regions by when they were first written).
  // Memory grows with what was written, about 1.5 bytes a byte, whatever the
  // addresses.
  static constexpr uint32_t kPageSize = 4096;
  using Page = std::array<uint8_t, kPageSize>;
  struct Run {
    uint64_t end;  // one past the last byte
    uint64_t writtenSeq;
  };
  struct Flash {
    std::vector<EraseRegion> erased;  // this mcu's, for the outside-erased check
    std::map<uint32_t, std::unique_ptr<Page>> pages;  // by page index
    std::map<uint64_t, Run> runs;                     // by first byte; never overlapping
    void Write(uint32_t address, const uint8_t* data, uint32_t length, uint64_t seq);
    void Clear(uint64_t start, uint64_t end);
    uint8_t ValueAt(uint64_t address) const;
  };

  void HandleGetInfo(Mcu mcu, SimDevicePort& port);
  void HandleErase(uint32_t address, uint32_t length, SimDevicePort& port);
  void HandleWriteData(uint32_t address, const uint8_t* data, uint32_t length, SimDevicePort& port);
  void Reply(SimDevicePort& port, uint16_t status, uint16_t command, const SimInfoBlock* block);
  void Erase(Mcu mcu, uint32_t address, uint32_t length);
  bool InsideErased(Mcu mcu, uint32_t address, uint32_t length) const;

  SimBootConfig m_config;
  // One device, many writers: replies go out under the lock so that they
  // leave in the order the frames were handled.
  mutable std::mutex m_lock;
  std::array<SimInfoBlock, kMcuCount> m_info;
  std::array<Flash, kMcuCount> m_flash;
  std::vector<EraseRegion> m_erasedInOrder;
  std::vector<VersionStamp> m_stamps;
  uint64_t m_writeSeq = 0;
  int m_resets = 0;
  int m_writesOutsideErased = 0;
  int m_ignored = 0;
  std::map<uint16_t, int> m_framesByCommand;

  // The erase region being answered busy: its address (with the mcu bit) and
  // the busy answers it has had.
  bool m_eraseOpen = false;
  uint32_t m_eraseAddress = 0;
  uint32_t m_eraseBusyGiven = 0;

  // Firmware-data chunks since the last reset: a resend of an unacknowledged
  // chunk is another attempt of it, anything else is the next chunk.
  bool m_anyChunk = false;
  uint32_t m_chunk = 0;
  uint32_t m_chunkAddress = 0;
  bool m_chunkAcked = false;
  uint32_t m_chunkAttempts = 0;
};

}  // namespace tarvik
