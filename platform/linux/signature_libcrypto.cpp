#include <openssl/evp.h>

#include <memory>

#include "platform/signature_crypto.h"

namespace tarvik {

bool Ed25519Verify(const uint8_t* publicKey, const uint8_t* signature, const uint8_t* message, size_t size) {
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey, kEd25519KeyBytes), &EVP_PKEY_free);
  if (!key) return false;
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  // Ed25519 signs the message whole: one call, no separate update.
  return EVP_DigestVerify(context.get(), signature, kEd25519SignatureBytes, message, size) == 1;
}

bool Blake2b512(const uint8_t* data, size_t size, uint8_t* digest) {
  unsigned int length = 0;
  return EVP_Digest(data, size, digest, &length, EVP_blake2b512(), nullptr) == 1 && length == kBlake2b512Bytes;
}

}  // namespace tarvik
