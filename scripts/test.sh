#!/usr/bin/env bash
# Installs the build dependencies, builds everything with warnings as errors
# and runs every test: a plain build, then AddressSanitizer+UBSan, then
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local name=$1
  shift
  echo "== ${name} =="
  cmake -S . -B "build/${name}" -G Ninja -DTARVIK_WERROR=ON "$@" >/dev/null
  cmake --build "build/${name}" -j "${jobs}"
  ctest --test-dir "build/${name}" --output-on-failure -j "${jobs}"
}

run_suite test -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0" \
  run_suite asan -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=address
# Qt itself is not built for ThreadSanitizer (its locks are invisible to it):
# the thread-checked run covers everything but the desktop window.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_suite tsan -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=thread -DTARVIK_BUILD_DESKTOP=OFF
scripts/fuzz.sh  # the fuzz targets with clang, a short session each

# The Windows executable and the engine's tests for Windows, cross-built and run under Wine.
scripts/test-windows.sh
# The same Windows programs under Wine in the kernel test's guest, updating
# controllers played on USB gadgets through Wine's HID stack and hidraw.
tests/kernel/wine_in_guest.sh build/test/tests/kernel build/win build/wine-guest

# The web page built with emscripten, and its tests in headless Chromium.
scripts/web.sh --test
