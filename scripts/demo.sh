#!/usr/bin/env bash
# The updater's main job on a machine without a controller: installs what
# building and opening the demo needs, builds, and opens the updater's window
# on a simulated controller, with sample firmware images in its file dialog.
# Options are passed on to tarvik-update-demo (e.g. --simulate packet1,
# --sim erase.busy=3). Without a display, the same window logic runs headless:
# a short account of the update is printed and the full transcript kept.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo "== Tarvik Update on a simulated boot-mode controller: press \"USB Update\" and pick a sample image =="
  exec build/release/bin/tarvik-update-demo "$@"
fi

transcript=build/release/demo-transcript.jsonl
echo "== No display: Tarvik Update's window logic, headless, updating a simulated boot-mode controller =="
status=0
build/release/bin/tarvik-update-cli --simulate boot --sim clock=virtual --transcript "$transcript" \
  run --image build/release/samples/images/boot-two-mcus-v1.31.dat 2>build/release/demo-stderr.txt || status=$?
scripts/transcript-summary.sh "$transcript"
# Trace lines went into the transcript; a failure's reason is shown.
grep '^tarvik-update-cli:' build/release/demo-stderr.txt >&2 || true
echo "Full transcript (every report, window operation and trace line): $transcript"
exit "$status"
