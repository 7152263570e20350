// A firmware version as controllers report it and images carry it. The low
// 16 bits of its word are the version times 100. The high 16 bits are the
// beta number.
#pragma once

#include <cstdint>
#include <string>

namespace tarvik {

// Version number and beta number of a version word.
inline double VersionNumber(uint32_t word) { return (word & 0xFFFFu) / 100.0; }
inline uint32_t BetaNumber(uint32_t word) { return word >> 16; }

// "1.23" or "1.23 beta2".
std::string FormatVersionShort(uint32_t version);

// <0, 0, >0 as version `a` is older than, the same as or newer than `b`.
// Releases order by their number. A beta comes before the release of its number.
int CompareVersions(uint32_t a, uint32_t b);

class FirmwareVersion {
 public:
  // The word a version holds until a controller has told it.
  static constexpr uint32_t kUnknownWord = 0x5A5A5A5A;
  // The word a packet-protocol controller without valid firmware tells.
  static constexpr uint32_t kNoFirmwareWord = 0xFFFFFFFF;

  constexpr FirmwareVersion() = default;
  static constexpr FirmwareVersion FromWord(uint32_t word) { return FirmwareVersion(word); }
  static constexpr FirmwareVersion Unknown() { return FirmwareVersion(kUnknownWord); }

  constexpr uint32_t Word() const { return m_word; }
  constexpr bool Known() const { return m_word != kUnknownWord; }
  double Number() const { return VersionNumber(m_word); }
  uint32_t Beta() const { return BetaNumber(m_word); }
  // "1.23" or "1.23 beta2".
  std::string Text() const { return FormatVersionShort(m_word); }

  friend constexpr bool operator==(FirmwareVersion a, FirmwareVersion b) { return a.m_word == b.m_word; }
  friend bool operator<(FirmwareVersion a, FirmwareVersion b) { return CompareVersions(a.m_word, b.m_word) < 0; }

 private:
  explicit constexpr FirmwareVersion(uint32_t word) : m_word(word) {}
  uint32_t m_word = kUnknownWord;
};

}  // namespace tarvik
