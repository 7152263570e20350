// The platform's Ed25519 and BLAKE2b-512 on published vectors: RFC 8032's
// first two Ed25519 tests and RFC 7693's BLAKE2b-512 of "abc". Runs on Linux
// (libcrypto) and under Wine (libgcrypt).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "platform/signature_crypto.h"

namespace tarvik {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

TEST(SignatureCryptoTest, Ed25519TakesTheRightSignatureAndNoOther) {
  const struct {
    const char* key;
    const char* message;
    const char* signature;
  } vectors[] = {
      {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24"
       "655141438e7a100b"},
      {"3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aee"
       "b00d291612bb0c00"},
  };
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.key);
    const std::vector<uint8_t> key = FromHex(v.key);
    std::vector<uint8_t> message = FromHex(v.message);
    std::vector<uint8_t> signature = FromHex(v.signature);
    EXPECT_TRUE(Ed25519Verify(key.data(), signature.data(), message.data(), message.size()));
    signature[10] ^= 0x01;
    EXPECT_FALSE(Ed25519Verify(key.data(), signature.data(), message.data(), message.size()));
    signature[10] ^= 0x01;
    message.push_back(0);
    EXPECT_FALSE(Ed25519Verify(key.data(), signature.data(), message.data(), message.size()));
  }
}

TEST(SignatureCryptoTest, Blake2b512OfAbc) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t digest[kBlake2b512Bytes];
  ASSERT_TRUE(Blake2b512(abc, sizeof abc, digest));
  EXPECT_EQ(ToHex(digest, sizeof digest),
            "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d17d87c5392aab792dc252d5de4533cc9518d38aa8dbf1"
            "925ab92386edd4009923");
}

}  // namespace
}  // namespace tarvik
