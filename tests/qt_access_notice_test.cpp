// The updater's window on hidraw nodes it may not open (umockdev devices, Qt
// offscreen; run under umockdev-wrapper): the user is told once, in the
// interface language, what to install and how to load it.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "app/cupdate_dlg.h"
#include "desktop/linux/desktop_startup.h"
#include "platform/qt/qt_window_host.h"
#include "platform/std/steady_clock.h"
#include "res/resource.h"
#include "tests/support/fake_system.h"
#include "tests/support/umockdev_hidraw.h"

namespace tarvik {
namespace {

// Vendor-defined, no report IDs, 64 data bytes each way.
const std::vector<uint8_t> kDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02,
                                          0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40,
                                          0x81, 0x02, 0x09, 0x03, 0x95, 0x40, 0x91, 0x02, 0xC0};

struct Told {
  std::string text;
  std::string caption;
};

class AccessNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!rig.InMockEnvironment()) GTEST_SKIP() << "needs umockdev-wrapper";
    host.SetMessageBoxHook([this](const std::string& text, const std::optional<std::string>& caption,
                                  MsgBoxButtons buttons) -> std::optional<MsgBoxAnswer> {
      EXPECT_EQ(buttons, MsgBoxButtons::kOk);
      told.push_back({text, caption.value_or("")});
      return MsgBoxAnswer::kOk;
    });
  }

  void PlugLocked(unsigned number, uint16_t productId, uint16_t vendorId = 0x5A3C) {
    rig.Plug({number, vendorId, productId, kDescriptor, 0000});
  }

  // Shows the window with the notice as tarvik-update sets it up; `whenUp`
  // runs once it is up. The window closes after `closeAfterMs`.
  void Run(std::function<void()> whenUp, int closeAfterMs) {
    const std::vector<HidDeviceId> supported = SupportedControllerIds();
    AccessNotice notice(host, system.language, [&supported] { return HidrawPermissionDenied(supported); });
    CUpdateDlg dlg(PlatformServices{bus, host, system});
    QTimer::singleShot(0, [&] {
      // The window is up once the host has it; the notice's own hook has run by then.
      QTimer::singleShot(100, host.Window(), [&] {
        if (whenUp) whenUp();
        QTimer::singleShot(closeAfterMs, host.Window(), [this] { host.Window()->reject(); });
      });
    });
    dlg.DoModal();
  }

  // A controller refused at start is told once, in `language`; a second
  // refused controller arriving later is not told again.
  void ExpectToldOnceAtStart(uint16_t language) {
    system.language = language;
    PlugLocked(3, 0x7E23);
    Run(
        [&] {
          // No controller to use: the button stays disabled.
          EXPECT_FALSE(host.Control(IDC_USB_UPDATE)->isEnabled());
          PlugLocked(4, 0x7E21);
        },
        1500);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, AccessDeniedHint(language));
    EXPECT_EQ(told[0].caption, AccessDeniedCaption(language));
    EXPECT_NE(told[0].text.find("70-tarvik-update.rules /etc/udev/rules.d/"), std::string::npos);
    EXPECT_NE(told[0].text.find("udevadm control --reload"), std::string::npos);
  }

  test::UmockdevHidrawRig rig;
  SteadyClock clock;
  test::FakeSystem system{clock};
  HidrawBus bus{clock};
  QtWindowHost host;
  std::vector<Told> told;
};

// umockdev keeps a slot for every failed open of a node and has 50: each test
// runs in a process of its own (see tests/CMakeLists.txt).
TEST_F(AccessNoticeTest, RefusedControllerAtStartIsToldOnceInEnglish) {
  ExpectToldOnceAtStart(1033);
  EXPECT_EQ(told[0].caption, "Controller access denied");
  EXPECT_NE(told[0].text.find("access to it is denied"), std::string::npos);
}

TEST_F(AccessNoticeTest, RefusedControllerAtStartIsToldOnceInChinese) {
  ExpectToldOnceAtStart(2052);
  EXPECT_NE(told[0].text.find("没有访问它的权限"), std::string::npos);
}

TEST_F(AccessNoticeTest, ControllerArrivingRefusedIsToldWhenItArrives) {
  system.language = 2052;
  Run([&] { EXPECT_TRUE(told.empty()); PlugLocked(2, 0x7E22); }, 1500);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].caption, "无法访问手柄");
}

TEST_F(AccessNoticeTest, OtherVendorsRefusedDevicesAreNotOurs) {
  PlugLocked(1, 0xC077, 0x046D);
  Run([&] { PlugLocked(2, 0xC52B, 0x046D); }, 800);
  EXPECT_TRUE(told.empty());
}

// Root opens any node whatever its mode. The test takes the file-access
// overrides out of the effective capabilities of every thread to come, so
// that a node of mode 0 refuses the window as it refuses a user.
void ActAsAUserOnFiles() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
    data[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
  }
  if (::syscall(SYS_capset, &header, data) != 0) std::perror("capset");
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  tarvik::ActAsAUserOnFiles();
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
