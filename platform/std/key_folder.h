// The public key files a person or a shop puts in a folder: every "*.pub"
// file in it, read whole. The system seams of both desktop platforms use it.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace tarvik {

// The texts of the "*.pub" files in `folder`, in name order. A folder that
// is not there has none. A file larger than `maxBytes` is no key file and is left out.
inline std::vector<std::string> ReadKeyFolder(const std::filesystem::path& folder, size_t maxBytes) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->path().extension() == ".pub" && it->is_regular_file(error) && it->file_size(error) <= maxBytes) {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> texts;
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return texts;
}

}  // namespace tarvik
