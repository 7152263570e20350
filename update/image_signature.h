// What a maker's signature says of an image, before the question and before
// any report. The signature is minisign's, in a file beside the image
// ("fw.dat.minisig"). The keys trusted are the program's own and those the
// machine adds. One decision for every front end: a signature that verifies
// by a trusted key is shown, an image without one is written after a warning
// unless one is required, and anything else is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"
#include "update/signature_check.h"
#include "update/minisign.h"
#include "update/update_reason.h"

namespace tarvik {

// The keys an image's signature may be made by, and whether one is required.
struct ImageTrust {
  std::vector<MinisignPublicKey> keys;
  bool signatureRequired = false;

  // Adds the key of a public key file's text; false when the text holds none.
  bool AddKeyText(std::string_view text);
  const MinisignPublicKey* Find(const MinisignKeyId& keyId) const;
};

// The keys built into the program, then those `system` says this machine adds.
ImageTrust MachineTrust(ISystem& system);

// Where an image's signature is: beside it, named after it.
std::string SignaturePathFor(const std::string& imagePath);

// Checks `signatureText` (nothing: the image has no signature file) of the
// image `bytes` against `trust`.
SignatureCheck CheckSignature(const std::vector<uint8_t>& bytes, const std::optional<std::string>& signatureText,
                              const ImageTrust& trust);

// Reads the signature file beside `imagePath` and checks it against the
// image `bytes`, read from there.
SignatureCheck CheckSignatureBeside(const std::string& imagePath, const std::vector<uint8_t>& bytes,
                                    const ImageTrust& trust);

// Why the image at `imagePath` is refused for `check`; empty when it may be written.
Reason SignatureRefusal(const SignatureCheck& check, const ImageTrust& trust, const std::string& imagePath);

}  // namespace tarvik
