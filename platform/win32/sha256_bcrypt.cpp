#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>

#include "base/bytes.h"
#include "platform/digest.h"

namespace tarvik {

std::string Sha256Hex(const uint8_t* data, size_t size) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return "";
  BCRYPT_HASH_HANDLE hash = nullptr;
  UCHAR digest[32];
  bool done = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  // BCryptHashData takes at most a ULONG's worth of bytes a call.
  for (size_t at = 0; done && at < size;) {
    const ULONG part = static_cast<ULONG>(std::min<size_t>(size - at, 1u << 30));
    done = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data + at), part, 0));
    at += part;
  }
  done = done && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return done ? ToHex(digest, sizeof digest) : "";
}

}  // namespace tarvik
