#include "web/web_system.h"

#include <cerrno>
#include <ctime>

#include "platform/linux/locale_language.h"
#include "platform/std/std_thread.h"
#include "res/string_table.h"
#include "samples/demo_key.h"
#include "web/page_bridge.h"

namespace tarvik {

uint16_t WebSystem::InterfaceLanguage() {
  // The browser names languages as BCP 47 tags ("zh-CN", "en-GB"), which the
  // locale table reads as it reads "zh_CN".
  char language[64] = {};
  tarvik_page_language(language, sizeof language);
  return LanguageIdFromLocale(language);
}

LocalTime WebSystem::LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

uint32_t WebSystem::LastErrorCode() { return static_cast<uint32_t>(errno); }

void WebSystem::Trace(const std::string& line) {
  if (m_trace) tarvik_page_trace(line.c_str());
}

std::string WebSystem::StringTableEntry(uint16_t id) { return std::string(FindStringTableEntry(id)); }

std::unique_ptr<IThread> WebSystem::StartThread(std::function<void()> body) {
  return std::make_unique<StdThread>(std::move(body));
}

std::vector<std::string> WebSystem::TrustedKeyTexts() {
  if (!m_simulated) return {};
  return {kDemoTrustedKey};
}

}  // namespace tarvik
