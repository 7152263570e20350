// What the command line asked for.
#pragma once

#include <string>
#include <vector>

namespace tarvik {

struct CliOptions {
  std::string simulate;  // empty: the system's HID devices
  std::vector<std::string> simSettings;
  std::string transcriptPath;  // empty: none; "-": standard output
  bool json = false;

  // run
  std::string image;
  std::string confirm = "yes";
  int presses = 1;

  // image, flash
  std::string path;
  bool assumeYes = false;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace tarvik
