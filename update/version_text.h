// How firmware version words are shown: in the window title, in the version
// confirmation, and in short form for the command line.
#pragma once

#include <cstdint>
#include <string>

namespace tarvik {

// Version number and beta number of a version word.
inline double VersionNumber(uint32_t word) { return (word & 0xFFFFu) / 100.0; }
inline uint32_t BetaNumber(uint32_t word) { return word >> 16; }

// The title for a boot-mode controller: "<title> (Fw v1.23 beta2 r5)" or
// "<title> (Fw v1.23 r5)". An erased version (0xFFFFFFFF) or revision (0xFFFF) shows as 0.
std::string FormatBootVersionTitle(const std::string& title, uint32_t version, uint16_t revision);

// The version confirmation: "<fw> 1.23 beta2 <current is> 1.00\n", betas shown where non-zero.
std::string FormatVersionConfirmation(const std::string& fwText, uint32_t fileVersion,
                                      const std::string& currentIsText, uint32_t deviceVersion);

// "1.23" or "1.23 beta2".
std::string FormatVersionShort(uint32_t version);

}  // namespace tarvik
