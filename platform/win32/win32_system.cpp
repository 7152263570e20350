#include "platform/win32/win32_system.h"

#include <filesystem>
#include <string>

#include "platform/std/key_folder.h"
#include "platform/std/std_thread.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_api.h"

namespace tarvik::win32 {

uint16_t Win32System::InterfaceLanguage() { return ::GetUserDefaultUILanguage(); }

LocalTime Win32System::LocalTimeNow() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::string Win32System::CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return {};
  std::wstring directory(needed, L'\0');
  const DWORD length = GetCurrentDirectoryW(needed, directory.data());
  if (length == 0 || length >= needed) return {};
  directory.resize(length);
  const bool driveRoot = directory.size() == 3 && directory[1] == L':';
  if (!driveRoot && directory.size() > 1 &&
      (directory.back() == L'\\' || directory.back() == L'/')) {
    directory.pop_back();
  }
  return WideToUtf8(directory);
}

uint32_t Win32System::LastErrorCode() { return ::GetLastError(); }

void Win32System::Trace(const std::string& line) {
  OutputDebugStringW(Utf8ToWide(line).c_str());
}

std::string Win32System::StringTableEntry(uint16_t id) {
  // With a zero buffer size LoadStringW hands out the resource's own text
  // (not NUL-ended) and its length: no length limit, and 0 for a missing entry.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return WideToUtf8(std::wstring_view(text, static_cast<size_t>(length)));
}

std::unique_ptr<IThread> Win32System::StartThread(std::function<void()> body) {
  return std::make_unique<StdThread>(std::move(body));
}

// A public key file is two short lines. Anything larger is no key file.
constexpr size_t kMaxKeyFileBytes = 8192;

std::vector<std::string> Win32System::TrustedKeyTexts() {
  std::vector<std::string> texts;
  std::wstring program(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0) break;
    if (length < program.size()) {
      program.resize(length);
      texts = ReadKeyFolder(std::filesystem::path(program).parent_path() / L"trusted-keys", kMaxKeyFileBytes);
      break;
    }
    program.resize(program.size() * 2);
  }
  texts.insert(texts.end(), m_alsoTrusted.begin(), m_alsoTrusted.end());
  return texts;
}

}  // namespace tarvik::win32
