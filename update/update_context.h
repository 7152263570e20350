// The image being written and the record being worked on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "update/firmware_image.h"

namespace tarvik {

struct UpdateRecordValues {
  uint8_t dataBuffer[64] = {};  // one chunk of payload: 46 bytes (boot mode) or 32 (packets)
  uint32_t version = 0;
  uint32_t desAddress = 0;
  uint32_t desLen = 0;
  uint32_t bytesSent = 0;
};

// The update flows' reading position in the image snapshot: opened and closed
// like a file by the steps that read it. The window may close it while the
// worker reads, hence the lock.
class CImageReader {
 public:
  explicit CImageReader(const FirmwareImage& image) : m_image(image) {}
  CImageReader(const CImageReader&) = delete;
  CImageReader& operator=(const CImageReader&) = delete;

  // False when no image was read.
  bool Open() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_open = m_image.Readable();
    m_position = 0;
    return m_open;
  }
  // Closing a reader that is not open does nothing.
  void Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_open = false;
  }
  bool IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_open;
  }
  // Bytes copied, fewer at the end of the image, 0 when closed.
  size_t Read(void* buffer, size_t count) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::vector<uint8_t>& bytes = m_image.Bytes();
    if (!m_open || m_position >= bytes.size()) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, bytes.size() - m_position));
    std::memcpy(buffer, bytes.data() + m_position, n);
    m_position += n;
    return n;
  }
  bool Seek(uint64_t offset) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open) return false;
    m_position = offset;
    return true;
  }
  uint64_t Position() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_open ? m_position : 0;
  }
  uint64_t Length() const { return m_image.Bytes().size(); }

 private:
  const FirmwareImage& m_image;
  mutable std::mutex m_lock;
  bool m_open = false;
  uint64_t m_position = 0;
};

struct UpdateContext {
  UpdateRecordValues record;
  uint8_t firstHeader[kRecordHeaderSize] = {};
  std::string imagePath;
  // The chosen image as read, once, at its selection: the update writes from it.
  FirmwareImage image;
  CImageReader imageFile{image};
  // An image handed to the update already read and checked: the selection
  // takes it instead of asking for a file.
  std::optional<FirmwareImage> presetImage;
};

}  // namespace tarvik
