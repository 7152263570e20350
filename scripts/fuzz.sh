#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan+UBSan) in build/fuzz
# and runs each on its seed corpus.
#
#   scripts/fuzz.sh                 a short session: a fixed number of runs per target (CI)
#   scripts/fuzz.sh --long SECONDS  SECONDS per target, by hand
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
)
if ((${#targets[@]} == 0)); then
  targets=(fuzz_image_scan fuzz_report_descriptor fuzz_info_block fuzz_boot_update fuzz_packet_update)
fi

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVIK_FUZZ=ON -DTARVIK_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/crashes"
for target in "${targets[@]}"; do
  work="$build/work/$target"
  mkdir -p "$work"
  args=(-timeout=60 -rss_limit_mb=2048 -print_final_stats=0 "-artifact_prefix=$build/crashes/$target-")
  dict="fuzz/${target#fuzz_}.dict"
  [[ -f $dict ]] && args+=("-dict=$dict")
  if ((long > 0)); then
    args+=("-max_total_time=$long")
  else
    # The same inputs on every run: a CI step that passes or fails by chance tells nothing.
    args+=(-seed=1 "-runs=${short_runs[$target]}")
  fi
  echo "== $target (${args[-1]#-})"
  log="$build/work/$target.log"
  status=0
  "$build/fuzz/$target" "${args[@]}" "$work" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  grep -E '^(\*\*\*|==[0-9]+==|SUMMARY|Done|INFO: seed corpus)' "$log" || true
  # Executions a second, from libFuzzer's "Done N runs in S second(s)".
  awk '/^Done [0-9]+ runs in [0-9]+ second/ { s = $5 < 1 ? 1 : $5; printf "   %d executions a second\n", $2 / s }' "$log"
  if ((status != 0)); then
    echo "$target failed (see $log); the input is in $build/crashes/" >&2
    exit 1
  fi
done
echo "fuzz: all targets clean"
