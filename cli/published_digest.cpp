#include "cli/published_digest.h"

#include <algorithm>
#include <cctype>

#include "base/strformat.h"
#include "base/text_mark.h"

namespace tarvik {

bool IsSha256Text(const std::string& text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string DigestMismatch(const std::string& actual, const std::string& published) {
  if (published.empty()) return "";
  std::string lower = published;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  if (lower == actual) return "";
  // English: the rejection is kept in the history; it is translated where it is shown.
  if (actual.empty()) return StrFormat(N_("its SHA-256 is unknown, not the published %s"), lower.c_str());
  return StrFormat(N_("its SHA-256 is %s, not the published %s"), actual.c_str(), lower.c_str());
}

}  // namespace tarvik
