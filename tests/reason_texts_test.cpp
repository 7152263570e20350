// Every reason the engine can give, worded in English and in Chinese from
// its code and facts, with a next step; and the codes scripts read, pinned.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "texts/interface_texts.h"
#include "texts/reason_texts.h"

namespace tarvik {
namespace {

// A reason of `code` with every fact set, so that each wording has all it may use.
Reason WithEveryFact(ReasonCode code) {
  Reason r(code);
  r.record = 1;
  r.otherRecord = 2;
  r.address = 0x08004000;
  r.percent = 36;
  r.bytes = 64;
  r.offset = 28;
  r.total = 300;
  r.count = 0x15;
  r.packets = 3;
  r.seconds = 11;
  r.imageVersion = 105;
  r.controllerVersion = 120;
  r.controllerAtVersion = 110;
  r.errorNumber = ENOENT;
  r.path = "/tmp/fw.dat";
  r.product = "5a3c:7e23";
  r.actual = "ab12";
  r.expected = "cd34";
  r.keyId = "33BA4725DF40F82";
  return r;
}

// The variants a code's wording depends on.
std::vector<Reason> Variants(ReasonCode code) {
  std::vector<Reason> all;
  for (const ReasonStep step :
       {ReasonStep::kNone, ReasonStep::kErase, ReasonStep::kChunk, ReasonStep::kStamp, ReasonStep::kInfoRequest}) {
    for (const ImageMcu mcu : {ImageMcu::kMain, ImageMcu::kAtMcu}) {
      for (const bool flag : {false, true}) {
        Reason r = WithEveryFact(code);
        r.step = step;
        r.mcu = mcu;
        r.writesAt = flag;
        r.beforeStart = flag;
        if (flag) {
          r.percent = -1;
          r.record = 0;
          r.path.clear();
          r.product.clear();
          r.actual.clear();
        }
        all.push_back(r);
      }
    }
  }
  return all;
}

// The words of `text` that are English: names and units aside.
std::vector<std::string> EnglishWords(std::string text, const Reason& r) {
  for (const std::string& fact : {r.path, r.product, r.actual, r.expected, r.keyId}) {
    if (fact.empty()) continue;
    for (size_t at; (at = text.find(fact)) != std::string::npos;) text.erase(at, fact.size());
  }
  text = std::regex_replace(text, std::regex("0x[0-9A-Fa-f]+"), " ");
  static const std::set<std::string> kNames = {"ATmcu", "MCU", "BOOT", "USB", "UID", "SHA", "MiB", "KiB", "VerAddr",
                                                "s", "minisign"};
  std::vector<std::string> words;
  const std::regex word("[A-Za-z]+");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it) {
    if (!kNames.count(it->str())) words.push_back(it->str());
  }
  return words;
}

TEST(ReasonTextsTest, EveryCodeIsWordedInBothLanguagesWithANextStep) {
  for (const ReasonCode code : AllReasonCodes()) {
    SCOPED_TRACE(ReasonCodeName(code));
    ASSERT_EQ(ChooseTextLanguage(1033), 1033);
    EXPECT_FALSE(ReasonNextStep(code).empty());
    std::vector<std::string> english;
    for (const Reason& r : Variants(code)) english.push_back(ReasonText(r));
    ASSERT_EQ(ChooseTextLanguage(2052), 2052);
    const std::string step = ReasonNextStep(code);
    EXPECT_FALSE(step.empty());
    EXPECT_EQ(EnglishWords(step, Reason()), std::vector<std::string>()) << step;
    const std::vector<Reason> variants = Variants(code);
    for (size_t i = 0; i < variants.size(); ++i) {
      const std::string chinese = ReasonText(variants[i]);
      EXPECT_FALSE(english[i].empty());
      EXPECT_EQ(EnglishReasonText(variants[i]), english[i]);
      EXPECT_EQ(EnglishWords(chinese, variants[i]), std::vector<std::string>()) << chinese;
    }
  }
  ChooseTextLanguage(1033);
}

TEST(ReasonTextsTest, WordingsTellTheFacts) {
  ChooseTextLanguage(1033);
  Reason erase = WithEveryFact(ReasonCode::kEraseUnanswered);
  Reason gone = WithEveryFact(ReasonCode::kDisconnected);
  gone.step = ReasonStep::kStamp;
  Reason packetGone = WithEveryFact(ReasonCode::kDisconnected);
  Reason content = WithEveryFact(ReasonCode::kRecordPastEnd);
  Reason contentAlone = content;
  contentAlone.path.clear();
  const struct {
    Reason reason;
    const char* english;
  } cases[] = {
      {erase, "the erase of record 1 at 0x08004000 was never answered"},
      {gone, "the controller was disconnected at 36 % (the version stamp of record 1 at 0x08004000)"},
      {packetGone, "the controller was disconnected at 36 %"},
      {content, "/tmp/fw.dat is not a valid image: record 1 runs past the end of the file"},
      {contentAlone, "record 1 runs past the end of the file"},
      {WithEveryFact(ReasonCode::kUnreadable), "cannot open /tmp/fw.dat: No such file or directory"},
      {WithEveryFact(ReasonCode::kImageTooLarge), "/tmp/fw.dat holds 64 bytes, more than the 0 MiB an image can have"},
      {WithEveryFact(ReasonCode::kControllerFailure), "the controller reported failure 0x15 after 3 packets at 36 %"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReasonText(c.reason), c.english);
}

TEST(ReasonTextsTest, CodesArePinned) {
  const std::vector<std::string> pinned = {
      "no_controller", "open_failed", "version_untold", "info_unanswered", "not_queried", "info_block_erased",
      "version_address_on_atmcu", "disconnected", "erase_unanswered", "erase_busy", "chunk_unacknowledged",
      "stamp_unanswered", "reset_unanswered", "start_unwritten", "end_unwritten", "controller_failure",
      "controller_silent", "transfer_too_slow", "no_result", "need_boot_mode", "no_image", "no_image_chosen",
      "unreadable", "is_directory", "not_regular_file", "image_too_large", "image_empty", "header_incomplete",
      "record_past_end", "no_payload", "payload_too_large", "terminator_carries_payload", "record_after_terminator",
      "record_past_address_space", "main_record_on_atmcu", "records_overlap", "packet_drops_record",
      "packet_record_empty", "image_truncated", "digest_mismatch", "signature_mismatch", "signature_damaged",
      "signature_untrusted", "unsigned", "older_than_controller", "same_version",
      "not_confirmed", "interrupted"};
  std::vector<std::string> names;
  for (const ReasonCode code : AllReasonCodes()) {
    names.emplace_back(ReasonCodeName(code));
    ReasonCode back = ReasonCode::kNone;
    EXPECT_TRUE(ReasonCodeFromName(names.back(), back));
    EXPECT_EQ(back, code);
  }
  EXPECT_EQ(names, pinned);
}

}  // namespace
}  // namespace tarvik
