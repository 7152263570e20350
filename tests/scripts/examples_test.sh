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

# The README's: the sh blocks of the "## tarvik-update-cli" section.
readme_lines=$(awk '
  /^## / { in_cli = ($0 == "## tarvik-update-cli") }
  in_cli && /^```/ { fenced = !fenced; next }
  in_cli && fenced && /^build\/release\/bin\/tarvik-update-cli / { print }
' "$readme")
# The manual page's: the EXAMPLES section, roff escapes undone.
man_lines=$(awk '
  /^\.SH/ { in_examples = ($2 == "EXAMPLES") }
  in_examples && /^tarvik\\-update\\-cli / { print }
' "$manpage" | sed 's/\\-/-/g')

(( $(wc -l <<<"$readme_lines") >= 5 )) || fail "the README's CLI section shows fewer examples than it did"
[[ -n "$man_lines" ]] || fail "the manual page shows no example"

run() {  # where, line
  local line=$2
  line=${line//build\/release\/bin\/tarvik-update-cli/$cli}
  line=${line//build\/release\/samples\/images/$samples}
  line=${line//\/usr\/share\/doc\/tarvik-update\/examples/$samples}
  line=${line/#tarvik-update-cli /$cli }
  (cd "$work" && bash -c "$line" </dev/null >"$work/out.txt" 2>"$work/err.txt") ||
    fail "$1: exit $? from: $2"$'\n'"$(cat "$work/err.txt")"
}
while IFS= read -r line; do run README "$line"; done <<<"$readme_lines"
while IFS= read -r line; do run "manual page" "$line"; done <<<"$man_lines"
echo "examples: $(wc -l <<<"$readme_lines") of the README and $(wc -l <<<"$man_lines") of the manual page run"
