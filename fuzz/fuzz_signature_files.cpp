// The readers of minisign's files on arbitrary text: a public key file and a
// signature file, as a person or a maker hands them over. A key that is read
// is written again, with an encoder written apart from the reader, and must
// read back the same. A signature is checked against an image: one that
// cannot be read is damaged, one by a key not trusted is untrusted, and one
// by the trusted key is verified or refused as not matching, never more.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "update/image_signature.h"

using namespace tarvik;
using fuzz::Check;

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const uint32_t group = uint32_t{bytes[i]} << 16 | (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (left > 2 ? bytes[i + 2] : 0);
    for (size_t j = 0; j < 4; ++j) text += j <= left ? kDigits[(group >> (18 - 6 * j)) & 63] : '=';
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const std::optional<MinisignPublicKey> key = ParseMinisignPublicKey(text)) {
    std::vector<uint8_t> raw = {'E', 'd'};
    raw.insert(raw.end(), key->keyId.begin(), key->keyId.end());
    raw.insert(raw.end(), key->key.begin(), key->key.end());
    const auto again = ParseMinisignPublicKey("untrusted comment: " + key->comment + "\n" + Base64(raw) + "\n");
    Check(again && again->keyId == key->keyId && again->key == key->key && again->comment == key->comment,
          "a key written again reads back the same");
    Check(!key->Name().empty(), "a key has a name");
  }

  const std::vector<uint8_t> image(data, data + size / 2);
  const std::optional<MinisignSignature> signature = ParseMinisignSignature(text);
  ImageTrust nobody;
  const SignatureCheck untrusted = CheckSignature(image, text, nobody);
  if (!signature) {
    Check(untrusted.status == SignatureStatus::kDamaged, "an unreadable signature is damaged");
    return 0;
  }
  Check(untrusted.status == SignatureStatus::kUntrusted, "a signature by a key not trusted is untrusted");
  Check(untrusted.keyId == MinisignKeyIdText(signature->keyId), "the key ID is the signature's");
  ImageTrust trust;
  MinisignPublicKey key;
  key.keyId = signature->keyId;
  key.key.fill(0x5A);
  trust.keys.push_back(key);
  const SignatureCheck checked = CheckSignature(image, text, trust);
  Check(checked.status == SignatureStatus::kMismatch || checked.status == SignatureStatus::kVerified,
        "a signature by the trusted key matches or not");
  Check(SignatureRefusal(checked, trust, "fw.dat").Empty() == (checked.status == SignatureStatus::kVerified),
        "only a verified signature is written");
  return 0;
}
