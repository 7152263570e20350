#include "cli/reason_json.h"

#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <utility>

namespace tarvik {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kStepNames[] = {"", "erase", "chunk", "stamp", "info_request"};

void ReadText(const json& facts, const char* key, std::string& value) {
  const auto it = facts.find(key);
  if (it != facts.end() && it->is_string()) value = it->get<std::string>();
}

void ReadFlag(const json& facts, const char* key, bool& value) {
  const auto it = facts.find(key);
  if (it != facts.end() && it->is_boolean()) value = it->get<bool>();
}

// A damaged journal may hold any number: it is taken only where it fits.
template <typename T>
void ReadNumber(const json& facts, const char* key, T& value) {
  const auto it = facts.find(key);
  if (it == facts.end()) return;
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<T>::max());
  if (it->is_number_unsigned()) {
    const uint64_t n = it->get<json::number_unsigned_t>();
    if (n <= kMax) value = static_cast<T>(n);
  } else if (it->is_number_integer()) {
    const int64_t n = it->get<json::number_integer_t>();
    const bool fits = n >= 0 ? static_cast<uint64_t>(n) <= kMax : n >= static_cast<int64_t>(std::numeric_limits<T>::min());
    if (fits) value = static_cast<T>(n);
  }
}

}  // namespace

json ReasonFactsJson(const Reason& r) {
  json facts = json::object();
  if (r.step != ReasonStep::kNone) facts["step"] = kStepNames[static_cast<int>(r.step)];
  if (r.mcu != ImageMcu::kMain) facts["mcu"] = "atmcu";
  const auto number = [&facts](const char* key, auto value, auto none) {
    if (value != none) facts[key] = value;
  };
  number("record", r.record, 0);
  number("otherRecord", r.otherRecord, 0);
  number("address", r.address, 0u);
  number("percent", r.percent, -1);
  number("bytes", r.bytes, uint64_t{0});
  number("offset", r.offset, uint64_t{0});
  number("total", r.total, uint64_t{0});
  number("count", r.count, 0u);
  number("packets", r.packets, 0u);
  number("seconds", r.seconds, 0u);
  number("imageVersion", r.imageVersion, 0u);
  number("controllerVersion", r.controllerVersion, 0u);
  number("controllerAtVersion", r.controllerAtVersion, 0u);
  number("errorNumber", r.errorNumber, 0);
  if (r.writesAt) facts["writesAt"] = true;
  if (r.beforeStart) facts["beforeStart"] = true;
  for (const auto& [key, text] : {std::pair{"path", &r.path}, std::pair{"product", &r.product},
                                  std::pair{"actual", &r.actual}, std::pair{"expected", &r.expected}}) {
    if (!text->empty()) facts[key] = *text;
  }
  return facts;
}

Reason ReasonFromJson(const std::string& code, const json& facts) {
  Reason r;
  if (!ReasonCodeFromName(code, r.code) || !facts.is_object()) return r;
  std::string step;
  ReadText(facts, "step", step);
  for (size_t i = 1; i < std::size(kStepNames); ++i) {
    if (step == kStepNames[i]) r.step = static_cast<ReasonStep>(i);
  }
  std::string mcu;
  ReadText(facts, "mcu", mcu);
  if (mcu == "atmcu") r.mcu = ImageMcu::kAtMcu;
  ReadNumber(facts, "record", r.record);
  ReadNumber(facts, "otherRecord", r.otherRecord);
  ReadNumber(facts, "address", r.address);
  ReadNumber(facts, "percent", r.percent);
  ReadNumber(facts, "bytes", r.bytes);
  ReadNumber(facts, "offset", r.offset);
  ReadNumber(facts, "total", r.total);
  ReadNumber(facts, "count", r.count);
  ReadNumber(facts, "packets", r.packets);
  ReadNumber(facts, "seconds", r.seconds);
  ReadNumber(facts, "imageVersion", r.imageVersion);
  ReadNumber(facts, "controllerVersion", r.controllerVersion);
  ReadNumber(facts, "controllerAtVersion", r.controllerAtVersion);
  ReadNumber(facts, "errorNumber", r.errorNumber);
  ReadFlag(facts, "writesAt", r.writesAt);
  ReadFlag(facts, "beforeStart", r.beforeStart);
  ReadText(facts, "path", r.path);
  ReadText(facts, "product", r.product);
  ReadText(facts, "actual", r.actual);
  ReadText(facts, "expected", r.expected);
  return r;
}

}  // namespace tarvik
