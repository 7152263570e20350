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
#include "platform/linux/hidraw_bus.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/qt_window_host.h"
#include "res/resource.h"
#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"
#include "platform/std/steady_clock.h"
#include "sim/sim_setup.h"
#include "texts/interface_texts.h"

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
  ChooseTextLanguage(2052);  // as the program does at its start
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
  ChooseTextLanguage(1033);

  ASSERT_FALSE(fileDialogShot.isNull());
  ASSERT_FALSE(boxShot.isNull());
  Save(fileDialogShot, "file-dialog-zh");
  Save(boxShot, "confirmation-zh");
  EXPECT_TRUE(Has(boxTexts, QStringLiteral("确定")));
  EXPECT_TRUE(Has(boxTexts, QStringLiteral("取消")));
  EXPECT_TRUE(Has(boxTexts, QStringLiteral("固件版本 1.31 当前版本为 1.20\n此固件未签名。请仅在固件来自手柄厂商时继续。\n")))
      << QStringList(boxTexts.begin(), boxTexts.end()).join(QLatin1Char('|')).toStdString();
  EXPECT_FALSE(Has(fileDialogTexts, QStringLiteral("Cancel")));
  EXPECT_FALSE(Has(fileDialogTexts, QStringLiteral("&Open")));
  EXPECT_TRUE(Has(fileDialogTexts, QStringLiteral("取消")));
  // The X11 window class is the desktop entry's name, so that shells match the two.
  EXPECT_EQ(windowClass.split('\0').value(1), QByteArray(kApplicationId));
}


// The boxes an update shows, as a person sees them, in English and Chinese:
// a failure's reason and next step, and a question that says more than the
// version. Each box is saved and answered OK; the window mid-update is saved
// with its step line.
struct BoxScene {
  const char* name;
  uint16_t language;
  std::vector<uint8_t> image;
  uint32_t unplugAfter;   // reports before the controller leaves; 0: stays
  size_t boxes;           // boxes the scene shows
};

std::vector<std::string> ShootBoxes(const BoxScene& scene) {
  // The worker waits on the clock itself: a virtual one would stand still.
  SteadyClock clock;
  test::FakeSystem system(clock);
  test::TempDir dir;
  system.currentDirectory = dir.Path().string();
  system.language = scene.language;
  ChooseTextLanguage(scene.language);
  if (scene.language == 2052) InstallQtTranslations(2052);
  const std::string image = test::WriteFile(dir.Path() / "fw.dat", scene.image);
  SimHidBus bus(clock);
  SimOptions options;
  options.unplugAfter = scene.unplugAfter;
  PopulateSimBus(bus, options);

  QtWindowHost host;
  host.SetFileDialogHook([&](const FileDialogRequest&) { return std::optional<std::string>(image); });
  CUpdateDlg dlg(PlatformServices{bus, host, system});
  std::vector<std::string> texts;
  bool stepShot = false;
  host.SetShownHook([&](QDialog& window) {
    QTimer::singleShot(30000, &window, [&window] {
      ADD_FAILURE() << "still open";
      if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
      window.done(0);
    });
    auto* poll = new QTimer(&window);
    auto seen = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, &window, [&, poll, seen] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == &window) {
        *seen = 0;
        auto* notice = qobject_cast<QLabel*>(host.Control(IDC_STATIC_NOTICE));
        if (!stepShot && dlg.IsBusy() && notice && notice->isVisible() && notice->text().endsWith("...")) {
          stepShot = true;
          Save(window.grab().toImage(), std::string(scene.name) + "-step");
        }
        if (texts.size() >= scene.boxes && !dlg.IsBusy()) {
          poll->stop();
          window.reject();
        }
        return;
      }
      if (++*seen < 6) return;  // mapped and painted
      *seen = 0;
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        texts.push_back(box->text().toStdString());
        Save(box->grab().toImage(), std::string(scene.name) + "-" + std::to_string(texts.size()));
        box->button(QMessageBox::Ok)->click();
      }
    });
    poll->start(50);
    qobject_cast<QPushButton*>(host.Control(IDC_USB_UPDATE))->click();
  });
  dlg.DoModal();
  if (scene.language == 2052) RemoveQtTranslations();
  ChooseTextLanguage(1033);
  return texts;
}

TEST(QtScreenshotTest, BoxesOfAnUpdateInBothLanguages) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X server (xvfb-run)";
  const std::vector<uint8_t> twoMcus = test::Concat({test::Record(131, 0x08004000, test::Payload(4600)),
                                                     test::Record(112, 0x2000, test::Payload(50), 0)});
  const std::vector<uint8_t> broken = test::Record(131, 0x08004000, test::Payload(99), 1, 100);
  const std::vector<uint8_t> older = test::Record(110, 0x08004000, test::Payload(100));
  const BoxScene scenes[] = {
      {"unplugged-en", 1033, twoMcus, 40, 2},  {"unplugged-zh", 2052, twoMcus, 40, 2},
      {"broken-image-en", 1033, broken, 0, 1}, {"broken-image-zh", 2052, broken, 0, 1},
      {"older-image-en", 1033, older, 0, 2},   {"older-image-zh", 2052, older, 0, 2},
  };
  for (const BoxScene& scene : scenes) {
    SCOPED_TRACE(scene.name);
    const std::vector<std::string> texts = ShootBoxes(scene);
    ASSERT_EQ(texts.size(), scene.boxes);
    const bool chinese = scene.language == 2052;
    const std::string failure = chinese ? "固件更新失败\n" : "Firmware update failure\n";
    if (scene.unplugAfter != 0) {
      EXPECT_NE(texts[0].find(chinese ? "ATmcu 1.12 当前版本为 1.10" : "ATmcu 1.12 and current is 1.10"),
                std::string::npos);
      EXPECT_EQ(texts[1].rfind(failure, 0), 0u) << texts[1];
      EXPECT_NE(texts[1].find(chinese ? "配对键" : "pair button"), std::string::npos) << texts[1];
    } else if (scene.boxes == 1) {
      EXPECT_EQ(texts[0].rfind(failure, 0), 0u) << texts[0];
    } else {
      EXPECT_NE(texts[0].find(chinese ? "1.10" : "is older than"), std::string::npos) << texts[0];
    }
  }
}

// The access notice: each command on a line of its own, whole, in a field
// it can be copied from.
TEST(QtScreenshotTest, AccessNoticeKeepsEachCommandWhole) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X server (xvfb-run)";
  for (const uint16_t language : {uint16_t{1033}, uint16_t{2052}}) {
    SCOPED_TRACE(language);
    QtWindowHost host;
    QStringList fields;
    QTimer::singleShot(500, [&] {
      auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      Save(box->grab().toImage(), language == 2052 ? "access-notice-zh" : "access-notice-en");
      for (const QLabel* field : box->findChildren<QLabel*>(QStringLiteral("commands"))) {
        // The field is as wide as its widest command: nothing is wrapped or cut.
        EXPECT_GE(field->width(), field->sizeHint().width());
        EXPECT_FALSE(field->wordWrap());
        fields.push_back(field->text());
      }
      box->accept();
    });
    host.MessageBox(AccessDeniedHint(language, "/usr/lib/udev/rules.d/70-tarvik-update.rules"),
                    AccessDeniedCaption(language), MsgBoxButtons::kOk);
    ASSERT_EQ(fields.size(), 1);
    EXPECT_EQ(fields[0].toStdString(),
              "sudo install -m 644 /usr/lib/udev/rules.d/70-tarvik-update.rules /etc/udev/rules.d/\n"
              "sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw");
  }
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
