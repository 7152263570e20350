// How every front end words a reason: one sentence for each code, filled
// with the reason's facts, and the next step for each code. The sentences
// are the catalogue's. They start lower-case, as a part of a longer line.
#pragma once

#include <string>

#include "update/update_reason.h"

namespace tarvik {

// The sentence for `reason` in the interface language. A problem with an
// image's bytes names the image when the reason has its path:
// "fw.dat is not a valid image: the file is empty".
std::string ReasonText(const Reason& reason);
// The same in English, whatever the run speaks: a transcript keeps it so.
std::string EnglishReasonText(const Reason& reason);
// What the person can do next, one sentence in the interface language.
std::string ReasonNextStep(ReasonCode code);

}  // namespace tarvik
