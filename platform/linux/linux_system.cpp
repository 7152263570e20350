#include "platform/linux/linux_system.h"

#include <sys/prctl.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/linux/locale_language.h"
#include "platform/std/key_folder.h"
#include "platform/std/standard_error_trace.h"
#include "platform/std/std_thread.h"
#include "res/string_table.h"

namespace tarvik {

uint16_t LinuxSystem::InterfaceLanguage() {
  return LanguageIdFromEnvironment([](const char* name) { return std::getenv(name); });
}

LocalTime LinuxSystem::LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string LinuxSystem::CurrentDirectory() {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return {};
  return buffer;
}

uint32_t LinuxSystem::LastErrorCode() { return static_cast<uint32_t>(errno); }

void LinuxSystem::Trace(const std::string& line) {
  if (m_traceToStderr) WriteTraceLineToStandardError(line);
}

std::string LinuxSystem::StringTableEntry(uint16_t id) {
  return std::string(FindStringTableEntry(id));
}

std::unique_ptr<IThread> LinuxSystem::StartThread(std::function<void()> body) {
  return std::make_unique<StdThread>([body = std::move(body)] {
    UseFineTimerSlack();
    body();
  });
}

void LinuxSystem::UseFineTimerSlack() { prctl(PR_SET_TIMERSLACK, kWorkerTimerSlackNs, 0, 0, 0); }

// A public key file is two short lines. Anything larger is no key file.
constexpr size_t kMaxKeyFileBytes = 8192;

std::vector<std::string> LinuxSystem::TrustedKeyTexts() {
  std::vector<std::string> texts = ReadKeyFolder("/etc/tarvik-update/trusted-keys", kMaxKeyFileBytes);
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string folder;
  if (config != nullptr && config[0] == '/') {
    folder = config;
  } else if (home != nullptr && home[0] != '\0') {
    folder = std::string(home) + "/.config";
  }
  if (!folder.empty()) {
    for (std::string& text : ReadKeyFolder(folder + "/tarvik-update/trusted-keys", kMaxKeyFileBytes)) {
      texts.push_back(std::move(text));
    }
  }
  texts.insert(texts.end(), m_alsoTrusted.begin(), m_alsoTrusted.end());
  return texts;
}

}  // namespace tarvik
