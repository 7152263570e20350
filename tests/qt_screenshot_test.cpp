// Pictures of the window at start, in English and Chinese, with and without a
// controller, under a real X server; the PNGs stay in the build tree.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include "app/cupdate_dlg.h"
#include "platform/qt/qt_window_host.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

struct Shot {
  QImage image;
  QString title;
};

Shot TakeShot(uint16_t language, bool withController, const std::string& name) {
  VirtualClock clock;
  test::FakeSystem system(clock);
  test::TempDir dir;
  system.currentDirectory = dir.Path().string();
  system.language = language;
  SimHidBus bus(clock);
  if (withController) {
    SimDeviceSetup setup = ControllerSetup(3);
    setup.model = std::make_shared<SimBootController>();
    bus.Plug(setup, false);
  }
  QtWindowHost host;
  Shot shot;
  host.SetShownHook([&](QDialog& window) {
    // Let the window manager-less server map and paint it first.
    QTimer::singleShot(300, &window, [&] {
      shot.image = window.grab().toImage();
      shot.title = window.windowTitle();
      shot.image.save(QString::fromStdString(std::string(TARVIK_SCREENSHOT_DIR) + "/" + name + ".png"));
      window.reject();
    });
  });
  CUpdateDlg dlg(PlatformServices{bus, host, system});
  dlg.DoModal();
  return shot;
}

TEST(QtScreenshotTest, WindowAtStartInBothLanguages) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X server (xvfb-run)";
  const Shot english = TakeShot(1033, false, "start-no-controller-en");
  const Shot chinese = TakeShot(2052, false, "start-no-controller-zh");
  const Shot englishBoot = TakeShot(1033, true, "start-boot-controller-en");
  const Shot chineseBoot = TakeShot(2052, true, "start-boot-controller-zh");
  for (const Shot* shot : {&english, &chinese, &englishBoot, &chineseBoot}) {
    ASSERT_FALSE(shot->image.isNull());
    EXPECT_GT(shot->image.width(), 300);
    EXPECT_GT(shot->image.height(), 150);
  }
  EXPECT_EQ(english.title, QStringLiteral("Tarvik Update v2.00"));
  EXPECT_EQ(englishBoot.title, QStringLiteral("Tarvik Update v2.00 (Fw v1.20 r5)"));
  EXPECT_EQ(chineseBoot.title, QStringLiteral("Tarvik Update v2.00 (Fw v1.20 r5)"));
  // The texts differ, so do the pictures; the controller enables the button.
  EXPECT_NE(english.image, chinese.image);
  EXPECT_NE(english.image, englishBoot.image);
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
