// The updater's window on Qt, driven through its real widgets against the
// simulated controller (offscreen platform).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>

#include "app/cupdate_dlg.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/qt_window_host.h"
#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

using test::Payload;
using test::Record;

class QtWindowTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  test::FakeSystem system{clock};
  SimHidBus bus{clock};
  QtWindowHost host;
  test::TempDir dir;
  std::vector<std::string> messages;
  std::shared_ptr<SimBootController> boot;
  std::shared_ptr<SimPacketController> packet;
  std::function<void(CUpdateDlg&)> whenShown;
  // Answers to the modal boxes, by their text; OK when none is given.
  std::function<std::optional<MsgBoxAnswer>(const std::string&)> answer;

  QtWindowTest() {
    system.currentDirectory = dir.Path().string();
    host.SetMessageBoxHook([this](const std::string& text, const std::optional<std::string>&,
                                  MsgBoxButtons) -> std::optional<MsgBoxAnswer> {
      messages.push_back(text);
      if (answer) {
        if (auto given = answer(text)) return given;
      }
      return MsgBoxAnswer::kOk;
    });
  }

  int Plug(int row, bool notify = false) {
    SimDeviceSetup setup = ControllerSetup(row);
    if (row == 3) {
      boot = std::make_shared<SimBootController>();
      setup.model = boot;
    } else {
      packet = std::make_shared<SimPacketController>(row);
      setup.model = packet;
    }
    return bus.Plug(setup, notify);
  }

  void ChooseImage(const test::Bytes& image) {
    const std::string path = test::WriteFile(dir.Path() / "fw.dat", image);
    host.SetFileDialogHook([this, path](const FileDialogRequest& request) {
      EXPECT_EQ(request.types.size(), 1u);
      if (request.types.empty()) return std::optional<std::optional<std::string>>(std::nullopt);
      EXPECT_EQ(request.types[0].label, LoadText(system, kTextFileType) + "(*.dat)");
      EXPECT_EQ(request.types[0].pattern, "*.dat");
      EXPECT_EQ(request.initialDirectory, dir.Path().string());
      return std::optional<std::optional<std::string>>(path);
    });
  }

  QPushButton* Button() { return qobject_cast<QPushButton*>(host.Control(IDC_USB_UPDATE)); }
  QLabel* Label(int id) { return qobject_cast<QLabel*>(host.Control(id)); }
  QProgressBar* Progress() { return qobject_cast<QProgressBar*>(host.Control(IDC_PROGRESS)); }

  // Shows the window; `whenShown` runs once it is up. The window closes when
  // `whenShown` asks for it or after 20 seconds.
  void Run() {
    CUpdateDlg dlg(PlatformServices{bus, host, system});
    host.SetShownHook([&](QDialog& window) {
      QTimer::singleShot(20000, &window, [&window] { ADD_FAILURE() << "window still open"; window.done(0); });
      if (whenShown) whenShown(dlg);
    });
    dlg.DoModal();
  }

  // Presses the button, then calls `then` on the user-interface thread once the update has ended.
  void PressAndThen(CUpdateDlg& dlg, std::function<void()> then) {
    ASSERT_TRUE(Button()->isEnabled());
    Button()->click();
    auto* poll = new QTimer(host.Window());
    QObject::connect(poll, &QTimer::timeout, poll, [&dlg, poll, then] {
      if (dlg.IsBusy()) return;
      poll->stop();
      poll->deleteLater();
      then();
    });
    poll->start(5);
  }
};

TEST_F(QtWindowTest, StartWithoutControllerShowsTheTemplateWindowInEitherLanguage) {
  for (uint16_t language : {1033, 2052}) {
    system.language = language;
    whenShown = [&](CUpdateDlg&) {
      QDialog* window = host.Window();
      EXPECT_EQ(window->windowTitle(), QStringLiteral("Tarvik Update v2.00"));
      EXPECT_FALSE(Button()->isEnabled());
      EXPECT_EQ(Button()->text().toStdString(), language == 2052 ? "USB 升级" : "USB Update");
      EXPECT_FALSE(Label(IDC_STATIC_NOTICE)->isVisible());
      EXPECT_EQ(Label(IDC_HELP_TEXT)->text().toStdString(), LoadText(system, kTextHelp));
      EXPECT_EQ(Progress()->value(), 0);
      EXPECT_EQ(Progress()->maximum(), 100);
      // The template's dialog units: the button spans the width below the help text.
      EXPECT_GT(Button()->geometry().top(), Label(IDC_HELP_TEXT)->geometry().bottom());
      EXPECT_EQ(Button()->width(), Progress()->width());
      window->reject();
    };
    Run();
  }
}

TEST_F(QtWindowTest, BootModeUpdateThroughTheWidgets) {
  Plug(3);
  ChooseImage(test::Concat({Record(131, 0x08004000, Payload(300)), Record(112, 0x2000, Payload(50), 0)}));
  whenShown = [&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.Window()->windowTitle(), QStringLiteral("Tarvik Update v2.00 (Fw v1.20 r5)"));
    PressAndThen(dlg, [&] {
      EXPECT_TRUE(Label(IDC_STATIC_NOTICE)->isVisible());
      EXPECT_EQ(Label(IDC_STATIC_NOTICE)->text(), QStringLiteral("Firmware upgraded!"));
      EXPECT_EQ(Progress()->value(), 0);
      // The controller is away across its reset (the virtual clock has not moved on since).
      EXPECT_FALSE(Button()->isEnabled());
      host.Window()->reject();
    });
  };
  Run();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Fw 1.31 and current is 1.20\nATmcu 1.12 and current is 1.10\n" + test::kUnsignedLine);
  EXPECT_EQ(messages[1], "\n Firmware upgraded! \n");
  EXPECT_EQ(boot->Stamps().size(), 2u);
  EXPECT_EQ(boot->WrittenRegions().at(0).bytes, Payload(300));
}

TEST_F(QtWindowTest, ReportModeOneUpdateThroughTheWidgets) {
  system.language = 2052;
  Plug(1);
  ChooseImage(Record(140, 0x08004000, Payload(200)));
  whenShown = [&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.Window()->windowTitle(), QStringLiteral("Tarvik Update v2.00(GamePad V1.23)"));
    PressAndThen(dlg, [&] {
      EXPECT_TRUE(Label(IDC_STATIC_NOTICE)->isVisible());
      EXPECT_EQ(Label(IDC_STATIC_NOTICE)->text().toStdString(), "升级成功。");
      host.Window()->reject();
    });
  };
  Run();
  EXPECT_EQ(messages.back(), "\n 升级成功。 \n");
  EXPECT_EQ(packet->CompletedTransfers(), 1);
}

TEST_F(QtWindowTest, ClosingDuringAnUpdateAsksAndWaitsForTheWorker) {
  Plug(3);
  ChooseImage(Record(131, 0x08004000, Payload(300)));
  answer = [&](const std::string& text) -> std::optional<MsgBoxAnswer> {
    // While the confirmation is open, the user closes the window (and says
    // yes to both questions).
    if (text.rfind("Fw ", 0) == 0) host.Window()->reject();
    return std::nullopt;
  };
  whenShown = [&](CUpdateDlg&) { Button()->click(); };
  Run();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].rfind("The update is still writing the firmware.\n\n", 0), 0u) << messages[1];
  EXPECT_TRUE(boot->WrittenRegions().empty());
}

TEST_F(QtWindowTest, ArrivalAndRemovalWhileIdleSetTheButtonAndTitle) {
  int device = 0;
  whenShown = [&](CUpdateDlg&) {
    device = Plug(3, true);
    QTimer::singleShot(50, host.Window(), [&] {
      EXPECT_TRUE(Button()->isEnabled());
      EXPECT_EQ(host.Window()->windowTitle(), QStringLiteral("Tarvik Update v2.00 (Fw v1.20 r5)"));
      bus.Unplug(device);
      QTimer::singleShot(50, host.Window(), [&] {
        EXPECT_FALSE(Button()->isEnabled());
        EXPECT_EQ(host.Window()->windowTitle(), QStringLiteral("Tarvik Update v2.00"));
        host.Window()->reject();
      });
    });
  };
  Run();
}

// The texts of the modal dialog `open` shows: its labels and buttons, read
// while it is up; then it is cancelled.
std::vector<QString> TextsOfTheModalDialog(const std::function<void()>& open) {
  std::vector<QString> texts;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll.stop();
    for (QLabel* label : dialog->findChildren<QLabel*>()) texts.push_back(label->text());
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) texts.push_back(button->text());
    dialog->reject();
  });
  poll.start(10);
  open();
  return texts;
}

bool AnyHasChinese(const std::vector<QString>& texts) {
  return std::any_of(texts.begin(), texts.end(), [](const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; });
  });
}

bool Contains(const std::vector<QString>& texts, const QString& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(QtTranslationsTest, QtsOwnButtonsAndFileDialogFollowTheChineseTexts) {
  QtWindowHost host;
  const auto messageBox = [&] {
    EXPECT_EQ(host.MessageBox("Fw 1.31 and current is 1.20\n", std::nullopt, MsgBoxButtons::kOkCancel),
              MsgBoxAnswer::kCancel);
  };
  const auto fileDialog = [&] {
    FileDialogRequest request;
    request.types = {{"File type(*.dat)", "*.dat"}};
    request.initialDirectory = QDir::tempPath().toStdString();
    EXPECT_EQ(host.OpenFileDialog(request), std::nullopt);
  };

  EXPECT_FALSE(InstallQtTranslations(1033));
  EXPECT_FALSE(InstallQtTranslations(1028));  // Chinese (Taiwan) gets the English texts
  const std::vector<QString> englishBox = TextsOfTheModalDialog(messageBox);
  const std::vector<QString> englishFiles = TextsOfTheModalDialog(fileDialog);
  EXPECT_TRUE(Contains(englishBox, QStringLiteral("OK")));
  EXPECT_TRUE(Contains(englishBox, QStringLiteral("Cancel")));
  EXPECT_FALSE(AnyHasChinese(englishFiles));

  ASSERT_TRUE(InstallQtTranslations(2052)) << "Qt's translations (qt6-translations-l10n) are missing";
  const std::vector<QString> chineseBox = TextsOfTheModalDialog(messageBox);
  const std::vector<QString> chineseFiles = TextsOfTheModalDialog(fileDialog);
  RemoveQtTranslations();
  EXPECT_TRUE(Contains(chineseBox, QStringLiteral("确定"))) << chineseBox.size();
  EXPECT_TRUE(Contains(chineseBox, QStringLiteral("取消")));
  EXPECT_TRUE(AnyHasChinese(chineseFiles));
  for (const QString& english : {QStringLiteral("Cancel"), QStringLiteral("&Open"), QStringLiteral("Look in:")}) {
    EXPECT_FALSE(Contains(chineseFiles, english)) << english.toStdString();
  }
  // Removed again: English once more.
  EXPECT_TRUE(Contains(TextsOfTheModalDialog(messageBox), QStringLiteral("Cancel")));
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  // No display needed: the widgets are real, their pixels go nowhere.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  // The file dialog as Qt draws it, whatever the platform would offer.
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
