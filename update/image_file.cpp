#include "update/image_file.h"

#include <cerrno>
#include <filesystem>
#include <limits>


namespace tarvik {

bool CImageFile::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  // A directory opens for reading on some systems and then reads as nothing.
  // A device or a pipe never ends, or ends once: it is no image either.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!error && std::filesystem::is_directory(status)) {
    m_lastError = Reason(ReasonCode::kIsDirectory);
    return false;
  }
  if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    m_lastError = Reason(ReasonCode::kNotRegularFile);
    return false;
  }
  m_file = std::fopen(path.c_str(), "rb");
  if (!m_file) {
    m_lastError = Reason(ReasonCode::kUnreadable);
    m_lastError.errorNumber = errno;
    return false;
  }
  m_lastError = Reason();
  return true;
}

Reason CImageFile::LastError() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_lastError;
}

void CImageFile::Close() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
}

bool CImageFile::IsOpen() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_file != nullptr;
}

size_t CImageFile::Read(void* buffer, size_t count) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_file) return 0;
  return std::fread(buffer, 1, count, m_file);
}

bool CImageFile::Seek(uint64_t offset) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_file) return false;
  if (offset > static_cast<uint64_t>(std::numeric_limits<long>::max())) return false;
  return std::fseek(m_file, static_cast<long>(offset), SEEK_SET) == 0;
}

uint64_t CImageFile::Position() const {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_file) return 0;
  const long pos = std::ftell(m_file);
  return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

uint64_t CImageFile::Length() const {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_file) return 0;
  const long here = std::ftell(m_file);
  std::fseek(m_file, 0, SEEK_END);
  const long end = std::ftell(m_file);
  std::fseek(m_file, here, SEEK_SET);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

}  // namespace tarvik
