// The SHA-256 of a block of bytes, from the system's cryptography library:
// OpenSSL's libcrypto on Linux (platform/linux/sha256_libcrypto.cpp), CNG's
// bcrypt on Windows (platform/win32/sha256_bcrypt.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvik {

// 64 lower-case hex digits; empty when the library could not compute it.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace tarvik
