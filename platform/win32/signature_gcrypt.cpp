#include <gcrypt.h>

#include <climits>

#include "platform/signature_crypto.h"

namespace tarvik {

namespace {

// libgcrypt is set up once, before its first use. Secure memory holds
// secret keys, and only public keys are used here.
bool Ready() {
  static const bool ready = [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

struct Sexp {
  gcry_sexp_t value = nullptr;
  ~Sexp() { gcry_sexp_release(value); }
};

}  // namespace

bool Ed25519Verify(const uint8_t* publicKey, const uint8_t* signature, const uint8_t* message, size_t size) {
  if (!Ready() || size > INT_MAX) return false;
  Sexp key, signed_, data;
  const int half = static_cast<int>(kEd25519SignatureBytes / 2);
  if (gcry_sexp_build(&key.value, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(kEd25519KeyBytes), publicKey) != 0 ||
      gcry_sexp_build(&signed_.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", half, signature, half,
                      signature + half) != 0 ||
      gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(size), message) != 0) {
    return false;
  }
  return gcry_pk_verify(signed_.value, data.value, key.value) == 0;
}

bool Blake2b512(const uint8_t* data, size_t size, uint8_t* digest) {
  if (!Ready()) return false;
  gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, digest, data, size);
  return true;
}

}  // namespace tarvik
