// Pictures of the window at start, in English and Chinese, with and without a
// controller, under a real X server; the PNGs stay in the build tree.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "app/cupdate_dlg.h"
#include "desktop/linux/desktop_startup.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/qt_window_host.h"
#include "res/resource.h"
#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

// WM_CLASS of a shown window: instance name, NUL, class name, NUL.
QByteArray WindowClass(QWidget& window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return {};
  xcb_connection_t* connection = x11->connection();
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, static_cast<xcb_window_t>(window.winId()), XCB_ATOM_WM_CLASS,
                       XCB_ATOM_STRING, 0, 256);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
  if (!reply) return {};
  const QByteArray value(static_cast<const char*>(xcb_get_property_value(reply)),
                         xcb_get_property_value_length(reply));
  std::free(reply);
  return value;
}

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

// The texts of a dialog's labels and buttons.
std::vector<QString> TextsOf(const QWidget& dialog) {
  std::vector<QString> texts;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) texts.push_back(label->text());
  for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) texts.push_back(button->text());
  return texts;
}

bool Has(const std::vector<QString>& texts, const QString& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void Save(const QImage& image, const std::string& name) {
  image.save(QString::fromStdString(std::string(TARVIK_SCREENSHOT_DIR) + "/" + name + ".png"));
}

// An update in Chinese up to the version confirmation: Qt's file dialog and
// message box show Qt's own texts in Chinese too. The confirmation is cancelled.
TEST(QtScreenshotTest, FileDialogAndConfirmationInChinese) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X server (xvfb-run)";
  ASSERT_TRUE(InstallQtTranslations(2052));
  VirtualClock clock;
  test::FakeSystem system(clock);
  test::TempDir dir;
  system.currentDirectory = dir.Path().string();
  system.language = 2052;
  const std::string image = test::WriteFile(dir.Path() / "fw-v1.31.dat", test::Record(131, 0x08004000, test::Payload(300)));
  SimHidBus bus(clock);
  SimDeviceSetup setup = ControllerSetup(3);
  setup.model = std::make_shared<SimBootController>();
  bus.Plug(setup, false);

  QtWindowHost host;
  CUpdateDlg dlg(PlatformServices{bus, host, system});
  QImage fileDialogShot, boxShot, windowShot;
  std::vector<QString> fileDialogTexts, boxTexts;
  QByteArray windowClass;
  host.SetShownHook([&](QDialog& window) {
    windowClass = WindowClass(window);
    QTimer::singleShot(15000, &window, [&window] {
      ADD_FAILURE() << "still open";
      if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
      window.done(0);
    });
    auto* poll = new QTimer(&window);
    auto seen = std::make_shared<int>(0);  // ticks the current modal dialog has been up
    QObject::connect(poll, &QTimer::timeout, &window, [&, poll, seen] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == &window) {
        *seen = 0;
        if (!boxShot.isNull() && !dlg.IsBusy()) {
          poll->stop();
          windowShot = window.grab().toImage();
          window.reject();
        }
        return;
      }
      if (++*seen < 6) return;  // mapped and painted
      *seen = 0;
      if (auto* files = qobject_cast<QFileDialog*>(modal)) {
        fileDialogShot = files->grab().toImage();
        fileDialogTexts = TextsOf(*files);
        // As a user types the name and presses Return.
        if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
          name->setText(QString::fromStdString(image));
        }
        QMetaObject::invokeMethod(files, "accept");
      } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && boxShot.isNull()) {
        boxShot = box->grab().toImage();
        boxTexts = TextsOf(*box);
        box->reject();
      } else if (auto* other = qobject_cast<QDialog*>(modal)) {
        other->reject();
      }
    });
    poll->start(50);
    qobject_cast<QPushButton*>(host.Control(IDC_USB_UPDATE))->click();
  });
  dlg.DoModal();
  RemoveQtTranslations();

  ASSERT_FALSE(fileDialogShot.isNull());
  ASSERT_FALSE(boxShot.isNull());
  Save(fileDialogShot, "file-dialog-zh");
  Save(boxShot, "confirmation-zh");
  EXPECT_TRUE(Has(boxTexts, QStringLiteral("确定")));
  EXPECT_TRUE(Has(boxTexts, QStringLiteral("取消")));
  EXPECT_TRUE(Has(boxTexts, QStringLiteral("固件版本 1.31 当前版本为 1.20\n"))) << boxTexts.size();
  EXPECT_FALSE(Has(fileDialogTexts, QStringLiteral("Cancel")));
  EXPECT_FALSE(Has(fileDialogTexts, QStringLiteral("&Open")));
  EXPECT_TRUE(Has(fileDialogTexts, QStringLiteral("取消")));
  // The X11 window class is the desktop entry's name, so that shells match the two.
  EXPECT_EQ(windowClass.split('\0').value(1), QByteArray(kApplicationId));
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  // Named as tarvik-update names itself, before the first window: Qt takes
  // the X11 window class from the application name once, at that window.
  tarvik::SetUpApplication(1033);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
