#include "device/chid.h"

#include <algorithm>
#include <cstring>

#include "device/device_table.h"
#include "diag/diag.h"

namespace tarvik {

CHid::HandlePair::~HandlePair() {
  if (write != kInvalidHidHandle) bus.Close(write);
  if (read != kInvalidHidHandle) bus.Close(read);
}

CHid::CHid(IHidBus& bus, CDiag& diag) : m_bus(bus), m_diag(diag) {}

CHid::~CHid() {
  if (m_notifyHandle != kNoNotifyHandle) m_bus.UnregisterNotify(m_notifyHandle);
  std::lock_guard<std::mutex> lock(m_handleLock);
  m_retired.clear();
  m_handles.reset();
}

void CHid::SetRecipientWindow(IDeviceNotifyTarget* window) {
  std::lock_guard<std::mutex> lock(m_searchLock);
  m_recipientWindow = window;
}

std::string CHid::DevicePath() const {
  std::lock_guard<std::mutex> lock(m_searchLock);
  return m_DevicePath;
}

std::string CHid::DeviceLocation() const {
  std::lock_guard<std::mutex> lock(m_searchLock);
  return m_location;
}

std::string CHid::DeviceSerial() const {
  std::lock_guard<std::mutex> lock(m_searchLock);
  return m_serial;
}

bool CHid::IsDevicePathPresent() {
  const std::string path = DevicePath();
  for (const std::string& present : m_bus.EnumerateInterfaces()) {
    if (present == path) return true;
  }
  return false;
}

std::vector<HidDeviceInfo> EnumerateDevicesWithIds(IHidBus& bus) {
  std::vector<HidDeviceInfo> devices = bus.EnumerateDevices();
  std::erase_if(devices, [&bus](HidDeviceInfo& device) {
    if (device.idsKnown) return false;
    const HidHandle probe = bus.Open(device.path, HidOpenMode::kProbeReadWrite);
    if (probe == kInvalidHidHandle) return true;  // held exclusively by someone else, or gone
    HidAttributes attributes;
    device.idsKnown = bus.GetAttributes(probe, attributes);
    bus.Close(probe);
    device.vendorId = attributes.vendorId;
    device.productId = attributes.productId;
    return !device.idsKnown;
  });
  return devices;
}

bool CHid::SearchDevice() {
  std::lock_guard<std::mutex> lock(m_searchLock);
  m_currentReportMode.store(ReportMode::kNone);
  // One enumeration serves every row of the table.
  const std::vector<HidDeviceInfo> devices = EnumerateDevicesWithIds(m_bus);
  const DeviceTableRow* matched = nullptr;
  HidHandle probe = kInvalidHidHandle;
  for (const DeviceTableRow& row : kDeviceTable) {
    const bool found = FindHid(devices, row.vendorId, row.productId, probe);
    if (m_notifyRegistered.load() == 0) {
      // Once, right after the first probe, whether or not it matched.
      RegisterHidNotify();
      m_notifyRegistered.store(1);
    }
    if (found) {
      matched = &row;
      break;
    }
  }
  if (!matched) {
    m_devicePresent.store(0);
    return false;
  }
  m_currentReportMode.store(matched->mode);
  m_bootMode.store(matched->mode == ReportMode::kBootCommand ? 1 : 0);
  m_devicePresent.store(1);
  m_bus.Close(probe);
  return true;
}

// Called with m_searchLock held.
bool CHid::FindHid(const std::vector<HidDeviceInfo>& devices, uint16_t vendorId,
                   uint16_t productId, HidHandle& probeHandle) {
  for (const HidDeviceInfo& device : devices) {
    if (!device.idsKnown || device.vendorId != vendorId || device.productId != productId) continue;
    // Only a controller that opens is one to work with.
    const HidHandle probe = m_bus.Open(device.path, HidOpenMode::kProbeReadWrite);
    if (probe == kInvalidHidHandle) continue;  // held exclusively by someone else, or gone
    m_DevicePath = device.path;
    m_location = device.location;
    m_serial = device.serial;
    m_diag.Trace("m_DevicePath:%s\n", m_DevicePath.c_str());
    probeHandle = probe;
    return true;
  }
  return false;
}

bool CHid::RegisterHidNotify() {
  if (!m_recipientWindow) return false;
  m_notifyHandle = m_bus.RegisterNotify(*m_recipientWindow);
  return m_notifyHandle != kNoNotifyHandle;
}

std::shared_ptr<CHid::HandlePair> CHid::CurrentHandles() const {
  std::lock_guard<std::mutex> lock(m_handleLock);
  return m_handles;
}

void CHid::StoreHandles(std::shared_ptr<HandlePair> handles) {
  std::shared_ptr<HandlePair> previous;
  {
    std::lock_guard<std::mutex> lock(m_handleLock);
    previous = std::move(m_handles);
    m_handles = std::move(handles);
    if (previous && m_workerUses > 0) m_retired.push_back(std::move(previous));
  }
  // `previous` (if not retired) closes here, or when its last in-flight read returns.
}

void CHid::BeginWorkerUse() {
  std::lock_guard<std::mutex> lock(m_handleLock);
  ++m_workerUses;
}

void CHid::EndWorkerUse() {
  std::vector<std::shared_ptr<HandlePair>> retired;
  {
    std::lock_guard<std::mutex> lock(m_handleLock);
    if (m_workerUses > 0) --m_workerUses;
    if (m_workerUses == 0) retired.swap(m_retired);
  }
}

bool CHid::OpenHid() {
  const std::string path = DevicePath();
  const HidHandle write = m_bus.Open(path, HidOpenMode::kWriteSync);
  if (write == kInvalidHidHandle) return false;
  const HidHandle read = m_bus.Open(path, HidOpenMode::kReadOverlapped);
  // A failed read open keeps the new write handle stored, as the pair it belongs to.
  StoreHandles(std::make_shared<HandlePair>(m_bus, write, read));
  if (read == kInvalidHidHandle) return false;
  SetReadTimeout(200);
  return true;
}

void CHid::SetReadTimeout(uint32_t ms) { m_readTimeout.store(ms); }

int CHid::WriteHid(const void* payload, uint32_t length) {
  const std::shared_ptr<HandlePair> handles = CurrentHandles();
  const ReportFraming framing = FramingForMode(m_currentReportMode.load());
  const size_t payloadBytes = std::min<size_t>(length & 0xFFu, kMaxPayload);

  std::lock_guard<std::mutex> lock(m_writeLock);
  std::memset(m_outputReport, 0, sizeof m_outputReport);
  m_outputReport[0] = framing.firstByte;
  if (payload && payloadBytes > 0) std::memcpy(m_outputReport + 1, payload, payloadBytes);
  m_lastWriteTakenUs.store(0);
  if (!handles || handles->write == kInvalidHidHandle) return 0;
  size_t size = framing.outputSize != 0 ? framing.outputSize : length;
  // The whole length is the report size only outside the known modes; it never
  // reaches past the buffer.
  size = std::min(size, sizeof m_outputReport);
  uint64_t takenUs = 0;
  if (!m_bus.WriteReportTimed(handles->write, m_outputReport, size, takenUs)) return 0;
  m_lastWriteTakenUs.store(takenUs);
  return 1;
}

int CHid::DiscardPendingInput() {
  const ReportFraming framing = FramingForMode(m_currentReportMode.load());
  const std::shared_ptr<HandlePair> handles = CurrentHandles();
  if (!handles || handles->read == kInvalidHidHandle) return 0;
  // A device that floods the host cannot keep the caller here.
  constexpr int kMaxDiscarded = 64;
  uint8_t buffer[kReadBufferSize];
  int discarded = 0;
  while (discarded < kMaxDiscarded &&
         m_bus.ReadReport(handles->read, buffer, framing.inputSize, 0).status == HidRead::kReport) {
    ++discarded;
  }
  return discarded;
}

uint32_t CHid::ReadHid(uint8_t* destination, uint8_t count) {
  return ReadWithin(destination, count, m_readTimeout.load());
}

uint32_t CHid::ReadHidNow(uint8_t* destination, uint8_t count) { return ReadWithin(destination, count, 0); }

uint32_t CHid::ReadWithin(uint8_t* destination, uint8_t count, uint32_t timeoutMs) {
  const ReportFraming framing = FramingForMode(m_currentReportMode.load());
  const std::shared_ptr<HandlePair> handles = CurrentHandles();
  if (!handles || handles->read == kInvalidHidHandle) return kWaitAbandoned;

  uint8_t buffer[kReadBufferSize] = {};
  const HidReadResult result =
      m_bus.ReadReport(handles->read, buffer, framing.inputSize, timeoutMs);
  if (result.status != HidRead::kReport) return result.status == HidRead::kTimedOut ? kWaitTimeout : kWaitFailed;
  if (count > 0 && destination) {
    // Only bytes that arrived are handed over; the rest of `count` reads as zero.
    const size_t arrived = result.bytes > 1 ? std::min(result.bytes - 1, kReadBufferSize - 1) : 0;
    const size_t copied = std::min<size_t>(count, arrived);
    std::memcpy(destination, buffer + 1, copied);
    std::memset(destination + copied, 0, count - copied);
  }
  return kWaitReceived;
}

}  // namespace tarvik
