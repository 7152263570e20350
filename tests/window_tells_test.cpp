// What the window tells a person about an update: why it failed and what to
// do next, what the question says will be written, and the step it is at.
// In English and in Chinese.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/window_texts.h"
#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"
#include "texts/interface_texts.h"

namespace tarvik {
namespace {

using test::Payload;
using test::Record;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kEnglish = 1033;
constexpr uint16_t kChinese = 2052;

// A run in `language`, the catalogue's texts too; English again after it.
class LanguageRun {
 public:
  LanguageRun(test::WindowRig& rig, uint16_t language) {
    rig.system.language = language;
    ChooseTextLanguage(language);
  }
  ~LanguageRun() { ChooseTextLanguage(kEnglish); }
};

// Words of four or more ASCII letters, as English sentences have them.
bool HasEnglishWords(const std::string& line) {
  int run = 0;
  for (const char c : line) {
    run = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ? run + 1 : 0;
    if (run >= 4) return true;
  }
  return false;
}

std::string WithoutPath(std::string line, const std::string& path) {
  if (const size_t at = line.find(path); at != std::string::npos) line.erase(at, path.size());
  return line;
}

TEST(WindowTellsTest, FailureBoxesSayWhyAndWhatNextInEitherLanguage) {
  // A file the window cannot take, however it was chosen, is told like a broken image.
  enum class Fault { kUnplugMidWrite, kBrokenImage, kTooLarge, kDeviceFile };
  struct Case {
    Fault fault;
    uint16_t language;
    const char* firstLine;
    const char* reasonStart;  // in English only
    const char* nextStep;
  };
  const Case cases[] = {
      {Fault::kUnplugMidWrite, kEnglish, "Firmware update failure", "The controller was disconnected at ",
       test::kStepAfterHalfWrite},
      {Fault::kUnplugMidWrite, kChinese, "固件更新失败", nullptr,
       "手柄在更新完成前可能无法启动。请按住配对键重新插入手柄，点击“USB 升级”，再次选择升级文件。"},
      {Fault::kBrokenImage, kEnglish, "Firmware update failure", "", test::kStepOtherImage},
      {Fault::kBrokenImage, kChinese, "固件更新失败", nullptr, "请点击“USB 升级”，选择另一个升级文件。"},
      {Fault::kTooLarge, kEnglish, "Firmware update failure", "", test::kStepOtherImage},
      {Fault::kTooLarge, kChinese, "固件更新失败", nullptr, "请点击“USB 升级”，选择另一个升级文件。"},
      {Fault::kDeviceFile, kEnglish, "Firmware update failure", "Cannot open /dev/zero: it is not a regular file",
       test::kStepOtherImage},
      {Fault::kDeviceFile, kChinese, "固件更新失败", nullptr, "请点击“USB 升级”，选择另一个升级文件。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.fault) << " " << c.language);
#ifdef _WIN32
    if (c.fault == Fault::kDeviceFile) continue;  // Windows names no device by a path like this
#endif
    test::WindowRig rig;
    const LanguageRun run(rig, c.language);
    const int controller = rig.PlugController(3);
    const Bytes image = c.fault == Fault::kBrokenImage ? Record(131, 0x08004000, Payload(99), 1, 100)
                                                       : Record(131, 0x08004000, Payload(4600));
    std::string path = test::WriteFile(rig.Dir() / "fw.dat", image);
    if (c.fault == Fault::kTooLarge) std::filesystem::resize_file(path, kMaxImageBytes + 1);  // sparse
    if (c.fault == Fault::kDeviceFile) path = "/dev/zero";
    rig.user.image = path;
    rig.user.onProgress = [&](int pos) {
      if (c.fault == Fault::kUnplugMidWrite && pos >= 20) rig.bus.Unplug(controller);
    };
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      EXPECT_FALSE(rig.host.IsItemVisible(IDC_STATIC_NOTICE));
    });
    const std::vector<std::string> box = rig.user.LastBoxLines();
    ASSERT_EQ(box.size(), 3u);
    EXPECT_EQ(box[0], c.firstLine);
    EXPECT_EQ(box[2], c.nextStep);
    if (c.reasonStart) {
      EXPECT_EQ(box[1].rfind(c.reasonStart, 0), 0u) << box[1];
    } else {
      EXPECT_FALSE(HasEnglishWords(WithoutPath(box[1], path))) << box[1];
    }
    EXPECT_TRUE(rig.bootModel->Stamps().empty());
    if (c.fault != Fault::kUnplugMidWrite) {
      // No question, and nothing but the start-up's queries reached the controller.
      EXPECT_EQ(rig.user.MessageTexts().size(), 1u);
      EXPECT_TRUE(rig.bootModel->ErasedRegions().empty());
      EXPECT_NE(box[1].find(path), std::string::npos) << box[1];
    } else {
      EXPECT_FALSE(rig.bootModel->WrittenRegions().empty());
    }
  }
}

TEST(WindowTellsTest, TheQuestionSaysWhatTheImageWrites) {
  struct Case {
    uint16_t language;
    Bytes image;
    std::vector<std::string> question;
  };
  const Case cases[] = {
      // The controller runs 1.20 and its ATmcu 1.10.
      {kEnglish, Record(131, 0x08004000, Payload(100)), {"Fw 1.31 and current is 1.20", test::kUnsigned}},
      {kEnglish,
       test::Concat({Record(131, 0x08004000, Payload(100)), Record(112, 0x2000, Payload(50), 0)}),
       {"Fw 1.31 and current is 1.20", "ATmcu 1.12 and current is 1.10", test::kUnsigned}},
      {kChinese,
       test::Concat({Record(131, 0x08004000, Payload(100)), Record(112, 0x2000, Payload(50), 0)}),
       {"固件版本 1.31 当前版本为 1.20", "ATmcu 1.12 当前版本为 1.10", "此固件未签名。请仅在固件来自手柄厂商时继续。"}},
      {kEnglish, Record(110, 0x08004000, Payload(100)),
       {"Fw 1.10 and current is 1.20", "The image (1.10) is older than the controller's firmware (1.20).", test::kUnsigned}},
      {kEnglish, Record(120, 0x08004000, Payload(100)),
       {"Fw 1.20 and current is 1.20", "The controller already runs 1.20.", test::kUnsigned}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question.front());
    test::WindowRig rig;
    const LanguageRun run(rig, c.language);
    rig.PlugController(3);
    rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", c.image);
    rig.user.confirm = false;
    rig.RunWindow([&](CUpdateDlg& dlg) { ASSERT_TRUE(rig.PressUpdate(dlg)); });
    EXPECT_EQ(rig.user.LastBoxLines(), c.question);
    EXPECT_TRUE(rig.bootModel->ErasedRegions().empty());
  }
}

// A reason in a box reads as a sentence, and a file's name at its start stays as it was.
TEST(WindowTellsTest, ReasonsBecomeSentencesWithoutTouchingFileNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"the controller was disconnected at 3 %", "The controller was disconnected at 3 %."},
      {"the image's ATmcu record (1.10) is older", "The image's ATmcu record (1.10) is older."},
      {"build/fw.dat is not a valid image: record 1 runs past the end of the file",
       "build/fw.dat is not a valid image: record 1 runs past the end of the file."},
      {"fw.dat is not a valid image: it is empty", "fw.dat is not a valid image: it is empty."},
      {"Already a sentence.", "Already a sentence."},
  };
  for (const auto& [reason, sentence] : cases) EXPECT_EQ(AsSentence(reason), sentence);
}

TEST(WindowTellsTest, TheNoticeLineShowsTheStepWhileItWorksAndTheUpgradedTextAtTheEnd) {
  test::WindowRig rig;
  rig.PlugController(3);
  rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", Record(131, 0x08004000, Payload(100)));
  std::vector<std::string> shown;
  rig.RunWindow([&](CUpdateDlg& dlg) {
    rig.user.events.clear();
    ASSERT_TRUE(rig.PressUpdate(dlg));
    for (const test::WindowEvent& e : rig.user.events) {
      if (e.kind == "text" && e.id == IDC_STATIC_NOTICE) shown.push_back(e.text);
    }
    EXPECT_TRUE(rig.host.IsItemVisible(IDC_STATIC_NOTICE));
    EXPECT_EQ(rig.host.ItemText(IDC_STATIC_NOTICE), "Firmware upgraded!");
  });
  EXPECT_EQ(shown, (std::vector<std::string>{"Erasing record 1...", "Writing record 1...",
                                             "Writing record 1's version...", "Restarting the controller...",
                                             "Firmware upgraded!"}));
}

// Closing the window while an update writes asks what stopping leaves. The
// person answers OK or Cancel, or leaves the question open until the update ends.
TEST(WindowTellsTest, ClosingDuringAnUpdateAsksAndTheAnswerOrTheEndDecides) {
  enum class Answer { kOk, kCancel, kLeftOpen };
  struct Case {
    uint16_t language;
    int row;  // 3: boot mode, 1: report mode 1
    Answer answer;
    OutcomeResult result;  // a failure: the controller is pulled while the question is open
    const char* left;  // the question's middle paragraph
  };
  const char* const boot =
      "If it stops now, the controller may not start until it is updated again. To update it, hold the pair button, "
      "plug it in again, press \"USB Update\" and choose the image again.";
  const char* const bootZh =
      "现在停止的话，手柄在再次更新之前可能无法启动。要更新它，请按住配对键重新插入手柄，点击“USB 升级”，再次选择升级文件。";
  const char* const packet = "If it stops now, the controller keeps its old firmware. To update it, unplug it, plug it "
                             "in again, press \"USB Update\" and choose the image again.";
  const Case cases[] = {{kEnglish, 3, Answer::kCancel, OutcomeResult::kUpgraded, boot},
                        {kChinese, 3, Answer::kOk, OutcomeResult::kInterrupted, bootZh},
                        {kEnglish, 1, Answer::kOk, OutcomeResult::kInterrupted, packet},
                        {kEnglish, 3, Answer::kLeftOpen, OutcomeResult::kUpgraded, boot},
                        {kChinese, 3, Answer::kLeftOpen, OutcomeResult::kFailed, bootZh},
                        {kEnglish, 1, Answer::kLeftOpen, OutcomeResult::kUpgraded, packet}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.language << " row " << c.row << " answer " << static_cast<int>(c.answer));
    test::WindowRig rig;
    const LanguageRun run(rig, c.language);
    rig.EnableLog();
    const int controller = rig.PlugController(c.row);
    rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", Record(131, 0x08004000, Payload(4600)));
    const bool zh = c.language == kChinese;
    const std::string question = std::string(zh ? "更新仍在写入固件。" : "The update is still writing the firmware.") +
                                 "\n\n" + c.left + "\n\n" +
                                 (zh ? "要停止更新并关闭窗口吗？点击“取消”继续更新。"
                                     : "Stop the update and close the window? Cancel goes on with the update.");
    // The person closes the window once the image's bytes are on their way. A
    // question left open must not hold up the worker, which waits for this text.
    const std::string writing = FormatStepText({c.row == 3 ? UpdatePhase::kWriting : UpdatePhase::kSending, 1});
    rig.user.onItemText = [&](int id, const std::string& text) {
      if (id != IDC_STATIC_NOTICE || text != writing) return;
      const auto close = [&] { EXPECT_FALSE(rig.host.RequestClose()); };
      c.answer == Answer::kLeftOpen ? rig.host.PostToUi(close) : close();
    };
    std::vector<std::string> openAtTheEnd;  // while the last other box is answered
    rig.user.answer = [&](const std::string& text) -> std::optional<MsgBoxAnswer> {
      if (text != question) return openAtTheEnd = rig.host.OpenMessageBoxes(), std::nullopt;
      if (c.answer == Answer::kCancel) return MsgBoxAnswer::kCancel;
      if (c.result == OutcomeResult::kFailed) rig.bus.Unplug(controller);
      if (c.answer == Answer::kLeftOpen) rig.host.PumpUntil([] { return false; });  // until the box goes
      return MsgBoxAnswer::kOk;
    };
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      EXPECT_EQ(dlg.LastOutcome()->result, c.result);
    });
    const std::vector<std::string> boxes = rig.user.MessageTexts();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), question), 1);
    // Stopped, the window closes, and the trace and the log keep the outcome.
    const bool stopped = c.answer == Answer::kOk;
    EXPECT_EQ(rig.host.IsClosing(), stopped);
    const std::string recorded = "Update ended as the window closes: interrupted (the update was stopped";
    const std::vector<std::string> trace = rig.system.TraceLines();
    EXPECT_EQ(std::any_of(trace.begin(), trace.end(), [&](const std::string& line) { return line.rfind(recorded, 0) == 0; }),
              stopped);
    EXPECT_EQ(rig.Log().find(recorded) != std::string::npos, stopped);
    // Left open, the question has gone when the end's box shows: that box is the only one open.
    if (c.answer == Answer::kLeftOpen) {
      EXPECT_EQ(openAtTheEnd, std::vector<std::string>{boxes[boxes.size() - 2]});
    }
  }
}

// A close asked for after the end box was answered, while the worker still
// winds up: the question closes when the worker ends, and with nothing left
// to read the window closes, as the person asked.
TEST(WindowTellsTest, AQuestionThatTheUpdatesWindUpClosesLetsTheWindowClose) {
  test::WindowRig rig;
  rig.PlugController(1);
  rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", Record(131, 0x08004000, Payload(100)));
  bool asked = false;
  rig.user.answer = [&](const std::string& text) -> std::optional<MsgBoxAnswer> {
    if (text == "\n Firmware upgraded! \n") {
      rig.host.PostToUi([&] { EXPECT_TRUE(rig.host.RequestClose()); });
      return MsgBoxAnswer::kOk;
    }
    if (text.rfind("The update is still writing", 0) != 0) return std::nullopt;
    asked = true;
    rig.host.PumpUntil([] { return false; });  // left open until it goes
    return MsgBoxAnswer::kCancel;
  };
  rig.RunWindow([&](CUpdateDlg& dlg) {
    ASSERT_TRUE(rig.PressUpdate(dlg));
    rig.host.PumpPending();
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kUpgraded);
  });
  EXPECT_TRUE(asked);
  EXPECT_TRUE(rig.host.IsClosing());
}

}  // namespace
}  // namespace tarvik
