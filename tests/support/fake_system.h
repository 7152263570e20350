// A system seam for tests: settable language and local time, a temporary
// current directory, collected trace lines, the real string table and threads.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/std/std_thread.h"
#include "platform/system.h"
#include "res/string_table.h"
#include "platform/std/virtual_clock.h"

namespace tarvik::test {

class FakeSystem final : public ISystem {
 public:
  explicit FakeSystem(IClock& clock) : m_clock(clock) {}

  std::atomic<uint16_t> language{1033};
  LocalTime localTime{2024, 3, 5, 9, 7, 2};
  std::string currentDirectory;
  std::atomic<uint32_t> lastError{0};
  std::atomic<bool> traceReceived{true};  // false: nobody reads the trace
  std::vector<std::string> trustedKeys;   // set before the window starts

  std::vector<std::string> TraceLines() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_trace;
  }

  uint16_t InterfaceLanguage() override { return language.load(); }
  LocalTime LocalTimeNow() override { return localTime; }
  std::string CurrentDirectory() override { return currentDirectory; }
  uint32_t LastErrorCode() override { return lastError.load(); }
  void Trace(const std::string& line) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_trace.push_back(line);
  }
  bool TraceReceived() override { return traceReceived.load(); }
  std::string StringTableEntry(uint16_t id) override { return std::string(FindStringTableEntry(id)); }
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override {
    return std::make_unique<StdThread>(std::move(body));
  }
  IClock& Clock() override { return m_clock; }
  std::vector<std::string> TrustedKeyTexts() override { return trustedKeys; }

 private:
  IClock& m_clock;
  std::mutex m_lock;
  std::vector<std::string> m_trace;
};

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    m_path = std::filesystem::temp_directory_path() /
             ("tarvik-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

}  // namespace tarvik::test
