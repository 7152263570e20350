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
#include "tests/kernel/sim_peer.h"

namespace {

using namespace tarvik;
using Bytes = std::vector<uint8_t>;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: uhid_controller boot|packet1|packet2 IMAGE [uid.step=N] [KEY=VALUE]...\n");
    return 2;
  }
  SimPeer peer;
  if (!MakeSimPeer("uhid_controller", argv[1], std::vector<std::string>(argv + 3, argv + argc), peer)) return 2;
  const std::string& mode = peer.mode;
  const std::string image = argv[2];
  const DeviceTableRow& device = kDeviceTable[static_cast<size_t>(peer.row - 1)];
  const bool numbered = device.mode == ReportMode::kPacketNumbered;

  const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::perror("open /dev/uhid");
    return 1;
  }
  uhid_event create{};
  create.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(create.u.create2.name), sizeof create.u.create2.name,
                "Tarvik controller (%s)", mode.c_str());
  const Bytes descriptor = PeerReportDescriptor(numbered ? 0x81 : 0);
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
    peer.model->OnOutputReport(report, port);
  }
  uhid_event destroy{};
  destroy.type = UHID_DESTROY;
  WriteEvent(fd, destroy);
  close(fd);

  return ReportSimPeerCheck(peer, CheckSimPeer(peer, image));
}
