// What the fuzz targets share: reading the fuzzer's bytes, and the checks
// that end a run on a wrong result, not only on a crash.
//
// Known faults: some results are wrong on today's engine and have regression
// tests (tests/hostile_input_test.cpp, DISABLED_ until fixed). With
// TARVIK_FUZZ_KNOWN_FAULTS=1 in the environment (scripts/fuzz.sh sets it for
// the short run) a run that shows only such a fault goes on; every other
// wrong result still stops the run. The faults, by the tag the checks use:
//   stale-ack      boot mode: a reply left over from an earlier frame (late, or
//                  a duplicate) is taken as the acknowledgement of the current one
//   end-unwritten  packet protocol: success although the end packet was not written
//   past-deslen    packet protocol: data sent past desLen, progress above 100,
//                  success with the controller's failure report unread
//   startup-dialog a start answer during the start-up version query opens the
//                  file dialog
//   unbounded      nothing bounds a whole transfer (packet protocol, replies
//                  just under the silence bound; boot mode, erase answers that
//                  alternate busy and something else)
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

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

inline bool KnownFaultsAllowed() {
  static const bool allowed = [] {
    const char* value = std::getenv("TARVIK_FUZZ_KNOWN_FAULTS");
    return value && std::strcmp(value, "1") == 0;
  }();
  return allowed;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "\n*** wrong result: %s\n", what);
  std::fflush(stderr);
  __builtin_trap();
}

// A wrong result that no known fault explains.
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// A wrong result that `fault` (a tag above) explains: let through when known
// faults are allowed, counted and reported once per tag.
inline void CheckKnown(bool ok, const char* fault, const char* what) {
  if (ok) return;
  if (!KnownFaultsAllowed()) Fail(what);
  static std::map<std::string, int> seen;
  if (seen[fault]++ == 0) std::fprintf(stderr, "known fault [%s]: %s\n", fault, what);
}

}  // namespace tarvik::fuzz
