// An image's SHA-256 against the one its publisher gives (flash --sha256).
#pragma once

#include <string>

#include "update/update_reason.h"

namespace tarvik {

// Whether `text` can be a published SHA-256: 64 hex digits of either case.
bool IsSha256Text(const std::string& text);
// Why an image whose SHA-256 is `actual` (lower-case) is not the published
// one; empty when it is, or when `published` is empty.
Reason DigestMismatch(const std::string& actual, const std::string& published);

}  // namespace tarvik
