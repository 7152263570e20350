// A reason as the journal keeps it: its code and its facts, as JSON. Only
// the facts a reason has are written; a missing one reads as none.
#pragma once

#include <nlohmann/json.hpp>

#include "update/update_reason.h"

namespace tarvik {

// {"record": 1, "address": 134234112, ...}: the facts that are set.
nlohmann::ordered_json ReasonFactsJson(const Reason& reason);
// The reason of `code` with `facts`; empty for a code no reason has.
Reason ReasonFromJson(const std::string& code, const nlohmann::ordered_json& facts);

}  // namespace tarvik
