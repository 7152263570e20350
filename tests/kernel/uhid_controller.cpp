// A simulated Tarvik controller on a real kernel: the device side of a uhid
// HID device, answering with the same models the simulated bus uses. Inside a
// guest, the updater then reaches it through hidraw like a real controller.
//
//   uhid_controller boot|packet1|packet2 IMAGE [KEY=VALUE]...
//
// KEY=VALUE are the simulated controller's settings (see --sim), and
// uid.step=N: the main microcontroller's UID ends N higher than the model's,
// so that several boot-mode controllers on one bus tell themselves apart.
// Runs until SIGTERM, then checks what the controller received against IMAGE
// and prints "PEER-CHECK OK" or "PEER-CHECK FAIL: <why>".
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_table.h"
#include "sim/sim_boot_controller.h"
#include "sim/sim_packet_controller.h"
#include "update/firmware_image.h"

namespace {

using namespace tarvik;
using Bytes = std::vector<uint8_t>;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

// A vendor-defined device with 64-byte reports; with `reportId`, numbered
// reports of 63 bytes after the ID.
Bytes ReportDescriptor(int reportId) {
  const uint8_t count = reportId ? 63 : 64;
  Bytes d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
  if (reportId) d.insert(d.end(), {0x85, static_cast<uint8_t>(reportId)});
  d.insert(d.end(), {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, count, 0x09, 0x01, 0x81, 0x02,
                     0x95, count, 0x09, 0x01, 0x91, 0x02, 0xC0});
  return d;
}

bool WriteEvent(int fd, const uhid_event& event) {
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

class UhidPort final : public SimDevicePort {
 public:
  UhidPort(int fd, bool numbered) : m_fd(fd), m_numbered(numbered) {}
  void SendInputReport(std::vector<uint8_t> report, uint32_t) override {
    // The models put the report ID first, as Windows shows reports; the
    // kernel wants it only for numbered reports.
    size_t skip = (!m_numbered && !report.empty() && report[0] == 0x00) ? 1 : 0;
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(report.size() - skip);
    std::memcpy(event.u.input2.data, report.data() + skip, report.size() - skip);
    if (!WriteEvent(m_fd, event)) std::perror("uhid input");
  }
  void Unplug() override { g_stop = 1; }
  void ReplugAs(uint16_t, size_t, size_t) override {}
  // The uhid device stays through the reset, as with reset.replug=0.
  void LeaveAndReturn(uint32_t, uint32_t) override {}
  uint64_t NowMs() override { return 0; }

 private:
  int m_fd;
  bool m_numbered;
};

std::string Hex(const Bytes& bytes) {
  std::string out;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    out += digits;
  }
  return out;
}

// What the controller should hold after writing IMAGE.
std::string CheckBoot(const SimBootController& model, const std::string& path) {
  const FirmwareImage image = FirmwareImage::Load(path);
  if (!image.Accepted()) return "the image is not valid";
  const std::vector<ImageRecord>& records = image.Records();
  const auto regions = model.WrittenRegions();
  for (const ImageRecord& record : records) {
    if (record.header.version == 0) break;
    const auto begin = image.Bytes().begin() + static_cast<std::ptrdiff_t>(record.PayloadOffset());
    const Bytes payload(begin, begin + record.header.desLen);
    const char* mcu = record.header.pid != 0 ? "main" : "at";
    bool found = false;
    for (const auto& region : regions) {
      found = found || (region.mcu == mcu && region.address == record.header.desAddress && region.bytes == payload);
    }
    if (!found) return std::string("record for ") + mcu + " not in flash";
  }
  if (model.Stamps().size() != records.size()) return "version stamps missing";
  if (model.ResetCount() != 1) return "no reset";
  return "";
}

std::string CheckPacket(const SimPacketController& model, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "cannot read the image";
  Bytes image;
  int c;
  while ((c = std::fgetc(f)) != EOF) image.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  if (image.size() < kRecordHeaderSize) return "image too short";
  const RecordHeader header = ParseRecordHeader(image.data());
  const Bytes received = model.ReceivedData();
  if (received.size() < header.desLen) return "received " + std::to_string(received.size()) + " bytes";
  if (!std::equal(received.begin(), received.begin() + header.desLen, image.begin() + kRecordHeaderSize)) {
    return "received data differs from the image: " + Hex(Bytes(received.begin(), received.begin() + 16));
  }
  if (model.CompletedTransfers() != 1) return "transfer not completed";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: uhid_controller boot|packet1|packet2 IMAGE [uid.step=N] [KEY=VALUE]...\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string image = argv[2];
  const int row = mode == "packet1" ? 1 : mode == "packet2" ? 2 : 3;
  const DeviceTableRow& device = kDeviceTable[static_cast<size_t>(row - 1)];
  const bool numbered = device.mode == ReportMode::kPacketNumbered;

  SimBootConfig bootConfig;
  SimPacketConfig packetConfig;
  for (int i = 3; i < argc; ++i) {
    const std::string setting = argv[i];
    const size_t eq = setting.find('=');
    std::string error;
    if (eq != std::string::npos && setting.compare(0, eq, "uid.step") == 0) {
      char* end = nullptr;
      const unsigned long step = std::strtoul(setting.c_str() + eq + 1, &end, 0);
      if (end == setting.c_str() + eq + 1 || *end != '\0' || step > 0xFFFF) {
        std::fprintf(stderr, "uhid_controller: bad setting %s (a number up to 0xFFFF)\n", setting.c_str());
        return 2;
      }
      bootConfig.main.uid[2] += static_cast<uint32_t>(step);
      continue;
    }
    if (eq == std::string::npos ||
        !(ApplySimBootSetting(setting.substr(0, eq), setting.substr(eq + 1), bootConfig, error) ||
          ApplySimPacketSetting(setting.substr(0, eq), setting.substr(eq + 1), packetConfig, error))) {
      std::fprintf(stderr, "uhid_controller: bad setting %s %s\n", setting.c_str(), error.c_str());
      return 2;
    }
  }
  std::shared_ptr<SimBootController> boot;
  std::shared_ptr<SimPacketController> packet;
  ISimDeviceModel* model = nullptr;
  if (row == 3) {
    boot = std::make_shared<SimBootController>(bootConfig);
    model = boot.get();
  } else {
    packet = std::make_shared<SimPacketController>(row, packetConfig);
    model = packet.get();
  }

  const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::perror("open /dev/uhid");
    return 1;
  }
  uhid_event create{};
  create.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(create.u.create2.name), sizeof create.u.create2.name,
                "Tarvik controller (%s)", mode.c_str());
  const Bytes descriptor = ReportDescriptor(numbered ? 0x81 : 0);
  std::memcpy(create.u.create2.rd_data, descriptor.data(), descriptor.size());
  create.u.create2.rd_size = static_cast<uint16_t>(descriptor.size());
  create.u.create2.bus = 0x03;  // BUS_USB
  create.u.create2.vendor = device.vendorId;
  create.u.create2.product = device.productId;
  if (!WriteEvent(fd, create)) {
    std::perror("uhid create");
    return 1;
  }
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  std::printf("PEER-READY %s\n", mode.c_str());
  std::fflush(stdout);

  UhidPort port(fd, numbered);
  while (!g_stop) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 200) <= 0) continue;
    uhid_event event{};
    if (read(fd, &event, sizeof event) <= 0) continue;
    if (event.type != UHID_OUTPUT) continue;
    Bytes report(event.u.output.data, event.u.output.data + event.u.output.size);
    model->OnOutputReport(report, port);
  }
  uhid_event destroy{};
  destroy.type = UHID_DESTROY;
  WriteEvent(fd, destroy);
  close(fd);

  const std::string failure = boot ? CheckBoot(*boot, image) : CheckPacket(*packet, image);
  if (failure.empty()) {
    std::printf("PEER-CHECK OK %s\n", mode.c_str());
  } else {
    std::printf("PEER-CHECK FAIL %s: %s\n", mode.c_str(), failure.c_str());
  }
  std::fflush(stdout);
  return failure.empty() ? 0 : 1;
}
