#include "platform/win32/interface_detail.h"

namespace tarvik::win32 {

std::vector<std::wstring> CollectInterfacePaths(const NextInterface& next,
                                                const ReadDetail& detail) {
  std::vector<std::wstring> paths;
  std::vector<uint8_t> buffer;
  for (uint32_t index = 0; next(index); ++index) {
    std::wstring path;
    size_t required = 0;
    if (buffer.empty()) {
      if (detail(nullptr, 0, required, path) != DetailResult::kTooSmall || required == 0) continue;
      buffer.resize(required);
    }
    DetailResult result = detail(buffer.data(), buffer.size(), required, path);
    if (result == DetailResult::kTooSmall && required > buffer.size()) {
      // One retry with the size asked for: an interface that keeps asking for
      // more (its path changing under us) must not hold up the others.
      buffer.resize(required);
      result = detail(buffer.data(), buffer.size(), required, path);
    }
    if (result == DetailResult::kOk) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace tarvik::win32
