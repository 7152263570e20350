// The files of minisign, the tool makers sign their images with: a public
// key file ("minisign.pub") and a detached signature file ("fw.dat.minisig").
// Only reads them. Checking a signature is image_signature.h's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

using MinisignKeyId = std::array<uint8_t, 8>;

struct MinisignPublicKey {
  MinisignKeyId keyId{};
  std::array<uint8_t, 32> key{};
  std::string comment;  // the untrusted comment, as written

  // The key ID as minisign prints it: hexadecimal, upper case, no leading zeros.
  std::string IdText() const;
  // The key's comment, or its ID where the comment is minisign's default.
  std::string Name() const;
};

struct MinisignSignature {
  // True for minisign's default form, which signs the file's BLAKE2b-512
  // digest. False for the legacy form, which signs the file whole.
  bool prehashed = true;
  MinisignKeyId keyId{};
  std::array<uint8_t, 64> signature{};
  std::string trustedComment;  // as the signer wrote it
  // Signs the signature and the trusted comment together.
  std::array<uint8_t, 64> globalSignature{};
};

// Public key files larger than this are no key files.
inline constexpr size_t kMaxMinisignFileBytes = 8192;

// The key of a public key file's text; nothing when the text is not one.
std::optional<MinisignPublicKey> ParseMinisignPublicKey(std::string_view text);
// The signature of a signature file's text; nothing when the text is not one.
std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text);

// The key ID's text, as MinisignPublicKey::IdText words it.
std::string MinisignKeyIdText(const MinisignKeyId& keyId);

}  // namespace tarvik
