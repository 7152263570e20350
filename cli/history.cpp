#include "cli/history.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "base/strformat.h"
#include "cli/cli_output.h"
#include "texts/interface_texts.h"
#include "cli/flash_one.h"
#include "cli/reason_json.h"
#include "texts/reason_texts.h"
#include "update/firmware_version.h"

namespace tarvik {

namespace {

// Now, as "2026-12-09T02:00:00Z".
std::string UtcNow() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  return StrFormat("%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                   static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                   static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                   static_cast<int>(time.seconds().count()));
}

// Sets `key` unless `value` is unknown (empty).
void SetKnown(json& object, const char* key, const std::string& value) {
  if (!value.empty()) object[key] = value;
}

// The reason's code and facts, by which it is shown in the reader's
// language, and its English sentence for a person reading the file.
void SetReason(json& entry, const Reason& reason) {
  if (reason.Empty()) return;
  entry["reason"] = EnglishReasonText(reason);
  entry["code"] = ReasonCodeName(reason.code);
  if (json facts = ReasonFactsJson(reason); !facts.empty()) entry["facts"] = std::move(facts);
}

json Entry(const ImageCheck& image, const FlashResult* r, bool simulated) {
  json entry = {{"time", UtcNow()}};
  if (r != nullptr && !r->product.empty()) {
    json controller = {{"product", r->product}};
    SetKnown(controller, "uid", r->uid);
    SetKnown(controller, "location", r->location);
    entry["controller"] = controller;
  }
  const std::u8string name = PathOfUtf8(image.image.Path()).filename().u8string();
  json file = {{"name", std::string(name.begin(), name.end())}};
  if (image.image.Readable()) file["size"] = image.image.Bytes().size();
  SetKnown(file, "sha256", image.sha256);
  if (image.image.Readable()) {
    file["signature"] = SignatureStatusName(image.signature.status);
    SetKnown(file, "keyId", image.signature.keyId);
  }
  entry["image"] = file;
  if (r != nullptr) {
    if (r->fromWord) entry["from"] = VersionJson(*r->fromWord);
    if (r->toWord) entry["to"] = VersionJson(*r->toWord);
    SetKnown(entry, "action", r->action);
    entry["result"] = r->result;
    SetReason(entry, r->reason);
    if (r->outcome) entry["seconds"] = r->outcome->seconds;
    SetKnown(entry, "pace", r->pace);
  } else {
    if (image.image.Accepted()) entry["to"] = VersionJson(image.version);
    entry["result"] = "rejected";
    SetReason(entry, image.reason);
  }
  if (simulated) entry["simulated"] = true;
  return entry;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return text;
}

// A UID as list shows it or as typed: lower-case hex digits only.
std::string UidDigits(const std::string& text) {
  std::string digits;
  for (const char c : text) {
    if (c != ' ' && c != ':') digits.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return digits;
}

std::string Text(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The journal's entries nest two deep. A line nested deeper than this is
// damaged. Copying or printing a value recurses once a level, so a deep
// enough one would overflow the stack.
constexpr int kMaxEntryDepth = 32;

// A journal line as JSON; discarded when it is not JSON or nests too deep.
json ParseLine(const std::string& line) {
  bool tooDeep = false;
  const json::parser_callback_t depth = [&tooDeep](int level, json::parse_event_t, json&) {
    tooDeep = tooDeep || level > kMaxEntryDepth;
    return !tooDeep;
  };
  json entry = json::parse(line, depth, false);
  return tooDeep ? json(json::value_t::discarded) : entry;
}

json Controller(const json& entry) {
  const auto it = entry.find("controller");
  return it != entry.end() ? *it : json::object();
}

}  // namespace

std::filesystem::path PathOfUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string HistoryFileFor(bool simulated) {
  if (std::string named = EnvironmentText(kHistoryVariable); !named.empty()) return named;
  // A simulated controller's update is no controller's history.
  return simulated ? std::string() : StateDirectoryJournal();
}

void HistoryJournal::Record(const ImageCheck& image, const FlashResult* r) {
  if (m_file.empty() || (r != nullptr && r->result == "no controller")) return;
  const std::string line = Entry(image, r, m_simulated).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> guard(m_lock);
  const std::filesystem::path file = PathOfUtf8(m_file);
  std::error_code ignored;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
  std::string problem;
  if (AppendWhole(file, line, problem) || m_warned) return;
  m_warned = true;
  std::fprintf(stderr, Tr("tarvik-update-cli: warning: the history could not be written to %s: %s\n"), m_file.c_str(),
               Tr(problem.c_str()));
}

HistoryRead ReadHistory(const std::string& file) {
  HistoryRead read;
  const std::filesystem::path path = PathOfUtf8(file);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return read;
  read.found = true;
  std::ifstream in(path, std::ios::binary);
  if (error || std::filesystem::is_directory(status) || !in) {
    read.problem = StrFormat(Tr("the history %s cannot be read"), file.c_str());
    return read;
  }
  return ReadHistoryFrom(in);
}

bool IsHistoryEntry(const json& entry) {
  if (!entry.is_object() || Text(entry, "time").empty() || Text(entry, "result").empty()) return false;
  const auto image = entry.find("image");
  if (image == entry.end() || !image->is_object() || Text(*image, "name").empty()) return false;
  const auto controller = entry.find("controller");
  return controller == entry.end() || controller->is_object();
}

HistoryRead ReadHistoryFrom(std::istream& in) {
  HistoryRead read;
  read.found = true;
  size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    json entry = ParseLine(line);
    if (entry.is_discarded() || !IsHistoryEntry(entry)) {
      read.damagedLines.push_back(number);
    } else {
      read.entries.push_back(std::move(entry));
    }
  }
  return read;
}

bool HistoryEntryMatches(const json& entry, const std::string& selector) {
  const json controller = Controller(entry);
  const std::string uid = UidDigits(Text(controller, "uid"));
  if (!uid.empty() && uid == UidDigits(selector)) return true;
  const std::string location = Text(controller, "location");
  if (!location.empty() && location == selector) return true;
  const std::string product = Text(controller, "product");
  return !product.empty() && Lower(product) == Lower(selector);
}

std::string HistoryLine(const json& entry) {
  const json controller = Controller(entry);
  std::string who = Text(controller, "uid");
  if (who.empty()) who = Text(controller, "location");
  if (who.empty()) who = Text(controller, "product");
  if (who.empty()) who = Tr("(no controller)");
  const json image = entry["image"];
  const std::string from = Text(entry.value("from", json::object()), "text");
  const std::string to = Text(entry.value("to", json::object()), "text");
  std::string line = Text(entry, "time") + "  " + who + "  " + Text(image, "name") + "  " +
                     (from.empty() ? "?" : from) + " -> " + (to.empty() ? "?" : to) + "  " + ResultWord(Text(entry, "result"));
  // A reason with its code is worded anew in the reader's language. A line
  // written before codes were kept shows its English sentence as it is.
  const Reason reason = ReasonFromJson(Text(entry, "code"), entry.value("facts", json::object()));
  const std::string stored = Text(entry, "reason");
  const std::string text = !reason.Empty() ? CliReasonText(reason) : stored.empty() ? std::string() : Tr(stored.c_str());
  if (!text.empty()) line = StrFormat(Tr("%s (%s)"), line.c_str(), text.c_str());
  return line;
}

}  // namespace tarvik
