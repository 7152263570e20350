#include "update/image_signature.h"

#include <algorithm>
#include <cerrno>

#include "platform/signature_crypto.h"
#include "update/image_file.h"

namespace tarvik {

// The maker's public key files named when the program was built, each as
// its text; the last is nullptr (built_in_keys.cpp, from TARVIK_TRUSTED_KEYS).
extern const char* const kBuiltInTrustedKeys[];

const char* SignatureStatusName(SignatureStatus status) {
  switch (status) {
    case SignatureStatus::kUnsigned:
      return "unsigned";
    case SignatureStatus::kVerified:
      return "verified";
    case SignatureStatus::kMismatch:
      return "mismatch";
    case SignatureStatus::kDamaged:
      return "damaged";
    case SignatureStatus::kUntrusted:
      return "untrusted";
  }
  return "unsigned";
}

bool ImageTrust::AddKeyText(std::string_view text) {
  std::optional<MinisignPublicKey> key = ParseMinisignPublicKey(text);
  if (!key) return false;
  if (!Find(key->keyId)) keys.push_back(std::move(*key));
  return true;
}

const MinisignPublicKey* ImageTrust::Find(const MinisignKeyId& keyId) const {
  const auto found = std::find_if(keys.begin(), keys.end(), [&](const MinisignPublicKey& k) { return k.keyId == keyId; });
  return found == keys.end() ? nullptr : &*found;
}

ImageTrust MachineTrust(ISystem& system) {
  ImageTrust trust;
  for (const char* const* key = kBuiltInTrustedKeys; *key != nullptr; ++key) trust.AddKeyText(*key);
  for (const std::string& text : system.TrustedKeyTexts()) trust.AddKeyText(text);
  return trust;
}

std::string SignaturePathFor(const std::string& imagePath) { return imagePath + ".minisig"; }

SignatureCheck CheckSignature(const std::vector<uint8_t>& bytes, const std::optional<std::string>& signatureText,
                              const ImageTrust& trust) {
  SignatureCheck check;
  if (!signatureText) return check;
  const std::optional<MinisignSignature> signature = ParseMinisignSignature(*signatureText);
  if (!signature) {
    check.status = SignatureStatus::kDamaged;
    return check;
  }
  check.keyId = MinisignKeyIdText(signature->keyId);
  const MinisignPublicKey* key = trust.Find(signature->keyId);
  if (!key) {
    check.status = SignatureStatus::kUntrusted;
    return check;
  }
  // The default form signs the image's digest, the legacy form the image itself.
  uint8_t digest[kBlake2b512Bytes];
  const uint8_t* message = bytes.data();
  size_t size = bytes.size();
  bool matches = true;
  if (signature->prehashed) {
    matches = Blake2b512(bytes.data(), bytes.size(), digest);
    message = digest;
    size = sizeof digest;
  }
  matches = matches && Ed25519Verify(key->key.data(), signature->signature.data(), message, size);
  // The global signature binds the trusted comment to the signature.
  std::vector<uint8_t> signedComment(signature->signature.begin(), signature->signature.end());
  signedComment.insert(signedComment.end(), signature->trustedComment.begin(), signature->trustedComment.end());
  matches = matches && Ed25519Verify(key->key.data(), signature->globalSignature.data(), signedComment.data(),
                                     signedComment.size());
  if (!matches) {
    check.status = SignatureStatus::kMismatch;
    return check;
  }
  check.status = SignatureStatus::kVerified;
  check.keyName = key->Name();
  check.trustedComment = signature->trustedComment;
  return check;
}

SignatureCheck CheckSignatureBeside(const std::string& imagePath, const std::vector<uint8_t>& bytes,
                                    const ImageTrust& trust) {
  CImageFile file;
  if (!file.Open(SignaturePathFor(imagePath))) {
    // No signature file: an unsigned image. One that is there and cannot be read is damaged.
    if (file.LastError().errorNumber == ENOENT) return CheckSignature(bytes, std::nullopt, trust);
    return CheckSignature(bytes, std::string(), trust);
  }
  // One byte more than a signature file may hold tells one that is too large.
  std::string text(std::min<uint64_t>(file.Length(), kMaxMinisignFileBytes + 1), '\0');
  text.resize(text.empty() ? 0 : file.Read(text.data(), text.size()));
  return CheckSignature(bytes, text, trust);
}

Reason SignatureRefusal(const SignatureCheck& check, const ImageTrust& trust, const std::string& imagePath) {
  Reason refusal;
  switch (check.status) {
    case SignatureStatus::kVerified:
      return refusal;
    case SignatureStatus::kUnsigned:
      if (!trust.signatureRequired) return refusal;
      refusal.code = ReasonCode::kUnsigned;
      break;
    case SignatureStatus::kMismatch:
      refusal.code = ReasonCode::kSignatureMismatch;
      break;
    case SignatureStatus::kDamaged:
      refusal.code = ReasonCode::kSignatureDamaged;
      break;
    case SignatureStatus::kUntrusted:
      refusal.code = ReasonCode::kSignatureUntrusted;
      break;
  }
  refusal.keyId = check.keyId;
  return refusal.Path(imagePath);
}

}  // namespace tarvik
