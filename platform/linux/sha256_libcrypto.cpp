#include <openssl/evp.h>

#include "base/bytes.h"
#include "platform/digest.h"

namespace tarvik {

std::string Sha256Hex(const uint8_t* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1) return "";
  return ToHex(digest, length);
}

}  // namespace tarvik
