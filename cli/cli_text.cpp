#include "cli/cli_text.h"

namespace tarvik {

const char* Tr(const char* english) { return english; }

const char* TrN(const char* singular, const char* plural, unsigned long n) { return n == 1 ? singular : plural; }

}  // namespace tarvik
