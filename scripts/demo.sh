#!/usr/bin/env bash
# The updater's main job on a machine without a controller: installs the build
# dependencies, builds, and runs the updater against the simulated controller,
# printing the window's transcript.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release

echo "== Tarvik Update against a simulated boot-mode controller =="
build/release/tarvik-update-cli --simulate boot --transcript - run --press 0 "$@"
