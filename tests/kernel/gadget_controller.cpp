// A simulated Tarvik controller on a real USB stack: a USB HID function
// gadget (configfs, usb_f_hid) bound to one of dummy_hcd's device
// controllers, answering on /dev/hidgN with the same models the simulated bus
// uses. Inside a guest, the host side is the kernel's usbhid driver, so the
// updater reaches the controller through hidraw as it reaches a real one:
// USB enumeration, interrupt endpoints, report ID 0 stripped on the wire.
//
//   gadget_controller UDC boot|packet1|packet2 IMAGE [KEY=VALUE]...
//
// UDC is the dummy device controller's number (dummy_udc.UDC); KEY=VALUE are
// as for uhid_controller, and unplug.after=N: the controller is pulled out
// (unbound for good) once it has taken N output reports. The controller leaves the bus as a real one does:
// the boot-mode controller's reset is an unbind and a bind again (a USB
// disconnect and reconnect); the report-mode-2 controller, on the mode-2
// signal, unbinds and comes back as the report-mode-1 product (switch=replug
// unless a setting says otherwise). Runs until
// SIGTERM, then removes the gadget and checks what the controller holds and
// how often it enumerated again, or, pulled out, that it was pulled out
// before it held the whole image ("PEER-CHECK OK <mode>" or
// "PEER-CHECK FAIL <mode>: <why>").
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "device/device_table.h"
#include "tests/kernel/sim_peer.h"

namespace {

using namespace tarvik;
using Bytes = std::vector<uint8_t>;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr size_t kWireReport = 64;  // every report on the interrupt endpoints, report ID included
constexpr int kWriteWaitMs = 1000;
constexpr const char* kFunction = "functions/hid.usb0";
constexpr const char* kLink = "configs/c.1/hid.usb0";

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WriteFile(const std::string& path, const void* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "gadget_controller: open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
  if (!ok) std::fprintf(stderr, "gadget_controller: write %s: %s\n", path.c_str(), std::strerror(errno));
  close(fd);
  return ok;
}

bool WriteText(const std::string& path, const std::string& text) {
  return WriteFile(path, text.data(), text.size());
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

bool IsNumbered(uint16_t productId) {
  const DeviceTableRow* row = FindDeviceTableRow(kDeviceTable[0].vendorId, productId);
  return row && row->mode == ReportMode::kPacketNumbered;
}

// One gadget under configfs with one HID function, and its /dev/hidgN.
class Gadget {
 public:
  Gadget(int udc, std::string name) : m_udc("dummy_udc." + std::to_string(udc)), m_name(std::move(name)),
                                      m_dir("/sys/kernel/config/usb_gadget/tarvik" + std::to_string(udc) + "/") {}

  bool Create(uint16_t productId, const std::string& serial) {
    const std::string strings = m_dir + "strings/0x409/";
    const std::string config = m_dir + "configs/c.1/";
    if (mkdir(m_dir.c_str(), 0755) != 0 || mkdir(strings.c_str(), 0755) != 0 || mkdir(config.c_str(), 0755) != 0 ||
        mkdir((config + "strings/0x409").c_str(), 0755) != 0 || mkdir((m_dir + kFunction).c_str(), 0755) != 0) {
      std::fprintf(stderr, "gadget_controller: cannot make %s: %s\n", m_dir.c_str(), std::strerror(errno));
      return false;
    }
    return WriteText(m_dir + "idVendor", Hex4(kDeviceTable[0].vendorId)) &&
           WriteText(m_dir + "bcdUSB", "0x0200") && WriteText(m_dir + "bcdDevice", "0x0100") &&
           WriteText(strings + "manufacturer", "Tarvik") && WriteText(strings + "product", m_name) &&
           WriteText(strings + "serialnumber", serial) && WriteText(config + "MaxPower", "100") &&
           WriteText(config + "strings/0x409/configuration", "Tarvik") &&
           WriteText(m_dir + kFunction + "/protocol", "0") && WriteText(m_dir + kFunction + "/subclass", "0") &&
           WriteText(m_dir + kFunction + "/report_length", std::to_string(kWireReport)) &&
           Plug(productId);
  }

  // Links the function as `productId` with that product's descriptor, binds
  // the gadget to its device controller and opens /dev/hidgN once it is there.
  bool Plug(uint16_t productId) {
    m_numbered = IsNumbered(productId);
    m_productId = productId;
    const Bytes descriptor = PeerReportDescriptor(m_numbered ? 0x81 : 0);
    if (!WriteText(m_dir + "idProduct", Hex4(productId)) ||
        !WriteFile(m_dir + kFunction + "/report_desc", descriptor.data(), descriptor.size())) {
      return false;
    }
    if (symlink((m_dir + kFunction).c_str(), (m_dir + kLink).c_str()) != 0) {
      std::fprintf(stderr, "gadget_controller: link: %s\n", std::strerror(errno));
      return false;
    }
    if (!WriteText(m_dir + "UDC", m_udc)) return false;
    const std::string node = "/dev/hidg" + Minor();
    for (int i = 0; i < 100 && m_fd < 0; ++i) {
      m_fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
      if (m_fd < 0) Sleep(20);
    }
    if (m_fd < 0) std::fprintf(stderr, "gadget_controller: open %s: %s\n", node.c_str(), std::strerror(errno));
    return m_fd >= 0;
  }

  // A USB disconnect: the host's usbhid device and hidraw node go away.
  void Unplug() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    WriteText(m_dir + "UDC", "\n");
    unlink((m_dir + kLink).c_str());
  }

  void Remove() {
    Unplug();
    for (const char* dir : {"configs/c.1/strings/0x409", "configs/c.1", kFunction, "strings/0x409", ""}) {
      rmdir((m_dir + dir).c_str());
    }
  }

  int Fd() const { return m_fd; }
  bool Numbered() const { return m_numbered; }
  uint16_t ProductId() const { return m_productId; }

  // Waits until the host has taken the last input report off the endpoint.
  bool WaitWritable() const {
    pollfd pfd{m_fd, POLLOUT, 0};
    return poll(&pfd, 1, kWriteWaitMs) == 1 && (pfd.revents & POLLOUT);
  }

 private:
  // The function's character device minor: the N of /dev/hidgN.
  std::string Minor() const {
    char text[32] = {};
    const int fd = open((m_dir + kFunction + "/dev").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "0";
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    const char* colon = n > 0 ? std::strchr(text, ':') : nullptr;
    return colon ? std::to_string(std::atoi(colon + 1)) : "0";
  }

  std::string m_udc;
  std::string m_name;
  std::string m_dir;
  int m_fd = -1;
  bool m_numbered = false;
  uint16_t m_productId = 0;
};

// The models' side of the gadget. Leaving the bus happens after the report
// that asked for it has been handled (Settle), never from inside the model.
class GadgetPort final : public SimDevicePort {
 public:
  explicit GadgetPort(Gadget& gadget) : m_gadget(gadget) {}

  void SendInputReport(std::vector<uint8_t> report, uint32_t) override {
    // The models put the report ID first, as Windows shows reports; on the
    // wire only numbered reports carry it.
    const size_t skip = (!m_gadget.Numbered() && !report.empty() && report[0] == 0x00) ? 1 : 0;
    Bytes wire(report.begin() + static_cast<std::ptrdiff_t>(skip), report.end());
    wire.resize(kWireReport, 0);
    if (!m_gadget.WaitWritable() || write(m_gadget.Fd(), wire.data(), wire.size()) != static_cast<ssize_t>(wire.size())) {
      std::fprintf(stderr, "gadget_controller: input report not taken by the host\n");
    }
  }
  void Unplug() override { g_stop = 1; }
  void ReplugAs(uint16_t productId, size_t, size_t) override { m_replugAs = productId; }
  void LeaveAndReturn(uint32_t leaveInMs, uint32_t awayMs) override {
    m_leave = true;
    m_leaveInMs = leaveInMs;
    m_awayMs = awayMs;
  }
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  // Carries out a leave the last report asked for; false when the gadget
  // could not come back.
  bool Settle() {
    if (m_leave) {
      m_leave = false;
      // The acknowledgement is out once the host has taken it.
      m_gadget.WaitWritable();
      Sleep(m_leaveInMs);
      m_gadget.Unplug();
      Sleep(m_awayMs);
      return Back(m_gadget.ProductId());
    }
    if (m_replugAs != 0) {
      const uint16_t productId = m_replugAs;
      m_replugAs = 0;
      m_gadget.Unplug();
      return Back(productId);
    }
    return true;
  }

  int Returns() const { return m_returns; }

 private:
  bool Back(uint16_t productId) {
    ++m_returns;
    std::printf("PEER-ENUMERATED %04x\n", productId);
    std::fflush(stdout);
    return m_gadget.Plug(productId);
  }

  Gadget& m_gadget;
  bool m_leave = false;
  uint32_t m_leaveInMs = 0;
  uint32_t m_awayMs = 0;
  uint16_t m_replugAs = 0;
  int m_returns = 0;
};

// With the models' default settings, after a whole update: the boot-mode
// controller enumerates again once, at its reset; the report-mode-1 one once,
// when it starts what it was sent; the report-mode-2 one twice, as report
// mode 1 and then at that start.
std::string CheckReturns(const SimPeer& peer, const Gadget& gadget, int returns) {
  const int expected = peer.row == 2 ? 2 : 1;
  if (returns != expected) {
    return "enumerated again " + std::to_string(returns) + " times, not " + std::to_string(expected);
  }
  if (peer.row == 2 && (gadget.ProductId() != kDeviceTable[0].productId || peer.packet->ReportMode() != 1)) {
    return "not back in report mode 1";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: gadget_controller UDC boot|packet1|packet2 IMAGE [uid.step=N] [KEY=VALUE]...\n");
    return 2;
  }
  // A report-mode-2 controller comes back in report mode 1 on the signal, as real ones do.
  std::vector<std::string> settings = {"switch=replug"};
  long unplugAfter = 0;
  for (int i = 4; i < argc; ++i) {
    const std::string setting = argv[i];
    if (setting.rfind("unplug.after=", 0) == 0) {
      unplugAfter = std::atol(setting.c_str() + std::strlen("unplug.after="));
      if (unplugAfter <= 0) {
        std::fprintf(stderr, "gadget_controller: bad setting %s (a count of reports from 1)\n", setting.c_str());
        return 2;
      }
    } else {
      settings.push_back(setting);
    }
  }
  SimPeer peer;
  if (!MakeSimPeer("gadget_controller", argv[2], settings, peer)) return 2;
  const int udc = std::atoi(argv[1]);
  const std::string image = argv[3];
  const DeviceTableRow& device = kDeviceTable[static_cast<size_t>(peer.row - 1)];

  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  Gadget gadget(udc, "Tarvik controller (" + peer.mode + ")");
  if (!gadget.Create(device.productId, "TVK" + std::to_string(udc))) {
    gadget.Remove();
    return 1;
  }
  std::printf("PEER-READY %s\n", peer.mode.c_str());
  std::fflush(stdout);

  GadgetPort port(gadget);
  bool back = true;
  long reports = 0;
  while (!g_stop && back) {
    if (unplugAfter != 0 && reports == unplugAfter) {
      gadget.Unplug();
      std::printf("PEER-UNPLUGGED after %ld reports\n", reports);
      std::fflush(stdout);
      while (!g_stop) pause();
      break;
    }
    pollfd pfd{gadget.Fd(), POLLIN, 0};
    if (poll(&pfd, 1, 200) <= 0) continue;
    uint8_t wire[kWireReport] = {};
    const ssize_t n = read(gadget.Fd(), wire, sizeof wire);
    if (n <= 0) continue;
    // A short report is the rest of the endpoint's packet left zero; the
    // models want the report ID first.
    Bytes report;
    if (!gadget.Numbered()) report.push_back(0x00);
    report.insert(report.end(), wire, wire + kWireReport);
    ++reports;
    peer.model->OnOutputReport(report, port);
    back = port.Settle();
  }
  gadget.Remove();

  std::string failure;
  if (unplugAfter != 0) {
    failure = reports != unplugAfter              ? "taken " + std::to_string(reports) + " reports, never pulled out"
              : CheckSimPeer(peer, image).empty() ? "holds the whole image though pulled out"
                                                  : "";
  } else {
    failure = back ? CheckSimPeer(peer, image) : "did not enumerate again";
    if (failure.empty()) failure = CheckReturns(peer, gadget, port.Returns());
  }
  return ReportSimPeerCheck(peer, failure);
}
