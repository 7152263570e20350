// The history journal's reader (tarvik-update-cli history) on arbitrary
// bytes, and each entry it takes as the history command shows it. The texts
// are Chinese, so that every reason is worded anew from its code and facts.
//
// Checks: each line that is not blank is an entry or a damaged line, in the
// file's order, and an entry is the JSON of its line. An entry has the time,
// result and image name the history command shows, and its line starts with
// that time. An entry is found by its own controller's UID, location and
// product. The entries written back as the journal writes them read back as
// the same text, with no damaged line.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "texts/interface_texts.h"
#include "cli/history.h"
#include "fuzz/fuzz_support.h"

using namespace tarvik;

namespace {

constexpr uint16_t kChinese = 2052;

// The lines of `text` as std::getline reads them, without the '\r' of a CRLF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    from = end + 1;
  }
  return lines;
}

bool Blank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

std::string Field(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The UID's digits as a selector gives them: without spaces and colons.
bool HasUidDigits(const std::string& uid) { return uid.find_first_not_of(" :") != std::string::npos; }

// The entries as the journal writes them, a line each.
std::string Written(const std::vector<json>& entries) {
  std::string text;
  for (const json& entry : entries) text += entry.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  return text;
}

HistoryRead Read(const std::string& text) {
  std::istringstream in(text);
  return ReadHistoryFrom(in);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The catalogue is compiled into the build tree, where the target finds it.
  fuzz::Check(ChooseTextLanguage(kChinese) == kChinese, "the Chinese catalogue was not found");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const HistoryRead read = Read(text);
  fuzz::Check(read.found && read.problem.empty(), "a journal's text that cannot be read");

  const std::vector<std::string> lines = Lines(text);
  size_t entries = 0;
  size_t damaged = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Blank(lines[i])) continue;
    if (damaged < read.damagedLines.size() && read.damagedLines[damaged] == i + 1) {
      ++damaged;
      continue;
    }
    fuzz::Check(entries < read.entries.size(), "a line that is neither an entry nor damaged");
    fuzz::Check(read.entries[entries] == json::parse(lines[i], nullptr, false), "an entry that is not its line");
    ++entries;
  }
  fuzz::Check(damaged == read.damagedLines.size(), "a damaged line that is blank, out of order or past the end");
  fuzz::Check(entries == read.entries.size(), "more entries than lines");

  for (const json& entry : read.entries) {
    fuzz::Check(IsHistoryEntry(entry), "an entry the history command cannot show");
    fuzz::Check(HistoryLine(entry).rfind(Field(entry, "time"), 0) == 0, "a history line without its time first");
    const auto controller = entry.find("controller");
    if (controller == entry.end()) continue;
    const std::string uid = Field(*controller, "uid");
    const std::string location = Field(*controller, "location");
    const std::string product = Field(*controller, "product");
    fuzz::Check(!HasUidDigits(uid) || HistoryEntryMatches(entry, uid), "an entry not found by its UID");
    fuzz::Check(location.empty() || HistoryEntryMatches(entry, location), "an entry not found by its location");
    fuzz::Check(product.empty() || HistoryEntryMatches(entry, product), "an entry not found by its product");
  }

  const std::string written = Written(read.entries);
  const HistoryRead again = Read(written);
  fuzz::Check(again.damagedLines.empty(), "an entry written back reads as damaged");
  fuzz::Check(Written(again.entries) == written, "an entry written back reads as another");
  return 0;
}
