// tarvik-update-cli as a child process of the tests: run in a scratch folder
// with its standard output, standard error and transcript collected, or
// interrupted with Ctrl-C mid-way.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarvik::test {

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A folder of the running test's own, below the system's temporary folder.
// Bytes as the transcript writes them: lower-case hex, two digits each.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 15]);
  }
  return text;
}

inline std::filesystem::path ScratchFolder(const std::string& prefix) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (prefix + "-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(dir);
  return dir;
}

// Keeps the --json document of a run for the schema check that follows the
// CLI tests (where the build names a folder for them).
inline void KeepJsonDocument(const std::string& arguments, const std::string& out) {
#ifdef TARVIK_JSON_DOCUMENTS_DIR
  if (arguments.find("--json") == std::string::npos || arguments.find("--transcript -") != std::string::npos) return;
  static int kept = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const std::filesystem::path dir = TARVIK_JSON_DOCUMENTS_DIR;
  std::filesystem::create_directories(dir);
  std::ofstream(dir / (name + "-" + std::to_string(getpid()) + "-" + std::to_string(++kept) + ".json"),
                std::ios::binary)
      << out;
#else
  (void)arguments;
  (void)out;
#endif
}

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<nlohmann::json> transcript;

  nlohmann::json Document() const { return nlohmann::json::parse(out, nullptr, false); }
  // The events `ev` of controller `dev` (0: those without "dev").
  std::vector<nlohmann::json> Events(const std::string& ev, int dev) const {
    std::vector<nlohmann::json> found;
    for (const nlohmann::json& e : transcript) {
      if (e.value("ev", "") == ev && e.value("dev", 0) == dev) found.push_back(e);
    }
    return found;
  }
};

// Runs `program --transcript <dir>/transcript.jsonl <arguments>` in `dir`, in
// English, with standard input from `input`; `onTerminal`: on a terminal of
// its own (script(1)) that passes `input` on as typed, as a person at a
// prompt has it (standard error then arrives in `out`). Without `transcript`
// (commands that talk to no controller) there is no --transcript.
inline CliRun RunCliIn(const std::filesystem::path& dir, const std::string& program, const std::string& arguments,
                       const std::string& input = "/dev/null", bool onTerminal = false, bool transcript = true) {
  const std::filesystem::path out = dir / "out.txt";
  const std::filesystem::path err = dir / "err.txt";
  const std::filesystem::path transcriptPath = dir / "transcript.jsonl";
  std::filesystem::remove(transcriptPath);
  std::string invocation =
      program + (transcript ? " --transcript " + transcriptPath.string() : std::string()) + " " + arguments;
  if (onTerminal) invocation = "script -qec '" + invocation + "' /dev/null";
  const std::string command = "cd " + dir.string() + " && env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=en_US.UTF-8 " +
                              invocation + " <" + input + " >" + out.string() + " 2>" + err.string();
  const int raw = std::system(command.c_str());
  CliRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  KeepJsonDocument(arguments, run.out);
  std::ifstream lines(transcriptPath);
  for (std::string line; std::getline(lines, line);) {
    run.transcript.push_back(nlohmann::json::parse(line, nullptr, false));
  }
  return run;
}

// Runs the shell command `command`, sends it SIGINT after `delay`, and returns
// its exit status; -1 when it did not exit by itself.
inline int InterruptAfter(const std::string& command, std::chrono::milliseconds delay) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(delay);
  kill(child, SIGINT);
  int raw = 0;
  if (waitpid(child, &raw, 0) != child || !WIFEXITED(raw)) return -1;
  return WEXITSTATUS(raw);
}

}  // namespace tarvik::test
