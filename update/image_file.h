// The file an image is read from, once, when FirmwareImage::Load takes it whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace tarvik {

class CImageFile {
 public:
  CImageFile() = default;
  ~CImageFile() { Close(); }
  CImageFile(const CImageFile&) = delete;
  CImageFile& operator=(const CImageFile&) = delete;

  // Refuses directories. On failure LastError() says why ("No such file or directory").
  bool Open(const std::string& path);
  std::string LastError() const;
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
  std::string m_lastError;
};

}  // namespace tarvik
