#!/usr/bin/env bash
# The account scripts/demo.sh prints without a display, from the transcripts
# of real runs of tarvik-update-cli on the simulated controller.
#   demo_summary_test.sh CLI SAMPLES_DIR WORK_DIR
set -euo pipefail
cli=$1 samples=$2 work=$3
summary=$(dirname "$0")/../../scripts/transcript-summary.sh
mkdir -p "$work"
fail() { echo "demo summary: $*" >&2; echo "$account" >&2; exit 1; }

account_of() {  # CLI arguments... -> the account of that run
  "$cli" --simulate boot --sim clock=virtual --transcript "$work/t.jsonl" "$@" >/dev/null 2>&1 || true
  account=$("$summary" "$work/t.jsonl")
}

account_of run --image "$samples/boot-two-mcus-v1.31.dat"
expected='Window:       Tarvik Update v2.00 (Fw v1.20 r5)
Image picked: '"$samples"'/boot-two-mcus-v1.31.dat
Confirmation: "Fw 1.31 and current is 1.20 ATmcu 1.12 and current is 1.10 Signed by Tarvik Update demo key" -> OK
Progress:     10% 20% 30% 40% 50% 60% 70% 80% 90% 100%
Message:      "Firmware upgraded!"
Controller:   restarted after its reset (left the bus)'
[[ "$account" == "$expected" ]] || fail "the account of an update differs"
(( $(wc -c <<<"$account") < 480 )) || fail "the account is not short"

account_of run --image "$samples/boot-two-mcus-v1.31.dat" --confirm no
[[ "$account" == *'-> Cancel'* && "$account" != *Progress* ]] || fail "a cancelled confirmation shows progress"

account_of --sim unplug.after=40 run --image "$samples/boot-two-mcus-v1.31.dat"
[[ "$account" == *'Controller:   left the bus'* && "$account" == *'Message:      "Firmware update failure The controller was disconnected at '* ]] ||
  fail "an unplug during the update is not told"
[[ "$account" == *'Hold the pair button, plug it in again'* ]] || fail "an unplug during the update tells no way back"
[[ "$account" != *upgraded* ]] || fail "an unplugged update is told as a success"
echo "demo summary: accounts of an update, a cancelled and an unplugged one"
