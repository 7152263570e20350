// Ed25519 and BLAKE2b-512 in the page come from libsodium. The page loads it
// when a signature file is chosen, before the engine gets the file.
// page_library.js hands it the bytes on the page's own thread. When the page
// could not load it, every call returns false: a signed image is refused,
// never passed as verified.
#include "platform/signature_crypto.h"
#include "web/page_bridge.h"

namespace tarvik {

bool Ed25519Verify(const uint8_t* publicKey, const uint8_t* signature, const uint8_t* message, size_t size) {
  return tarvik_ed25519_verify(publicKey, signature, message, size) == 1;
}

bool Blake2b512(const uint8_t* data, size_t size, uint8_t* digest) { return tarvik_blake2b512(data, size, digest) == 1; }

}  // namespace tarvik
