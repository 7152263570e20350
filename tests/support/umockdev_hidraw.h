// hidraw devices without hardware: a umockdev testbed in the test process
// (the test runs under umockdev-wrapper, which preloads the library that
// redirects /sys and /dev into the testbed).
//
// Each device is a hidraw node with a hid parent (HID_ID, HID_UNIQ) and a USB
// device parent (idVendor, idProduct, busnum, devpath: port N of bus 1 for
// /dev/hidrawN), as the kernel shows a USB controller. Its /dev
// node is a FIFO: the device side writes input reports into it in packet mode
// (O_DIRECT, set with fcntl), so one write is one report and poll() works as
// on hidraw. An ioctl handler answers HIDIOCGRAWINFO, HIDIOCGRDESCSIZE and
// HIDIOCGRDESC and takes the host's writes, one report per write() as hidraw does.
//
// Unplugging makes no POLLHUP under umockdev: the node stays a FIFO with a
// writer. Unplug() therefore does what the kernel's side would: from then on
// reads fail with EIO and writes with ENODEV (hidraw's answers on a removed
// device), and a byte written into the FIFO wakes a read waiting in poll(),
// whose read() then fails. Then the udev "remove" event goes out.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik::test {

struct MockHidrawSetup {
  unsigned number = 1;  // /dev/hidrawN
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::vector<uint8_t> descriptor;
  // The node's mode once the device side has opened it (0 and no
  // CAP_DAC_OVERRIDE: the host's opens fail with EACCES, as without udev rules).
  mode_t nodeMode = 0600;
  std::string serial = {};  // HID_UNIQ; none when empty
  std::string idPath = {};  // the node's ID_PATH, as udev's rules may set it; none when empty
};

class MockHidrawDevice {
 public:
  MockHidrawDevice(UMockdevTestbed* testbed, const MockHidrawSetup& setup)
      : m_testbed(testbed), m_setup(setup) {
    char sysfsPath[256];
    std::snprintf(
        sysfsPath, sizeof sysfsPath,
        "/devices/pci0000:00/0000:00:14.0/usb1/1-%u/1-%u:1.0/0003:%04X:%04X.%04X/hidraw/hidraw%u",
        setup.number, setup.number, setup.vendorId, setup.productId, setup.number, setup.number);
    syspath = std::string("/sys") + sysfsPath;
    devnode = "/dev/hidraw" + std::to_string(setup.number);
  }
  MockHidrawDevice(const MockHidrawDevice&) = delete;
  MockHidrawDevice& operator=(const MockHidrawDevice&) = delete;

  ~MockHidrawDevice() {
    if (m_writer >= 0) ::close(m_writer);
    if (m_idleReader >= 0) ::close(m_idleReader);
    if (m_handler) {
      if (m_attached) umockdev_testbed_detach_ioctl(m_testbed, devnode.c_str(), nullptr);
      g_signal_handlers_disconnect_by_data(m_handler, this);
      g_object_unref(m_handler);
    }
  }

  std::string syspath;
  std::string devnode;

  // Adds the device to the testbed (udev sends "add") and sets up its node.
  bool Plug() {
    const std::string record = Record();
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, record.c_str(), &error)) {
      ADD_FAILURE() << "umockdev rejected the device: " << (error ? error->message : "?");
      g_clear_error(&error);
      return false;
    }
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    const std::string node = std::string(root) + devnode;
    g_free(root);
    ::unlink(node.c_str());
    if (::mkfifo(node.c_str(), 0600) != 0) return Failed("mkfifo " + node);
    // A reader of its own first: the host's write-only opens and the writer
    // below then never wait for one.
    m_idleReader = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_idleReader < 0) return Failed("open for reading " + node);
    m_writer = ::open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_writer < 0) return Failed("open for writing " + node);
    // Packet mode: open() refuses O_DIRECT on a FIFO, fcntl() takes it.
    if (::fcntl(m_writer, F_SETFL, ::fcntl(m_writer, F_GETFL) | O_DIRECT) != 0) {
      return Failed("packet mode on " + node);
    }
    if (m_setup.nodeMode != 0600 && ::chmod(node.c_str(), m_setup.nodeMode) != 0) {
      return Failed("chmod " + node);
    }
    // A node its owner may not open needs no handler. (umockdev also keeps a
    // slot, never freed, for every failed open of a node that has one: a few
    // dozen fill its table.)
    if ((m_setup.nodeMode & 0600) == 0) return true;

    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&MockHidrawDevice::OnIoctl), this);
    g_signal_connect(m_handler, "handle-read", G_CALLBACK(&MockHidrawDevice::OnRead), this);
    g_signal_connect(m_handler, "handle-write", G_CALLBACK(&MockHidrawDevice::OnWrite), this);
    g_signal_connect(m_handler, "client-connected", G_CALLBACK(&MockHidrawDevice::OnConnected), this);
    m_attached = umockdev_testbed_attach_ioctl(m_testbed, devnode.c_str(), m_handler, &error);
    if (!m_attached) {
      ADD_FAILURE() << "cannot attach the ioctl handler: " << (error ? error->message : "?");
      g_clear_error(&error);
    }
    return m_attached;
  }

  // Device to host: one input report as the device sends it (with its report
  // ID only when the descriptor declares report IDs).
  bool SendInput(const std::vector<uint8_t>& report) {
    return ::write(m_writer, report.data(), report.size()) == static_cast<ssize_t>(report.size());
  }

  // Host to device: every report written, one entry per write().
  std::vector<std::vector<uint8_t>> Written() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_written;
  }

  // How often the host has opened the node (of a node it may open). The
  // handler counts an open when it takes the connection, in the order of the
  // opens: once an ioctl on a later open has been answered, the opens before
  // it are all counted.
  int Opens() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_opens;
  }

  // The next writes take all but the last byte, as a device failing mid-report would.
  void ShortenWrites() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_shortWrites = true;
  }

  void Unplug() {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_gone = true;
    }
    const uint8_t wake = 0;
    if (::write(m_writer, &wake, 1) != 1) ADD_FAILURE() << "cannot wake the node's readers";
    umockdev_testbed_uevent(m_testbed, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, syspath.c_str());
  }

 private:
  static bool Failed(const std::string& what) {
    ADD_FAILURE() << what << ": " << std::strerror(errno);
    return false;
  }

  // The device and its parents in umockdev-record's text form.
  std::string Record() const {
    std::string descriptorHex;
    for (uint8_t byte : m_setup.descriptor) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", byte);
      descriptorHex += hex;
    }
    const std::string hidraw = syspath.substr(4);  // under /sys
    const std::string hid = hidraw.substr(0, hidraw.find("/hidraw/"));
    const std::string interface = hid.substr(0, hid.rfind('/'));
    const std::string usb = interface.substr(0, interface.rfind('/'));
    const std::string idPath = m_setup.idPath.empty() ? "" : "E: ID_PATH=" + m_setup.idPath + "\n";
    const std::string uniq = m_setup.serial.empty() ? "" : "E: HID_UNIQ=" + m_setup.serial + "\n";
    std::vector<char> text(1024 + descriptorHex.size() + 4 * hidraw.size() + idPath.size() + uniq.size());
    std::snprintf(
        text.data(), text.size(),
        "P: %s\nN: hidraw%u\nE: DEVNAME=/dev/hidraw%u\nE: MAJOR=243\nE: MINOR=%u\n"
        "E: SUBSYSTEM=hidraw\n%s\n"
        "P: %s\nE: HID_ID=0003:%08X:%08X\n%sE: SUBSYSTEM=hid\nH: report_descriptor=%s\n\n"
        "P: %s\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\n\n"
        "P: %s\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: idVendor=%04x\nA: idProduct=%04x\n"
        "A: busnum=1\nA: devpath=%u\n",
        hidraw.c_str(), m_setup.number, m_setup.number, m_setup.number, idPath.c_str(), hid.c_str(),
        m_setup.vendorId, m_setup.productId, uniq.c_str(), descriptorHex.c_str(), interface.c_str(),
        usb.c_str(), m_setup.vendorId, m_setup.productId, m_setup.number);
    return text.data();
  }

  // Copies `size` bytes into the caller's memory at the ioctl argument + `offset`.
  static gboolean Answer(UMockdevIoctlClient* client, size_t argSize, size_t offset,
                         const void* bytes, size_t size, long result) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, argSize, &error);
    if (!data) {
      g_clear_error(&error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
    umockdev_ioctl_data_update(data, offset, static_cast<guint8*>(const_cast<void*>(bytes)),
                               static_cast<gint>(size));
    g_object_unref(data);
    umockdev_ioctl_client_complete(client, result, 0);
    return TRUE;
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* device = static_cast<MockHidrawDevice*>(self);
    MockHidrawSetup setup;
    {
      std::lock_guard<std::mutex> lock(device->m_lock);
      setup = device->m_setup;
    }
    const std::vector<uint8_t>& descriptor = setup.descriptor;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == HIDIOCGRAWINFO) {
      hidraw_devinfo info{};
      info.bustype = 3;  // BUS_USB
      info.vendor = static_cast<int16_t>(setup.vendorId);
      info.product = static_cast<int16_t>(setup.productId);
      return Answer(client, sizeof info, 0, &info, sizeof info, 0);
    }
    if (request == HIDIOCGRDESCSIZE) {
      const int size = static_cast<int>(descriptor.size());
      return Answer(client, sizeof size, 0, &size, sizeof size, 0);
    }
    if (request == HIDIOCGRDESC) {
      // As hidraw: the caller says how much it wants in `size`; more than the
      // largest descriptor is refused.
      UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
      GError* error = nullptr;
      UMockdevIoctlData* data =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &error);
      if (!data) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
      }
      uint32_t wanted = 0;
      std::memcpy(&wanted, data->data, sizeof wanted);
      if (wanted > HID_MAX_DESCRIPTOR_SIZE - 1) {
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      const size_t copied = std::min<size_t>(wanted, descriptor.size());
      umockdev_ioctl_data_update(data, offsetof(hidraw_report_descriptor, value),
                                 const_cast<guint8*>(descriptor.data()), static_cast<gint>(copied));
      g_object_unref(data);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }

  // Unhandled reads go to the FIFO itself.
  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* device = static_cast<MockHidrawDevice*>(self);
    {
      std::lock_guard<std::mutex> lock(device->m_lock);
      if (!device->m_gone) return FALSE;
    }
    umockdev_ioctl_client_complete(client, -1, EIO);
    return TRUE;
  }

  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
    auto* device = static_cast<MockHidrawDevice*>(self);
    std::lock_guard<std::mutex> lock(device->m_lock);
    ++device->m_opens;
  }

  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* device = static_cast<MockHidrawDevice*>(self);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    long taken = 0;
    {
      std::lock_guard<std::mutex> lock(device->m_lock);
      if (device->m_gone) {
        taken = -1;
      } else {
        device->m_written.emplace_back(arg->data, arg->data + arg->data_len);
        taken = device->m_shortWrites ? arg->data_len - 1 : arg->data_len;
      }
    }
    umockdev_ioctl_client_complete(client, taken, taken < 0 ? ENODEV : 0);
    return TRUE;
  }

  UMockdevTestbed* m_testbed;
  UMockdevIoctlBase* m_handler = nullptr;
  bool m_attached = false;
  int m_idleReader = -1;
  int m_writer = -1;

  std::mutex m_lock;  // the handler runs on the testbed's own thread
  MockHidrawSetup m_setup;
  std::vector<std::vector<uint8_t>> m_written;
  bool m_shortWrites = false;
  int m_opens = 0;
  bool m_gone = false;
};

// One testbed; its devices live as long as it does.
class UmockdevHidrawRig {
 public:
  UmockdevHidrawRig() : m_testbed(umockdev_testbed_new()) {}
  ~UmockdevHidrawRig() {
    m_devices.clear();
    g_object_unref(m_testbed);
  }
  UmockdevHidrawRig(const UmockdevHidrawRig&) = delete;
  UmockdevHidrawRig& operator=(const UmockdevHidrawRig&) = delete;

  // False when the process does not run under umockdev-wrapper; the testbed
  // then cannot redirect anything. (Asked of umockdev only once a testbed
  // exists: before, it answers false.)
  bool InMockEnvironment() const { return umockdev_in_mock_environment(); }

  MockHidrawDevice& Plug(const MockHidrawSetup& setup) {
    m_devices.push_back(std::make_unique<MockHidrawDevice>(m_testbed, setup));
    EXPECT_TRUE(m_devices.back()->Plug()) << "hidraw" << setup.number;
    return *m_devices.back();
  }

 private:
  UMockdevTestbed* m_testbed;
  std::vector<std::unique_ptr<MockHidrawDevice>> m_devices;
};

}  // namespace tarvik::test
