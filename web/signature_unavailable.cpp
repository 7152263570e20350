// The page takes no signature files yet, so it never checks one. Until it
// does, no signature verifies here: a signed image is refused, never passed.
#include "platform/signature_crypto.h"

namespace tarvik {

bool Ed25519Verify(const uint8_t* /*publicKey*/, const uint8_t* /*signature*/, const uint8_t* /*message*/,
                   size_t /*size*/) {
  return false;
}

bool Blake2b512(const uint8_t* /*data*/, size_t /*size*/, uint8_t* /*digest*/) { return false; }

}  // namespace tarvik
