#!/usr/bin/env bash
# Runs, as written, every tarvik-update-cli command line of the README's CLI
# section and of the manual page's EXAMPLES, against this build: the program
# and the sample images are the build's, everything else is the reader's line.
#   examples_test.sh CLI SAMPLES_DIR WORK_DIR README MANPAGE
set -euo pipefail
cli=$1 samples=$2 work=$3 readme=$4 manpage=$5
# The examples write into build/ of the folder they run in.
mkdir -p "$work/build"
fail() { echo "examples: $*" >&2; exit 1; }

# The README's: the sh blocks of the "## tarvik-update-cli" section. A
# line's exit status is 0, or the one its comment names: "(exit 4)".
readme_lines=$(awk '
  /^## / { in_cli = ($0 == "## tarvik-update-cli") }
  in_cli && /^```/ { fenced = !fenced; next }
  in_cli && fenced && /^# / { status = match($0, /\(exit [0-9]+\)/) ? substr($0, RSTART + 6, RLENGTH - 7) : 0 }
  in_cli && fenced && /^build\/release\/bin\/tarvik-update-cli / { print status "\t" $0 }
' "$readme")
# The manual page's: the EXAMPLES section, roff escapes undone.
man_lines=$(awk '
  /^\.SH/ { in_examples = ($2 == "EXAMPLES") }
  in_examples && /^tarvik\\-update\\-cli / { print }
' "$manpage" | sed 's/\\-/-/g')

(( $(wc -l <<<"$readme_lines") >= 5 )) || fail "the README's CLI section shows fewer examples than it did"
[[ -n "$man_lines" ]] || fail "the manual page shows no example"

# The package installs the sample images without their signatures.
mkdir -p "$work/examples"
cp "$samples"/*.dat "$work/examples/"

run() {  # where, expected exit status, line
  local line=$3 status=0
  line=${line//build\/release\/bin\/tarvik-update-cli/$cli}
  line=${line//build\/release\/samples\/images/$samples}
  line=${line//\/usr\/share\/doc\/tarvik-update\/examples/$work\/examples}
  line=${line/#tarvik-update-cli /$cli }
  (cd "$work" && bash -c "$line" </dev/null >"$work/out.txt" 2>"$work/err.txt") || status=$?
  [[ $status == "$2" ]] || fail "$1: exit $status, not $2, from: $3"$'\n'"$(cat "$work/err.txt")"
}
while IFS=$'\t' read -r status line; do run README "$status" "$line"; done <<<"$readme_lines"
while IFS= read -r line; do run "manual page" 0 "$line"; done <<<"$man_lines"
echo "examples: $(wc -l <<<"$readme_lines") of the README and $(wc -l <<<"$man_lines") of the manual page run"
