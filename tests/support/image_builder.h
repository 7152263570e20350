// Firmware images for tests: records of a 28-byte header and their payload.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace tarvik::test {

// The last line of the version question for an image without a signature file.
inline constexpr char kUnsigned[] = "This image is not signed. Go on only with an image from the controller's maker.";
inline const std::string kUnsignedLine = std::string(kUnsigned) + "\n";

using Bytes = std::vector<uint8_t>;

inline Bytes Payload(size_t size, uint8_t seed = 0) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

inline Bytes Record(uint32_t version, uint32_t desAddress, const Bytes& payload, uint16_t pid = 1,
                    uint32_t desLen = UINT32_MAX) {
  Bytes record(28, 0);
  PutLe32(&record[0], version);
  PutLe32(&record[4], desAddress);
  PutLe32(&record[8], desLen == UINT32_MAX ? static_cast<uint32_t>(payload.size()) : desLen);
  PutLe16(&record[12], pid);
  record.insert(record.end(), payload.begin(), payload.end());
  return record;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline std::string WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

}  // namespace tarvik::test
