// The advice for a user who may not open the controller: without the udev
// rules its hidraw node belongs to root, and nothing else tells the user why
// no controller is found.
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include "platform/linux/hidraw_bus.h"

#ifndef TARVIK_SOURCE_RULES_FILE
#define TARVIK_SOURCE_RULES_FILE "packaging/linux/70-tarvik-update.rules"
#endif

namespace tarvik {

namespace {

constexpr uint16_t kLangChinese = 2052;

// The two commands: install the file, then load the rules and apply them to
// the hidraw nodes present now.
std::string Commands(const std::string& rulesFile) {
  return "  sudo install -m 644 " + rulesFile + " /etc/udev/rules.d/\n"
         "  sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw\n";
}

}  // namespace

std::string AccessDeniedHint(uint16_t languageId, const std::string& rulesFile) {
  if (languageId == kLangChinese) {
    return "已连接 Tarvik 手柄，但没有访问它的权限（权限被拒绝）。\n\n"
           "请安装 udev 规则文件 " + std::string(kUdevRulesFileName) + " 并加载它：\n\n" +
           Commands(rulesFile) +
           "\n然后重新插入手柄。没有桌面会话时（SSH、容器），规则让 plugdev 组的成员访问手柄。";
  }
  return "A Tarvik controller is connected, but access to it is denied (permission denied).\n\n"
         "Install the udev rules file " + std::string(kUdevRulesFileName) + " and load it:\n\n" +
         Commands(rulesFile) +
         "\nThen plug the controller in again. Without a desktop session (SSH, containers) the "
         "rules give access to the members of the group plugdev.";
}

std::string AccessDeniedHint(uint16_t languageId) {
  return AccessDeniedHint(languageId, FindUdevRulesFile());
}

std::string AccessDeniedCaption(uint16_t languageId) {
  return languageId == kLangChinese ? "无法访问手柄" : "Controller access denied";
}

std::string FindUdevRulesFile(const std::string& programPath,
                              const std::function<bool(const std::string&)>& exists) {
  namespace fs = std::filesystem;
  std::vector<std::string> candidates;
  if (!programPath.empty()) {
    const fs::path prefix = fs::path(programPath).parent_path().parent_path();
    candidates.push_back(
        (prefix / "lib/udev/rules.d" / kUdevRulesFileName).lexically_normal().string());
  }
  for (const char* dir : {"/usr/lib/udev/rules.d/", "/lib/udev/rules.d/"}) {
    candidates.push_back(dir + std::string(kUdevRulesFileName));
  }
  candidates.push_back(TARVIK_SOURCE_RULES_FILE);
  for (const std::string& candidate : candidates) {
    if (exists(candidate)) return candidate;
  }
  // Nothing found: the file as the source tree holds it.
  return "packaging/linux/" + std::string(kUdevRulesFileName);
}

std::string FindUdevRulesFile() {
  char program[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
  const std::string programPath = length > 0 ? std::string(program, static_cast<size_t>(length)) : "";
  return FindUdevRulesFile(programPath, [](const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
  });
}

}  // namespace tarvik
