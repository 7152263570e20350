#include "sim/sim_boot_controller.h"


#include <algorithm>
#include <utility>

#include "base/bytes.h"
#include "base/parse_number.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "update/boot_protocol.h"

namespace tarvik {

namespace {

constexpr uint32_t kMcuBit = boot::kAddressAtMcu;
constexpr uint32_t kVersionWordSize = 4;

// Replies of the wrong mode, one burst per request: more than a host reads
// before it gives up on one request, each acknowledging something the host
// did not ask. 0x01C0 and 0xC000 catch a host that compares only the low byte
// or reads the echo big-endian.
constexpr uint16_t kWrongEchoes[] = {0x0000, boot::kCmdErase, 0x01C0, 0xC000, boot::kCmdReset,
                                     boot::kCmdGetInfo + 1};

const char* McuName(bool atMcu) { return atMcu ? "at" : "main"; }

bool ParseAnswer(const std::string& text, bool& answers) {
  if (text != "ok" && text != "silent") return false;
  answers = text == "ok";
  return true;
}

std::string BadValue(const std::string& key, const std::string& expected,
                     const std::string& value) {
  return StrFormat(Tr("--sim %s= takes %s, got \"%s\""), key.c_str(), expected.c_str(), value.c_str());
}

}  // namespace

bool ApplySimBootSetting(const std::string& key, const std::string& value, SimBootConfig& config,
                         std::string& error) {
  const bool isMain = key.rfind("main.", 0) == 0;
  if (isMain || key.rfind("at.", 0) == 0) {
    SimInfoBlock& block = isMain ? config.main : config.at;
    const std::string field = key.substr(isMain ? 5 : 3);
    uint32_t number = 0;
    if (field == "pid" || (isMain && field == "revision")) {
      if (!ParseUnsigned(value, 0xFFFF, number)) {
        error = BadValue(key, Tr("a number up to 0xFFFF"), value);
        return false;
      }
      (field == "pid" ? block.pid : block.revision) = static_cast<uint16_t>(number);
      return true;
    }
    if (field == "version" || field == "veraddr") {
      if (!ParseUnsigned(value, 0xFFFFFFFFu, number)) {
        error = BadValue(key, Tr("a 32-bit number"), value);
        return false;
      }
      (field == "version" ? block.version : block.verAddr) = number;
      return true;
    }
  } else if (key == "info.main" || key == "info.at") {
    SimInfoAnswer answer = SimInfoAnswer::kOk;
    if (value == "silent") {
      answer = SimInfoAnswer::kSilent;
    } else if (value == "wrong") {
      answer = SimInfoAnswer::kWrong;
    } else if (value != "ok") {
      error = BadValue(key, Tr("ok, silent or wrong"), value);
      return false;
    }
    (key == "info.main" ? config.infoMain : config.infoAt) = answer;
    return true;
  } else if (key == "erase" || key == "setversion" || key == "reset") {
    bool answers = true;
    if (!ParseAnswer(value, answers)) {
      error = BadValue(key, Tr("ok or silent"), value);
      return false;
    }
    (key == "erase" ? config.eraseAnswers : key == "setversion" ? config.setVersionAnswers
                                                                : config.resetAnswers) = answers;
    return true;
  } else if (key == "reset.replug") {
    if (value != "0" && value != "1") {
      error = BadValue(key, Tr("0 or 1"), value);
      return false;
    }
    config.resetReplug = value == "1";
    return true;
  } else if (key == "erase.busy" || key == "latency.ms") {
    uint32_t number = 0;
    if (!ParseUnsigned(value, 0xFFFFFFFFu, number)) {
      error = BadValue(key, Tr("a number"), value);
      return false;
    }
    (key == "erase.busy" ? config.eraseBusy : config.latencyMs) = number;
    return true;
  } else if (key == "write.fail") {
    const size_t colon = value.find(':');
    uint32_t chunk = 0;
    uint32_t attempts = 0;
    if (colon == std::string::npos || !ParseUnsigned(value.substr(0, colon), 0xFFFFFFFFu, chunk) ||
        !ParseUnsigned(value.substr(colon + 1), 0xFFFFFFFFu, attempts)) {
      error = BadValue(key, "CHUNK:ATTEMPTS", value);
      return false;
    }
    config.writeFail = true;
    config.writeFailChunk = chunk;
    config.writeFailAttempts = attempts;
    return true;
  }
  error.clear();
  return false;
}

SimBootController::SimBootController(SimBootConfig config)
    : m_config(std::move(config)), m_info{m_config.main, m_config.at} {}

void SimBootController::Reconfigure(const std::function<void(SimBootConfig&)>& change) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_config.main = m_info[kMain];
  m_config.at = m_info[kAt];
  change(m_config);
  m_info = {m_config.main, m_config.at};
}

void SimBootController::OnPowerLost() {
  std::lock_guard<std::mutex> lock(m_lock);
  // An erase under way and the chunk count live in its memory; the flash stays.
  m_eraseOpen = false;
  m_anyChunk = false;
}

void SimBootController::OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (report.size() != 1 + boot::kFrameSize || report[0] != 0x00 ||
      report[1 + boot::kFrameMarker] != boot::kMarker) {
    ++m_ignored;
    return;
  }
  const uint8_t* frame = report.data() + 1;
  const uint16_t command = GetLe16(frame + boot::kFrameCommand);
  const uint32_t dataLength = GetLe32(frame + boot::kFrameDataLength);
  const uint32_t totalLength = GetLe32(frame + boot::kFrameTotalLength);
  const uint32_t address = GetLe32(frame + boot::kFrameAddress);
  const uint8_t* data = frame + boot::kFrameData;
  ++m_framesByCommand[command];

  switch (command) {
    case boot::kCmdGetInfo:
      HandleGetInfo((address & kMcuBit) ? kAt : kMain, port);
      return;
    case boot::kCmdErase:
      HandleErase(address, totalLength, port);
      return;
    case boot::kCmdWriteData:
      if (dataLength == 0 || dataLength > boot::kMaxData) break;
      HandleWriteData(address, data, dataLength, port);
      return;
    case boot::kCmdWriteValue: {
      if (dataLength != kVersionWordSize) break;
      const bool atMcu = (address & kMcuBit) != 0;
      const uint32_t word = GetLe32(data);
      m_stamps.push_back({McuName(atMcu), address & ~kMcuBit, word});
      // The information block's version word is the one in flash at VerAddr:
      // a word stamped anywhere else leaves it alone.
      SimInfoBlock& info = m_info[atMcu ? kAt : kMain];
      if ((address & ~kMcuBit) == info.verAddr) info.version = word;
      if (m_config.setVersionAnswers) Reply(port, boot::kStatusDone, command, nullptr);
      return;
    }
    case boot::kCmdReset:
      // The bootloader starts afresh: what it was counting belongs to the
      // update that the reset ends.
      ++m_resets;
      m_eraseOpen = false;
      m_anyChunk = false;
      if (m_config.resetAnswers) Reply(port, boot::kStatusDone, command, nullptr);
      // It leaves once the acknowledgement is out, answered or not, and
      // enumerates again running what it was stamped with.
      if (m_config.resetReplug) port.LeaveAndReturn(m_config.latencyMs, kResetAwayMs);
      return;
    default:
      break;
  }
  ++m_ignored;
}

void SimBootController::HandleGetInfo(Mcu mcu, SimDevicePort& port) {
  const SimInfoAnswer answer = mcu == kAt ? m_config.infoAt : m_config.infoMain;
  if (answer == SimInfoAnswer::kOk) {
    Reply(port, boot::kStatusDone, boot::kCmdGetInfo, &m_info[mcu]);
  } else if (answer == SimInfoAnswer::kWrong) {
    // The block rides along so that a host which skips the echo check takes
    // it and shows the fault.
    for (uint16_t echo : kWrongEchoes) Reply(port, boot::kStatusDone, echo, &m_info[mcu]);
  }
}

void SimBootController::HandleErase(uint32_t address, uint32_t length, SimDevicePort& port) {
  const Mcu mcu = (address & kMcuBit) ? kAt : kMain;
  if (!m_config.eraseAnswers) {
    // The flash is erased; only the acknowledgement is lost.
    Erase(mcu, address & ~kMcuBit, length);
    return;
  }
  if (!m_eraseOpen || address != m_eraseAddress) {
    m_eraseOpen = true;
    m_eraseAddress = address;
    m_eraseBusyGiven = 0;
  }
  if (m_eraseBusyGiven < m_config.eraseBusy) {
    ++m_eraseBusyGiven;
    Reply(port, boot::kStatusBusy, boot::kCmdErase, nullptr);
    return;
  }
  m_eraseOpen = false;
  Erase(mcu, address & ~kMcuBit, length);
  Reply(port, boot::kStatusDone, boot::kCmdErase, nullptr);
}

void SimBootController::HandleWriteData(uint32_t address, const uint8_t* data, uint32_t length,
                                        SimDevicePort& port) {
  if (!m_anyChunk || address != m_chunkAddress || m_chunkAcked) {
    m_chunk = m_anyChunk ? m_chunk + 1 : 0;
    m_anyChunk = true;
    m_chunkAddress = address;
    m_chunkAttempts = 0;
  }
  ++m_chunkAttempts;
  if (m_config.writeFail && m_chunk == m_config.writeFailChunk &&
      (m_config.writeFailAttempts >= 3 || m_chunkAttempts <= m_config.writeFailAttempts)) {
    m_chunkAcked = false;
    return;
  }

  const Mcu mcu = (address & kMcuBit) ? kAt : kMain;
  const uint32_t start = address & ~kMcuBit;
  if (!InsideErased(mcu, start, length)) ++m_writesOutsideErased;
  if (m_config.keepWritten) m_flash[mcu].Write(start, data, length, m_writeSeq);
  ++m_writeSeq;
  m_chunkAcked = true;
  Reply(port, boot::kStatusDone, boot::kCmdWriteData, nullptr);
}

void SimBootController::Reply(SimDevicePort& port, uint16_t status, uint16_t command,
                              const SimInfoBlock* block) {
  boot::BootReply reply;
  reply.status = status;
  reply.echo = command;
  if (block) block->Serialize(reply.data.data());
  std::vector<uint8_t> report(1 + boot::kReplySize, 0);
  reply.Serialize(report.data() + 1);
  port.SendInputReport(std::move(report), m_config.latencyMs);
}

void SimBootController::Erase(Mcu mcu, uint32_t address, uint32_t length) {
  Flash& flash = m_flash[mcu];
  flash.Clear(address, uint64_t{address} + length);
  const EraseRegion region{McuName(mcu == kAt), address, length};
  flash.erased.push_back(region);
  m_erasedInOrder.push_back(region);
}

void SimBootController::Flash::Write(uint32_t address, const uint8_t* data, uint32_t length,
                                     uint64_t seq) {
  const uint64_t start = address;
  const uint64_t end = start + length;
  for (uint64_t a = start; a < end;) {
    std::unique_ptr<Page>& page = pages[static_cast<uint32_t>(a / kPageSize)];
    if (!page) page = std::make_unique<Page>();
    const uint64_t offset = a % kPageSize;
    const uint64_t n = std::min<uint64_t>(end - a, kPageSize - offset);
    std::copy(data + (a - start), data + (a - start + n), page->begin() + static_cast<ptrdiff_t>(offset));
    a += n;
  }
  // Bytes written before keep the run (and the sequence number) they have;
  // the gaps between them become runs of this write.
  uint64_t at = start;
  auto it = runs.upper_bound(start);
  if (it != runs.begin() && std::prev(it)->second.end > start) --it;
  while (at < end) {
    const uint64_t gapEnd = it == runs.end() ? end : std::min(end, it->first);
    if (at < gapEnd) runs.emplace(at, Run{gapEnd, seq});
    if (it == runs.end()) break;
    at = std::max(at, it->second.end);
    ++it;
  }
}

void SimBootController::Flash::Clear(uint64_t start, uint64_t end) {
  if (start >= end) return;
  auto it = runs.upper_bound(start);
  if (it != runs.begin() && std::prev(it)->second.end > start) --it;
  while (it != runs.end() && it->first < end) {
    const uint64_t runStart = it->first;
    const Run run = it->second;
    it = runs.erase(it);
    if (runStart < start) runs.emplace(runStart, Run{start, run.writtenSeq});
    if (run.end > end) it = runs.emplace(end, Run{run.end, run.writtenSeq}).first;
  }
  // Pages with no written byte left are given back.
  const uint64_t firstPage = start / kPageSize;
  const uint64_t lastPage = (end - 1) / kPageSize;
  for (auto page = pages.lower_bound(static_cast<uint32_t>(firstPage));
       page != pages.end() && page->first <= lastPage;) {
    const uint64_t pageStart = uint64_t{page->first} * kPageSize;
    auto run = runs.upper_bound(pageStart);
    const bool stillUsed = (run != runs.begin() && std::prev(run)->second.end > pageStart) ||
                           (run != runs.end() && run->first < pageStart + kPageSize);
    page = stillUsed ? std::next(page) : pages.erase(page);
  }
}

uint8_t SimBootController::Flash::ValueAt(uint64_t address) const {
  auto page = pages.find(static_cast<uint32_t>(address / kPageSize));
  return page == pages.end() ? 0xFF : (*page->second)[address % kPageSize];
}

bool SimBootController::InsideErased(Mcu mcu, uint32_t address, uint32_t length) const {
  const std::vector<EraseRegion>& erased = m_flash[mcu].erased;
  for (uint64_t a = address; a < uint64_t{address} + length; ++a) {
    const bool covered = std::any_of(erased.begin(), erased.end(), [a](const EraseRegion& r) {
      return a >= r.address && a < uint64_t{r.address} + r.length;
    });
    if (!covered) return false;
  }
  return true;
}

std::vector<SimBootController::FlashRegion> SimBootController::WrittenRegions() const {
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<std::pair<uint64_t, FlashRegion>> runs;
  for (int mcu = kMain; mcu < kMcuCount; ++mcu) {
    const Flash& flash = m_flash[mcu];
    uint64_t nextAddress = 0;
    bool open = false;
    for (const auto& [start, run] : flash.runs) {
      if (!open || start != nextAddress) {
        runs.push_back({run.writtenSeq, FlashRegion{McuName(mcu == kAt), static_cast<uint32_t>(start), {}}});
        open = true;
      }
      runs.back().first = std::min(runs.back().first, run.writtenSeq);
      std::vector<uint8_t>& bytes = runs.back().second.bytes;
      for (uint64_t a = start; a < run.end; ++a) bytes.push_back(flash.ValueAt(a));
      nextAddress = run.end;
    }
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<FlashRegion> regions;
  regions.reserve(runs.size());
  for (auto& run : runs) regions.push_back(std::move(run.second));
  return regions;
}

std::vector<SimBootController::EraseRegion> SimBootController::ErasedRegions() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_erasedInOrder;
}

std::vector<SimBootController::VersionStamp> SimBootController::Stamps() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_stamps;
}

int SimBootController::ResetCount() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_resets;
}

int SimBootController::WritesOutsideErased() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_writesOutsideErased;
}

int SimBootController::FramesReceived(uint16_t command) const {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_framesByCommand.find(command);
  return it == m_framesByCommand.end() ? 0 : it->second;
}

int SimBootController::IgnoredFrames() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_ignored;
}

}  // namespace tarvik
