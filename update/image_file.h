// The file an image is read from, once, when FirmwareImage::Load takes it whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "update/update_reason.h"

namespace tarvik {

class CImageFile {
 public:
  CImageFile() = default;
  ~CImageFile() { Close(); }
  CImageFile(const CImageFile&) = delete;
  CImageFile& operator=(const CImageFile&) = delete;

  // Refuses directories, devices, pipes and sockets. On failure LastError()
  // says why, with the system's error number where it had one.
  bool Open(const std::string& path);
  Reason LastError() const;
  // Closing a file that is not open does nothing.
  void Close();
  bool IsOpen() const;
  // Bytes read, 0 at the end or on an error.
  size_t Read(void* buffer, size_t count);
  bool Seek(uint64_t offset);
  uint64_t Position() const;
  uint64_t Length() const;

 private:
  mutable std::mutex m_lock;  // one reader at a time
  std::FILE* m_file = nullptr;
  Reason m_lastError;
};

}  // namespace tarvik
