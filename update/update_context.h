// The image being written and the record being worked on.
#pragma once

#include <cstdint>
#include <string>

#include "update/image_file.h"

namespace tarvik {

inline constexpr size_t kRecordHeaderSize = 28;

struct UpdateRecordValues {
  uint8_t dataBuffer[64] = {};  // one chunk of payload: 46 bytes (boot mode) or 32 (packets)
  uint32_t version = 0;
  uint32_t desAddress = 0;
  uint32_t desLen = 0;
  uint32_t bytesSent = 0;
};

struct UpdateContext {
  UpdateRecordValues record;
  uint8_t firstHeader[kRecordHeaderSize] = {};
  std::string imagePath;
  CImageFile imageFile;
};

}  // namespace tarvik
