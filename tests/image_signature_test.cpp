// Images signed by the minisign tool with keys made here, checked as every
// front end checks them, and copies with one byte changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/image_builder.h"
#include "update/image_signature.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class ImageSignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("tarvik-signatures-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    image = test::Concat({test::Record(131, 0x08004000, test::Payload(3000)), test::Record(0, 0, {})});
    test::WriteFile(dir / "fw.dat", image);
    test::WriteFile(dir / "legacy.dat", image);
    test::WriteFile(dir / "other.dat", test::Record(132, 0x08004000, test::Payload(100)));
    const std::string d = dir.string();
    const std::string script =
        "cd '" + d + "' && minisign -G -W -p maker.pub -s maker.key && "
        "minisign -G -W -p stranger.pub -s stranger.key && "
        "minisign -S -s maker.key -m fw.dat -t 'Tarvik v1.31 for the main mcu' && "
        "minisign -S -l -s maker.key -m legacy.dat -t 'legacy form' && "
        "minisign -S -s maker.key -m other.dat -t 'another image' && "
        "cp fw.dat stranger.dat && minisign -S -s stranger.key -m stranger.dat -t 'not the maker'";
    made = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
    // A maker names its key in the key file's comment.
    const std::string key = ReadText(dir / "maker.pub");
    WriteText(dir / "maker.pub", "untrusted comment: Tarvik maker key\n" + key.substr(key.find('\n') + 1));
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  void SetUp() override { ASSERT_TRUE(made) << "minisign could not make the keys and signatures"; }

  static ImageTrust MakerTrust() {
    ImageTrust trust;
    EXPECT_TRUE(trust.AddKeyText(ReadText(dir / "maker.pub")));
    return trust;
  }

  static inline fs::path dir;
  static inline test::Bytes image;
  static inline bool made = false;
};

TEST_F(ImageSignatureTest, EachSignatureIsTakenOrRefusedWithItsCode) {
  const std::string signature = ReadText(dir / "fw.dat.minisig");
  test::Bytes changed = image;
  changed[40] ^= 0x01;
  std::string changedComment = signature;
  changedComment.replace(changedComment.find("v1.31"), 5, "v1.99");
  struct Case {
    const char* name;
    test::Bytes bytes;
    std::optional<std::string> signature;
    SignatureStatus status;
    ReasonCode code;
  };
  const Case cases[] = {
      {"default form", image, signature, SignatureStatus::kVerified, ReasonCode::kNone},
      {"legacy form", image, ReadText(dir / "legacy.dat.minisig"), SignatureStatus::kVerified, ReasonCode::kNone},
      {"no signature file", image, std::nullopt, SignatureStatus::kUnsigned, ReasonCode::kNone},
      {"one byte changed", changed, signature, SignatureStatus::kMismatch, ReasonCode::kSignatureMismatch},
      {"legacy, one byte changed", changed, ReadText(dir / "legacy.dat.minisig"), SignatureStatus::kMismatch,
       ReasonCode::kSignatureMismatch},
      {"another image's signature", image, ReadText(dir / "other.dat.minisig"), SignatureStatus::kMismatch,
       ReasonCode::kSignatureMismatch},
      {"trusted comment changed", image, changedComment, SignatureStatus::kMismatch, ReasonCode::kSignatureMismatch},
      {"an untrusted key", image, ReadText(dir / "stranger.dat.minisig"), SignatureStatus::kUntrusted,
       ReasonCode::kSignatureUntrusted},
      {"damaged", image, signature.substr(0, signature.size() / 2), SignatureStatus::kDamaged,
       ReasonCode::kSignatureDamaged},
      {"empty", image, std::string(), SignatureStatus::kDamaged, ReasonCode::kSignatureDamaged},
  };
  const ImageTrust trust = MakerTrust();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SignatureCheck check = CheckSignature(c.bytes, c.signature, trust);
    EXPECT_EQ(check.status, c.status) << SignatureStatusName(check.status);
    EXPECT_EQ(SignatureRefusal(check, trust, "fw.dat").code, c.code);
    if (c.status == SignatureStatus::kVerified) {
      EXPECT_EQ(check.keyName, "Tarvik maker key");
      EXPECT_EQ(check.keyId, trust.keys.front().IdText());
    }
  }
}

TEST_F(ImageSignatureTest, TheFileBesideTheImageDecidesAndARequiredSignatureRefusesAnUnsignedImage) {
  ImageTrust trust = MakerTrust();
  const SignatureCheck signed_ = CheckSignatureBeside((dir / "fw.dat").string(), image, trust);
  EXPECT_EQ(signed_.status, SignatureStatus::kVerified);
  EXPECT_EQ(signed_.trustedComment, "Tarvik v1.31 for the main mcu");
  // A key with minisign's own comment is named by its ID, as minisign prints it there.
  ImageTrust stranger;
  ASSERT_TRUE(stranger.AddKeyText(ReadText(dir / "stranger.pub")));
  EXPECT_EQ(ReadText(dir / "stranger.pub").rfind("untrusted comment: minisign public key " + stranger.keys[0].Name() + "\n", 0),
            0u);

  test::WriteFile(dir / "unsigned.dat", image);
  const SignatureCheck unsigned_ = CheckSignatureBeside((dir / "unsigned.dat").string(), image, trust);
  EXPECT_EQ(unsigned_.status, SignatureStatus::kUnsigned);
  EXPECT_TRUE(SignatureRefusal(unsigned_, trust, "unsigned.dat").Empty());
  trust.signatureRequired = true;
  EXPECT_EQ(SignatureRefusal(unsigned_, trust, "unsigned.dat").code, ReasonCode::kUnsigned);

  // A signature file that is there and cannot be read as one is damaged, not absent.
  fs::create_directories(dir / "folder.dat.minisig");
  EXPECT_EQ(CheckSignatureBeside((dir / "folder.dat").string(), image, trust).status, SignatureStatus::kDamaged);
  WriteText(dir / "huge.dat.minisig", std::string(kMaxMinisignFileBytes + 1, 'A'));
  EXPECT_EQ(CheckSignatureBeside((dir / "huge.dat").string(), image, trust).status, SignatureStatus::kDamaged);
}

}  // namespace
}  // namespace tarvik
