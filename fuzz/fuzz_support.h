// What the fuzz targets share: reading the fuzzer's bytes, and the checks
// that end a run on a wrong result, not only on a crash.
//
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "update/update_events.h"

namespace tarvik::fuzz {

// The fuzzer's bytes, read front to back; past the end every read gives the
// fallback, so that a short input plays a well-behaved controller.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint8_t Next(uint8_t fallback = 0) { return m_at < m_size ? m_data[m_at++] : fallback; }
  uint32_t Next32(uint32_t fallback) {
    if (m_size - m_at < 4) {
      m_at = m_size;
      return fallback;
    }
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{m_data[m_at++]} << (8 * i);
    return v;
  }
  bool Empty() const { return m_at >= m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "\n*** wrong result: %s\n", what);
  std::fflush(stderr);
  __builtin_trap();
}

// A wrong result ends the run as a crash would.
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The caller of a fuzzed update session: confirms the change, checks every
// bar position the window would draw, and notes a success and any request
// for a file (the image is always handed over, so none may come).
class SessionUser final : public IUpdatePrompt, public IUpdateEvents {
 public:
  std::function<void(int)> onProgress;
  bool succeeded = false;
  int fileRequests = 0;

  bool ConfirmChange(const VersionChange&) override { return true; }
  std::optional<std::string> ChooseImage() override {
    ++fileRequests;
    return std::nullopt;
  }
  void OnProgress(uint64_t bytes, uint64_t total) override {
    if (onProgress) onProgress(static_cast<int>(total == 0 ? 100 : std::min<uint64_t>(bytes * 100 / total, 100)));
  }
  void OnMilestone(UpdateMilestone milestone) override {
    if (milestone == UpdateMilestone::kSucceeded) succeeded = true;
  }
};

}  // namespace tarvik::fuzz
