// The table of signature cases that tests/scripts/make_signature_vectors.sh
// makes with the minisign tool, checked as every front end checks them. The
// same table runs on Linux, under Wine and in the page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"
#include "texts/interface_texts.h"
#include "update/image_signature.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  const std::string text = ReadText(path);
  return {text.begin(), text.end()};
}

class ImageSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* folder = std::getenv("TARVIK_SIGNATURE_VECTORS");
    ASSERT_NE(folder, nullptr) << "TARVIK_SIGNATURE_VECTORS names no folder";
    dir = folder;
    ASSERT_TRUE(trust.AddKeyText(ReadText(dir / "maker.pub"))) << "no maker key in " << dir;
  }

  fs::path dir;
  ImageTrust trust;
};

TEST_F(ImageSignatureTest, EachCaseOfTheTableIsTakenOrRefusedWithItsCode) {
  const std::map<std::string, std::pair<SignatureStatus, ReasonCode>> outcomes = {
      {"verified", {SignatureStatus::kVerified, ReasonCode::kNone}},
      {"unsigned", {SignatureStatus::kUnsigned, ReasonCode::kNone}},
      {"mismatch", {SignatureStatus::kMismatch, ReasonCode::kSignatureMismatch}},
      {"damaged", {SignatureStatus::kDamaged, ReasonCode::kSignatureDamaged}},
      {"untrusted", {SignatureStatus::kUntrusted, ReasonCode::kSignatureUntrusted}},
  };
  std::istringstream table(ReadText(dir / "vectors.tsv"));
  std::string name, image, expected;
  int cases = 0;
  while (std::getline(table, name, '\t') && std::getline(table, image, '\t') && std::getline(table, expected)) {
    SCOPED_TRACE(name);
    ++cases;
    ASSERT_EQ(outcomes.count(expected), 1u) << expected;
    const auto& [status, code] = outcomes.at(expected);
    const std::string path = (dir / image).string();
    const SignatureCheck check = CheckSignatureBeside(path, ReadBytes(path), trust);
    EXPECT_EQ(check.status, status) << SignatureStatusName(check.status);
    EXPECT_EQ(SignatureRefusal(check, trust, path).code, code);
    if (status == SignatureStatus::kVerified) {
      EXPECT_EQ(check.keyName, "Tarvik maker key");
      EXPECT_EQ(check.keyId, trust.keys.front().IdText());
      EXPECT_FALSE(check.trustedComment.empty());
    }
  }
  EXPECT_GE(cases, 10);
}

TEST_F(ImageSignatureTest, AKeyIsNamedByItsIdAndAnUnreadableSignatureFileIsDamaged) {
  // A key with minisign's own comment is named by its ID, as minisign prints it there.
  ImageTrust stranger;
  const std::string strangerKey = ReadText(dir / "stranger.pub");
  ASSERT_TRUE(stranger.AddKeyText(strangerKey));
  EXPECT_EQ(strangerKey.rfind("untrusted comment: minisign public key " + stranger.keys[0].Name() + "\n", 0), 0u);

  // A signature file that is there and cannot be read as one is damaged, not absent.
  fs::create_directories(dir / "folder.dat.minisig");
  EXPECT_EQ(CheckSignatureBeside((dir / "folder.dat").string(), {1, 2}, trust).status, SignatureStatus::kDamaged);
  std::ofstream(dir / "huge.dat.minisig", std::ios::binary) << std::string(kMaxMinisignFileBytes + 1, 'A');
  EXPECT_EQ(CheckSignatureBeside((dir / "huge.dat").string(), {1, 2}, trust).status, SignatureStatus::kDamaged);
}

// The window in both languages: the question names the signer or says the
// image is not signed, and an image its signature disproves is refused with
// the way to mend it before anything reaches the controller.
TEST_F(ImageSignatureTest, TheWindowNamesTheSignerAndARefusedImageReachesNoController) {
  constexpr uint16_t kEnglish = 1033, kChinese = 2052;
  struct Case {
    const char* image;
    uint16_t language;
    const char* lastLine;  // of the question, or of the failure box when refused
    bool written;
  };
  const Case cases[] = {
      {"default.dat", kEnglish, "Signed by Tarvik maker key", true},
      {"default.dat", kChinese, "签名者：Tarvik maker key", true},
      {"unsigned.dat", kEnglish, test::kUnsigned, true},
      {"unsigned.dat", kChinese, "此固件未签名。请仅在固件来自手柄厂商时继续。", true},
      {"changed.dat", kEnglish,
       "Nothing was written. Get the image and its signature again from the controller's maker.", false},
      {"changed.dat", kChinese, "未写入任何内容。请从手柄厂商处重新获取固件及其签名。", false},
      {"untrusted.dat", kEnglish,
       "Nothing was written. Get the image and its signature again from the controller's maker, or add the maker's "
       "public key to the trusted keys.",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + (c.language == kChinese ? " in Chinese" : ""));
    test::WindowRig rig;
    rig.system.language = c.language;
    ChooseTextLanguage(c.language);
    rig.system.trustedKeys = {ReadText(dir / "maker.pub")};
    rig.PlugController(3);
    rig.user.image = (dir / c.image).string();
    rig.RunWindow([&](CUpdateDlg& dlg) { ASSERT_TRUE(rig.PressUpdate(dlg)); });
    ChooseTextLanguage(kEnglish);
    const std::vector<std::string> boxes = rig.user.MessageTexts();
    ASSERT_FALSE(boxes.empty());
    const std::string& box = boxes.front();
    EXPECT_EQ(box.substr(box.rfind('\n', box.size() - 2) + 1), std::string(c.lastLine) + (c.written ? "\n" : ""));
    EXPECT_EQ(rig.bootModel->Stamps().size(), c.written ? 1u : 0u);
    EXPECT_EQ(rig.bootModel->ErasedRegions().empty(), !c.written);
  }
}

}  // namespace
}  // namespace tarvik
