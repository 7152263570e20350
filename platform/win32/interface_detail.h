// The paths of a device-interface set, read one interface at a time into a
// buffer that grows only when an interface's detail does not fit. Kept apart
// from SetupAPI so that the sizing rules can be exercised with any paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvik::win32 {

enum class DetailResult {
  kOk,        // the path is in the buffer
  kTooSmall,  // `required` bytes are needed
  kFailed,    // this interface has no readable detail (for example, it just went away)
};

// `next(index)` moves to interface `index`: false once there are no more.
// `detail(buffer, size, required)` reads the current interface's detail into
// `buffer` (`size` bytes; size 0 only asks for `required`) and, on kOk, gives its path.
using NextInterface = std::function<bool(uint32_t index)>;
using ReadDetail =
    std::function<DetailResult(uint8_t* buffer, size_t size, size_t& required, std::wstring& path)>;

// Sizes the buffer on the first interface and grows it when a later path is
// longer, retrying that interface once; an interface that still fails is skipped.
std::vector<std::wstring> CollectInterfacePaths(const NextInterface& next,
                                                const ReadDetail& detail);

}  // namespace tarvik::win32
