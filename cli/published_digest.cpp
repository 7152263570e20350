#include "cli/published_digest.h"

#include <algorithm>
#include <cctype>


namespace tarvik {

bool IsSha256Text(const std::string& text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

Reason DigestMismatch(const std::string& actual, const std::string& published) {
  if (published.empty()) return {};
  std::string lower = published;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  if (lower == actual) return {};
  Reason mismatch(ReasonCode::kDigestMismatch);
  mismatch.actual = actual;
  mismatch.expected = lower;
  return mismatch;
}

}  // namespace tarvik
