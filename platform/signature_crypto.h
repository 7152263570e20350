// Ed25519 and BLAKE2b-512, from the system's cryptography library: OpenSSL's
// libcrypto on Linux (platform/linux/signature_libcrypto.cpp), libgcrypt on
// Windows (platform/win32/signature_gcrypt.cpp), libsodium in the page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvik {

inline constexpr size_t kEd25519KeyBytes = 32;
inline constexpr size_t kEd25519SignatureBytes = 64;
inline constexpr size_t kBlake2b512Bytes = 64;

// Whether `signature` (64 bytes) is the Ed25519 signature of the `size`
// bytes at `message` by `publicKey` (32 bytes). False when the library fails.
bool Ed25519Verify(const uint8_t* publicKey, const uint8_t* signature, const uint8_t* message, size_t size);

// The BLAKE2b-512 digest of the `size` bytes at `data` into `digest` (64
// bytes). False when the library fails.
bool Blake2b512(const uint8_t* data, size_t size, uint8_t* digest);

}  // namespace tarvik
