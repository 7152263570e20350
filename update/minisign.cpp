#include "update/minisign.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/strformat.h"

namespace tarvik {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr size_t kMaxLines = 4;

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64 with its padding, decoding to exactly `size` bytes.
// Minisign's lines have fixed lengths, so no other length is a key or a signature.
bool DecodeBase64(std::string_view text, uint8_t* out, size_t size) {
  const size_t expected = (size + 2) / 3 * 4;
  if (text.size() != expected) return false;
  const size_t padding = (3 - size % 3) % 3;
  std::vector<uint8_t> bytes;
  bytes.reserve(expected / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t group = 0;
    for (size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      const bool padded = i + 4 == text.size() && j >= 4 - padding;
      if (padded) {
        if (c != '=') return false;
        group <<= 6;
        continue;
      }
      const int value = Base64Value(c);
      if (value < 0) return false;
      group = group << 6 | static_cast<uint32_t>(value);
    }
    bytes.push_back(static_cast<uint8_t>(group >> 16));
    bytes.push_back(static_cast<uint8_t>(group >> 8));
    bytes.push_back(static_cast<uint8_t>(group));
  }
  // The bits under the padding must be zero: one text for each key.
  for (size_t i = size; i < bytes.size(); ++i) {
    if (bytes[i] != 0) return false;
  }
  std::memcpy(out, bytes.data(), size);
  return true;
}

// The file's lines without their line ends; nothing when there are more than
// `kMaxLines` lines with text, or the file is too large to be one of minisign's.
std::optional<std::vector<std::string_view>> Lines(std::string_view text) {
  if (text.size() > kMaxMinisignFileBytes) return std::nullopt;
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.size() > kMaxLines) return std::nullopt;
  return lines;
}

bool TakePrefix(std::string_view line, std::string_view prefix, std::string& rest) {
  if (line.substr(0, prefix.size()) != prefix) return false;
  rest.assign(line.substr(prefix.size()));
  return true;
}

}  // namespace

std::string MinisignKeyIdText(const MinisignKeyId& keyId) {
  // Minisign reads the ID as a little-endian number and prints it in hexadecimal.
  uint64_t number = 0;
  for (size_t i = keyId.size(); i-- > 0;) number = number << 8 | keyId[i];
  return StrFormat("%llX", static_cast<unsigned long long>(number));
}

std::string MinisignPublicKey::IdText() const { return MinisignKeyIdText(keyId); }

std::string MinisignPublicKey::Name() const {
  const bool minisignDefault = comment == "minisign public key " + IdText() || comment.empty();
  return minisignDefault ? IdText() : comment;
}

std::optional<MinisignPublicKey> ParseMinisignPublicKey(std::string_view text) {
  const auto lines = Lines(text);
  if (!lines || lines->size() != 2) return std::nullopt;
  MinisignPublicKey key;
  if (!TakePrefix((*lines)[0], kUntrustedPrefix, key.comment)) return std::nullopt;
  uint8_t raw[2 + 8 + 32];
  if (!DecodeBase64((*lines)[1], raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd') return std::nullopt;
  std::memcpy(key.keyId.data(), raw + 2, key.keyId.size());
  std::memcpy(key.key.data(), raw + 10, key.key.size());
  return key;
}

std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text) {
  const auto lines = Lines(text);
  if (!lines || lines->size() != 4) return std::nullopt;
  std::string untrusted;
  MinisignSignature signature;
  if (!TakePrefix((*lines)[0], kUntrustedPrefix, untrusted)) return std::nullopt;
  if (!TakePrefix((*lines)[2], kTrustedPrefix, signature.trustedComment)) return std::nullopt;
  uint8_t raw[2 + 8 + 64];
  if (!DecodeBase64((*lines)[1], raw, sizeof raw) || raw[0] != 'E') return std::nullopt;
  if (raw[1] != 'D' && raw[1] != 'd') return std::nullopt;
  signature.prehashed = raw[1] == 'D';
  std::memcpy(signature.keyId.data(), raw + 2, signature.keyId.size());
  std::memcpy(signature.signature.data(), raw + 10, signature.signature.size());
  if (!DecodeBase64((*lines)[3], signature.globalSignature.data(), signature.globalSignature.size())) {
    return std::nullopt;
  }
  return signature;
}

}  // namespace tarvik
