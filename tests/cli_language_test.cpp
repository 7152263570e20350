// tarvik-update-cli speaks one language per run: under a Chinese locale every
// sentence of its own, and every reason the engine gives, reaches the user in
// Chinese, as the window's texts do; data (JSON keys and machine values, the
// transcript, the history journal) stays English. Under an English locale
// nothing changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/cli_process.h"
#include "tests/support/image_builder.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using CliRun = tarvik::test::CliRun;

// Words that stay as they are in every language: names, protocol and chip
// names, and the parts of the window's title.
bool KeptWord(const std::string& word) {
  static const char* const kKept[] = {"USB", "UID", "ATmcu", "MCU", "BOOT", "GamePad", "Ctrl", "SHA"};
  for (const char* kept : kKept) {
    if (word == kept) return true;
  }
  return false;
}

// The first run of three or more English words in `text`, or "" when there
// is none. Paths, options, hex, numbers and anything not made of letters
// alone break a run.
std::string EnglishRun(std::string text) {
  for (const std::string name : {"Tarvik Update", "tarvik-update-cli"}) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name)) text.replace(at, name.size(), " ");
  }
  std::istringstream tokens(text);
  std::vector<std::string> run;
  std::string longest;
  const auto end = [&] {
    if (run.size() >= 3 && longest.empty()) {
      for (const std::string& word : run) longest += (longest.empty() ? "" : " ") + word;
    }
    run.clear();
  };
  for (std::string token; tokens >> token;) {
    // Punctuation around a word is not part of it; inside, it makes a path, an option or a key.
    const size_t first = token.find_first_not_of(",.;:()[]\"'!?");
    const size_t last = token.find_last_not_of(",.;:()[]\"'!?");
    const std::string word = first == std::string::npos ? "" : token.substr(first, last - first + 1);
    const bool english = !word.empty() && !KeptWord(word) &&
                         std::all_of(word.begin(), word.end(), [](char c) {
                           return std::isalpha(static_cast<unsigned char>(c)) || c == '\'';
                         });
    if (english) {
      run.push_back(word);
    } else {
      end();
    }
  }
  end();
  return longest;
}

bool HasChinese(const std::string& text) {
  // Every CJK ideograph's UTF-8 form starts with a byte of 0xE3..0xE9.
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0xE3 && b <= 0xE9;
  });
}

class CliLanguageTest : public ::testing::Test {
 protected:
  fs::path dir;
  fs::path journal;
  std::string image;   // version 1.31, one main-mcu record
  std::string broken;  // its record runs past the end of the file

  void SetUp() override {
    dir = tarvik::test::ScratchFolder("tarvik-language");
    journal = dir / "history.jsonl";
    const tarvik::test::Bytes record = tarvik::test::Record(131, 0x08004000, tarvik::test::Payload(3000, 7));
    image = tarvik::test::WriteFile(dir / "fw.dat", record);
    broken = tarvik::test::WriteFile(dir / "broken.dat", tarvik::test::Bytes(record.begin(), record.end() - 100));
  }
  void TearDown() override { fs::remove_all(dir); }

  // The program under `language` (LANG), its journal the test's own;
  // `transcript`: with --transcript (commands that talk to a controller).
  CliRun Cli(const std::string& language, const std::string& arguments, bool transcript = true,
          const std::string& input = "/dev/null", bool onTerminal = false) {
    const std::string program = "env TARVIK_UPDATE_HISTORY=" + journal.string() + " LANG=" + language + " " TARVIK_CLI_PATH;
    return tarvik::test::RunCliIn(dir, program, arguments, input, onTerminal, transcript);
  }
};

TEST_F(CliLanguageTest, EveryCommandAndFailureSpeaksChineseUnderAChineseLocale) {
  const std::string no = (dir / "no.txt").string();
  std::ofstream(no) << "n\n";
  struct Case {
    const char* what;
    std::string arguments;
    int status;
    bool transcript = true;
    bool prompt = false;  // answered "n" on a terminal of its own
  };
  const std::vector<Case> cases = {
      {"flash upgrades", "--simulate boot flash --yes " + image, 0},
      {"flash, cancelled at the prompt", "--simulate boot flash " + image, 5, true, true},
      {"flash without a terminal to confirm", "--simulate boot flash " + image, 5},
      {"flash refused by the version guard", "--simulate boot --sim main.version=0x84 flash --yes " + image, 5},
      {"flash of a rejected image", "--simulate boot flash --yes " + broken, 4},
      {"flash without a controller", "--simulate none flash --yes " + image, 3},
      {"flash whose erase is never answered", "--simulate boot --sim erase=silent flash --yes " + image, 1},
      {"flash of a packet controller that fails", "--simulate packet1 --sim fail.at=3 flash --yes " + image, 1},
      {"flash with two controllers and no --device", "--simulate boot,boot flash --yes " + image, 2},
      {"flash --all", "--simulate boot,packet1 flash --all --yes " + image, 0},
      {"flash --watch", "--simulate boot --sim clock=virtual flash --watch --count 1 --yes " + image, 0},
      {"run without a controller to press for", "--simulate none run --press 1", 1},
      {"usage error of the command", "--simulate boot flash --count 2 " + image, 2},
      {"usage error of the line", "--verbose --quiet --simulate boot list", 2},
      {"usage error of --sim", "--simulate boot --sim nosuchkey=1 list", 2},
      {"usage error found by the parser", "--simulate boot flash", 2},
      {"unexpected arguments", "--simulate boot list one two", 2},
      {"list", "--simulate boot,packet1 list", 0},
      {"list without a controller", "--simulate none list", 3},
      {"info of a boot-mode controller", "--simulate boot info", 0},
      {"info of a packet controller", "--simulate packet1 info", 0},
      {"info with an unknown --device", "--simulate boot --device 7 info", 3},
      {"image", "image " + image, 0, false},
      {"image that is rejected", "image " + broken, 4, false},
      {"history", "history", 0, false},
      {"help of the program", "--help", 0, false},
      {"help of a command", "flash --help", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CliRun run = Cli("zh_CN.UTF-8", c.arguments, c.transcript, c.prompt ? no : "/dev/null", c.prompt);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_TRUE(HasChinese(run.out + run.err)) << run.out << run.err;
    EXPECT_EQ(EnglishRun(run.out), "") << run.out;
    EXPECT_EQ(EnglishRun(run.err), "") << run.err;
  }
}

// Each of these lines says what is true and what to do next, in both
// languages; no zh_CN locale is generated on the test machines.
TEST_F(CliLanguageTest, MessagesSayWhatIsTrueAndWhatToDoNext) {
  struct Case {
    std::string arguments;
    int status;
    const char* english;
    const char* chinese;
    bool transcript = true;
  };
  const std::vector<Case> cases = {
      {"image /dev/zero", 4, "cannot open /dev/zero: it is not a regular file but a device, a pipe or a socket",
       "无法打开 /dev/zero：它不是普通文件，而是设备、管道或套接字", false},
      {"image " + (dir / "none.dat").string(), 4, "none.dat: No such file or directory", "none.dat：没有那个文件或目录",
       false},
      {"flsh --yes x.dat", 2, "\"flsh\" is not a command; the nearest is \"flash\"", "“flsh”不是命令；最接近的是“flash”",
       false},
      // No controller: said before the confirmation that nobody could give.
      {"--simulate none flash " + image, 3,
       "no supported controller found: check the cable, and hold the pair button while plugging in a controller "
       "that does not start; list shows what is connected",
       "未找到支持的手柄：请检查数据线；无法启动的手柄请在插入时按住配对键；list 会列出已连接的设备"},
      {"--simulate none flash --all " + image, 3,
       "no supported controller found: check the cable, and hold the pair button while plugging in a controller "
       "that does not start; list shows what is connected",
       "未找到支持的手柄：请检查数据线；无法启动的手柄请在插入时按住配对键；list 会列出已连接的设备"},
      {"--simulate boot --sim clock=virtual --sim unplug.after=40 flash --yes " + image, 1,
       "may not start until it is updated: hold the pair button while plugging it in, then run the same flash again",
       "在更新完成之前可能无法启动：请在插入时按住配对键，然后再次运行同样的 flash"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    for (const char* language : {"en_US.UTF-8", "zh_CN.UTF-8"}) {
      const CliRun run = Cli(language, c.arguments, c.transcript);
      EXPECT_EQ(run.status, c.status) << run.err;
      const char* expected = language[0] == 'e' ? c.english : c.chinese;
      EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find('?'), std::string::npos) << run.err;
    }
  }
}

TEST_F(CliLanguageTest, AReplayThatDivergesSaysSoFirst) {
  const std::string recording = (dir / "recorded.jsonl").string();
  ASSERT_EQ(Cli("en_US.UTF-8", "--simulate boot --sim clock=virtual --transcript " + recording + " flash --yes " +
                                   image,
                false)
                .status,
            0);
  const std::string other = tarvik::test::WriteFile(
      dir / "other.dat", tarvik::test::Record(132, 0x08004000, tarvik::test::Payload(3000, 9)));
  const CliRun run = Cli("en_US.UTF-8", "--replay " + recording + " flash --yes " + other, false);
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err.rfind("tarvik-update-cli: the replay diverged", 0), 0u) << run.err;
}

TEST_F(CliLanguageTest, DataStaysEnglishUnderAChineseLocale) {
  const CliRun refused = Cli("zh_CN.UTF-8", "--json --simulate boot --sim main.version=0x84 flash --yes " + image);
  const json document = refused.Document();
  // Keys and machine values as in every language; the reason is the error line's sentence.
  EXPECT_EQ(document.value("result", ""), "refused") << refused.out;
  EXPECT_EQ(document.value("command", ""), "flash") << refused.out;
  EXPECT_TRUE(HasChinese(document.value("reason", ""))) << refused.out;
  EXPECT_NE(refused.err.find(document.value("reason", "?")), std::string::npos) << refused.err;
  EXPECT_EQ(document.value("code", ""), "older_than_controller") << refused.out;
  // The journal is data: its reason is the English one, with its code and facts.
  std::ifstream in(journal);
  std::string line;
  std::getline(in, line);
  const json entry = json::parse(line, nullptr, false);
  EXPECT_EQ(entry.value("reason", ""), "the image (1.31) is older than the controller's firmware (1.32)") << line;
  EXPECT_EQ(entry.value("code", ""), "older_than_controller") << line;
  EXPECT_EQ(entry["facts"].value("controllerVersion", 0), 132) << line;

  const CliRun failed = Cli("zh_CN.UTF-8", "--simulate boot --sim erase=silent flash --yes " + image);
  bool outcomeSeen = false;
  for (const json& event : failed.transcript) {
    EXPECT_FALSE(HasChinese(event.dump())) << event.dump();
    outcomeSeen = outcomeSeen || event.value("ev", "") == "outcome";
  }
  EXPECT_TRUE(outcomeSeen);
}

TEST_F(CliLanguageTest, AnEnglishLocaleKeepsEverythingEnglish) {
  struct Case {
    std::string arguments;
    const char* expected;  // on standard output or standard error
  };
  const std::vector<Case> cases = {
      {"--simulate boot flash --yes " + image, "Upgraded controller 5a3c:7e23"},
      {"--simulate boot --sim erase=silent flash --yes " + image, "the erase of record 1 at 0x08004000 was never answered"},
      {"--simulate boot --sim main.version=0x84 flash --yes " + image, "add --allow-older to write it anyway"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CliRun run = Cli("en_US.UTF-8", c.arguments);
    EXPECT_NE((run.out + run.err).find(c.expected), std::string::npos) << run.out << run.err;
    EXPECT_FALSE(HasChinese(run.out + run.err)) << run.out << run.err;
  }
}

TEST_F(CliLanguageTest, WithoutItsCatalogueAChineseRunIsEnglishThroughout) {
  // The program alone, away from the build tree's locale folder: the
  // window's question must not come in Chinese and the program's in English.
  const fs::path lonely = dir / "bin" / "tarvik-update-cli";
  fs::create_directories(lonely.parent_path());
  fs::copy_file(TARVIK_CLI_PATH, lonely);
  const std::string no = (dir / "no.txt").string();
  std::ofstream(no) << "n\n";
  const CliRun run = tarvik::test::RunCliIn(dir, "env LANG=zh_CN.UTF-8 " + lonely.string(),
                                            "--simulate boot flash " + image, no, true);
  EXPECT_EQ(run.status, 5) << run.out;
  EXPECT_NE(run.out.find("Fw 1.31 and current is 1.20. Write it? [y/N]"), std::string::npos) << run.out;
  EXPECT_FALSE(HasChinese(run.out + run.err)) << run.out << run.err;
}

TEST(CliLanguageWords, EnglishRunsAreFoundAndKeptWordsPass) {
  const struct {
    const char* text;
    const char* run;
  } cases[] = {
      {"tarvik-update-cli: no supported controller found", "no supported controller found"},
      {"tarvik-update-cli: 未找到支持的手柄", ""},
      {"手柄 5a3c:7e23（UID 0123，位于 sim-1） 已从 1.20 升级到 1.31", ""},
      {"Tarvik Update v2.00 (Fw v1.20 r5)", ""},
      {"--allow-older 需与 --yes 一起使用", ""},
      {"BOOT 命令协议 ATmcu MCU", ""},
      {"镜像 the image is older", "the image is older"},
  };
  for (const auto& c : cases) EXPECT_EQ(EnglishRun(c.text), c.run) << c.text;
}

}  // namespace
