// The history of flash: one JSON line per attempt appended to a journal in
// the user's state directory, read back by the history command. The journal
// is only ever appended to, never rewritten.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli_output.h"

namespace tarvik {

struct ImageCheck;

// Names a journal other than the user's own; simulated runs write only there.
inline constexpr const char* kHistoryVariable = "TARVIK_UPDATE_HISTORY";

// The journal's file: kHistoryVariable's when set, else (not for simulated
// runs) the one in the user's state directory. Empty: none.
std::string HistoryFileFor(bool simulated);

// One run's journal: safe to record into from several threads at once.
class HistoryJournal {
 public:
  HistoryJournal(std::string file, bool simulated) : m_file(std::move(file)), m_simulated(simulated) {}
  // Appends one attempt as one whole line. `r` null: the image was rejected
  // before any controller; a flash that found no controller is not an
  // attempt. A journal that cannot be written is said once on standard error.
  void Record(const ImageCheck& image, const FlashResult* r);

 private:
  std::mutex m_lock;
  std::string m_file;
  bool m_simulated;
  bool m_warned = false;
};

// The journal as read back: its entries, oldest first, and the numbers of the
// lines that are not entries.
struct HistoryRead {
  bool found = false;   // the file exists
  std::string problem;  // why it could not be read; empty when it could
  std::vector<json> entries;
  std::vector<size_t> damagedLines;
};
HistoryRead ReadHistory(const std::string& file);
// The entries and damaged lines of a journal's text, as ReadHistory reads the file.
HistoryRead ReadHistoryFrom(std::istream& in);
// Whether a journal line's JSON is an entry: it has at least its time, its
// image's name and its result.
bool IsHistoryEntry(const json& entry);
// Whether `entry` is of the controller `selector` names: a UID (hex, with or
// without spaces and colons), a location or a product ("5a3c:7e23").
bool HistoryEntryMatches(const json& entry, const std::string& selector);
// "2026-12-09T02:00:00Z  <UID, location or product>  fw.dat  1.20 -> 1.31  upgraded".
std::string HistoryLine(const json& entry);

// Per platform (history_file_posix.cpp, history_file_win32.cpp):
// an environment variable as UTF-8, empty when unset;
std::string EnvironmentText(const char* name);
// the journal in the user's state directory, empty when there is none;
std::string StateDirectoryJournal();
// `line` appended with one write to `file`, created when missing.
bool AppendWhole(const std::filesystem::path& file, const std::string& line, std::string& problem);

// A UTF-8 path as the file system takes it.
std::filesystem::path PathOfUtf8(const std::string& text);

}  // namespace tarvik
