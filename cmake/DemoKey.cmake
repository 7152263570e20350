# The demo's own signing key. Each build tree makes its own pair with
# minisign, once. The sample images are signed by it, and only the demo, the
# command line's simulated controllers and the page's simulated controllers
# trust it. The secret key never leaves the build tree.
find_program(TARVIK_MINISIGN minisign REQUIRED)
set(TARVIK_DEMO_KEY_DIR ${PROJECT_BINARY_DIR}/demo-key)
set(TARVIK_DEMO_SECRET_KEY ${TARVIK_DEMO_KEY_DIR}/demo.key CACHE INTERNAL "The demo key that signs the sample images")
set(TARVIK_DEMO_PUBLIC_KEY ${TARVIK_DEMO_KEY_DIR}/demo.pub CACHE INTERNAL "The demo key's public key file")
if(NOT EXISTS ${TARVIK_DEMO_SECRET_KEY} OR NOT EXISTS ${TARVIK_DEMO_PUBLIC_KEY})
  file(MAKE_DIRECTORY ${TARVIK_DEMO_KEY_DIR})
  file(REMOVE ${TARVIK_DEMO_SECRET_KEY} ${TARVIK_DEMO_PUBLIC_KEY})
  # -W: no password, so that the build signs without asking.
  execute_process(COMMAND ${TARVIK_MINISIGN} -G -W -p demo.pub -s demo.key
    WORKING_DIRECTORY ${TARVIK_DEMO_KEY_DIR} OUTPUT_QUIET RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "minisign could not make the demo key in ${TARVIK_DEMO_KEY_DIR}")
  endif()
  # The public key's first line is a comment nothing signs: it names the key.
  file(STRINGS ${TARVIK_DEMO_PUBLIC_KEY} lines)
  list(GET lines 1 key)
  file(WRITE ${TARVIK_DEMO_PUBLIC_KEY} "untrusted comment: Tarvik Update demo key\n${key}\n")
endif()
file(READ ${TARVIK_DEMO_PUBLIC_KEY} TARVIK_DEMO_KEY_TEXT)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/demo_key.cpp @ONLY CONTENT [[
// Written by CMake from this build's demo key.
#include "samples/demo_key.h"
namespace tarvik {
const char* const kDemoTrustedKey = R"key(@TARVIK_DEMO_KEY_TEXT@)key";
}  // namespace tarvik
]])
add_library(tarvik_demo_key STATIC ${PROJECT_BINARY_DIR}/demo_key.cpp)
target_include_directories(tarvik_demo_key PUBLIC ${PROJECT_SOURCE_DIR})
