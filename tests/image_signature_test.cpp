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

TEST_F(ImageSignatureTest, KeysAreNamedAndARequiredSignatureRefusesAnUnsignedImage) {
  // A key with minisign's own comment is named by its ID, as minisign prints it there.
  ImageTrust stranger;
  const std::string strangerKey = ReadText(dir / "stranger.pub");
  ASSERT_TRUE(stranger.AddKeyText(strangerKey));
  EXPECT_EQ(strangerKey.rfind("untrusted comment: minisign public key " + stranger.keys[0].Name() + "\n", 0), 0u);
  EXPECT_EQ(CheckSignatureBeside((dir / "default.dat").string(), ReadBytes(dir / "default.dat"), trust).trustedComment,
            "Tarvik image for the main mcu");

  const fs::path unsignedImage = dir / "unsigned.dat";
  const SignatureCheck unsigned_ = CheckSignatureBeside(unsignedImage.string(), ReadBytes(unsignedImage), trust);
  trust.signatureRequired = true;
  EXPECT_EQ(SignatureRefusal(unsigned_, trust, unsignedImage.string()).code, ReasonCode::kUnsigned);

  // A signature file that is there and cannot be read as one is damaged, not absent.
  fs::create_directories(dir / "folder.dat.minisig");
  EXPECT_EQ(CheckSignatureBeside((dir / "folder.dat").string(), {1, 2}, trust).status, SignatureStatus::kDamaged);
  std::ofstream(dir / "huge.dat.minisig", std::ios::binary) << std::string(kMaxMinisignFileBytes + 1, 'A');
  EXPECT_EQ(CheckSignatureBeside((dir / "huge.dat").string(), {1, 2}, trust).status, SignatureStatus::kDamaged);
}

}  // namespace
}  // namespace tarvik
