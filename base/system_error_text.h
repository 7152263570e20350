// The system's text for an error number, always in English. A run in another
// language translates it from its own catalogue where that knows the text.
#pragma once

#include <string>

namespace tarvik {

std::string SystemErrorText(int errorNumber);

}  // namespace tarvik
