// What the check of an image's signature found: its status, and the key and
// trusted comment where the signature file could be read.
#pragma once

#include <cstdint>
#include <string>

namespace tarvik {

enum class SignatureStatus : uint8_t {
  kUnsigned,   // no signature file beside the image
  kVerified,   // signed by a trusted key, and the signature matches
  kMismatch,   // signed by a trusted key, and the signature does not match
  kDamaged,    // the signature file is no minisign signature, or cannot be read
  kUntrusted,  // signed by a key not trusted here
};

// "unsigned", "verified", "mismatch", "damaged", "untrusted": stable, scripts read them.
const char* SignatureStatusName(SignatureStatus status);

struct SignatureCheck {
  SignatureStatus status = SignatureStatus::kUnsigned;
  std::string keyId;           // the signature's key, when the file could be read
  std::string keyName;         // the trusted key's name, when it verified
  std::string trustedComment;  // the signer's, when it verified
  bool operator==(const SignatureCheck&) const = default;
};

}  // namespace tarvik
