#!/usr/bin/env bash
# The updater's main job on a machine without a controller: installs the build
# dependencies, builds, and opens the updater's window on a simulated
# controller, with sample firmware images in its file dialog. Options are
# passed on to tarvik-update-demo (e.g. --simulate packet1, --sim erase.busy=3).
# Without a display, the same window logic runs headless and prints its transcript.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo "== Tarvik Update on a simulated boot-mode controller: press \"USB Update\" and pick a sample image =="
  exec build/release/bin/tarvik-update-demo "$@"
fi

echo "== No display: Tarvik Update's window logic, headless, updating a simulated boot-mode controller =="
build/release/bin/tarvik-update-cli --simulate boot --sim clock=virtual --transcript - \
  run --image build/release/samples/images/boot-two-mcus-v1.31.dat
