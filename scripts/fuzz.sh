#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan+UBSan) in build/fuzz
# and runs each on its seed corpus; the whole-update targets explore first in
# build/fuzz-fast, without the sanitizers.
#
#   scripts/fuzz.sh                 a short session: a fixed number of runs per target (CI)
#   scripts/fuzz.sh --long SECONDS  SECONDS per target and phase, by hand
#   scripts/fuzz.sh ... TARGET...   only these targets (fuzz_image_scan, ...)
#
# Every target stops on a crash and on a wrong result (fuzz/fuzz_support.h).
# New inputs go to build/fuzz/work/<target>, crashes to build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
targets=()
while (($#)); do
  case $1 in
    --long) long=$2; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

# Runs in the short session, by target: a few seconds to a minute each.
declare -A short_runs=(
  [fuzz_image_scan]=200000
  [fuzz_report_descriptor]=300000
  [fuzz_info_block]=10000
  [fuzz_boot_update]=8000
  [fuzz_packet_update]=6000
  [fuzz_transcript]=20000
  [fuzz_history]=10000
  [fuzz_signature_files]=100000
)
if ((${#targets[@]} == 0)); then
  targets=(fuzz_image_scan fuzz_report_descriptor fuzz_info_block fuzz_boot_update fuzz_packet_update
    fuzz_transcript fuzz_history fuzz_signature_files)
fi

build=build/fuzz
# The whole-update targets first explore in a build without the sanitizers
# (several times the executions a second); the sanitized session that follows
# starts by running every input found there, so each is checked under
# AddressSanitizer and UBSan too.
declare -A fast_runs=(
  [fuzz_boot_update]=60000
  [fuzz_packet_update]=60000
)
fast=build/fuzz-fast
fast_targets=()
for target in "${targets[@]}"; do
  [[ -n ${fast_runs[$target]:-} ]] && fast_targets+=("$target")
done
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVIK_FUZZ=ON -DTARVIK_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"
if ((${#fast_targets[@]} > 0)); then
  cmake -S . -B "$fast" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIK_FUZZ=ON -DTARVIK_FUZZ_SANITIZERS=OFF -DTARVIK_WERROR=ON >/dev/null
  cmake --build "$fast" -j 2 --target "${fast_targets[@]}"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/crashes"

# Runs one session: fuzz_session LABEL PROGRAM RUNS WORK LOG. Prints what
# libFuzzer reports and the executions a second; stops the script on a failure.
fuzz_session() {
  local label=$1 program=$2 runs=$3 work=$4 log=$5 target
  target=$(basename "$program")
  local args=(-timeout=60 -rss_limit_mb=2048 -print_final_stats=0 "-artifact_prefix=$build/crashes/$target-")
  local dict="fuzz/${target#fuzz_}.dict"
  [[ -f $dict ]] && args+=("-dict=$dict")
  if ((long > 0)); then
    args+=("-max_total_time=$long")
  else
    # The same inputs on every run: a CI step that passes or fails by chance tells nothing.
    args+=(-seed=1 "-runs=$runs")
  fi
  echo "== $target, $label (${args[-1]#-})"
  local status=0 start end
  start=$(date +%s%N)
  "$program" "${args[@]}" "$work" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  end=$(date +%s%N)
  grep -E '^(\*\*\*|==[0-9]+==|SUMMARY|Done|INFO: seed corpus)' "$log" || true
  # Executions a second over the whole session, from libFuzzer's "Done N runs".
  awk -v ns=$((end - start)) '/^Done [0-9]+ runs/ { printf "   %d executions a second\n", $2 / (ns / 1e9) }' "$log"
  if ((status != 0)); then
    echo "$target failed (see $log); the input is in $build/crashes/" >&2
    exit 1
  fi
}

for target in "${targets[@]}"; do
  work="$build/work/$target"
  mkdir -p "$work"
  if [[ -n ${fast_runs[$target]:-} ]]; then
    fuzz_session "without sanitizers" "$fast/fuzz/$target" "${fast_runs[$target]}" "$work" "$build/work/$target.fast.log"
  fi
  fuzz_session "with AddressSanitizer and UBSan" "$build/fuzz/$target" "${short_runs[$target]}" "$work" \
    "$build/work/$target.log"
done
echo "fuzz: all targets clean"
