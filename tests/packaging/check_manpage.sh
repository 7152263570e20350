#!/usr/bin/env bash
# Keeps a manual page in step with the program's --help: every option and
# command --help shows is in the page, and the page shows no option that
# --help does not know; every --sim key --help-sim lists is in the page too.
#   check_manpage.sh PAGE PROGRAM [COMMAND...]
# PAGE is the roff source; each COMMAND's own --help is read too. Runs with no
# display, as on a server: --help must not need one.
set -euo pipefail
page=$1 program=$2
shift 2
fail() { echo "manpage $(basename "$page"): $*" >&2; exit 1; }

help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help) ||
  fail "$(basename "$program") --help failed without a display"
for command in "$@"; do
  help+=$'\n\n'$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$command" --help) ||
    fail "$(basename "$program") $command --help failed"
done

# The --sim keys have a help page of their own where --help names one.
if grep -q -- '--help-sim' <<<"$help"; then
  help+=$'\n\n'$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help-sim) ||
    fail "$(basename "$program") --help-sim failed"
fi

# Options as --help lists them ("  -y,--yes  ..."), and as the page writes them (\-y, \-\-yes).
help_options=$(grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' <<<"$help" | sed 's/^[ ,]//' | sort -u)
# Only where the page describes the program's options (FILES may quote other programs').
described=$(awk '/^\.SH/ { keep = ($2 == "SYNOPSIS" || $2 == "COMMANDS" || $2 == "OPTIONS") } keep' "$page")
page_options=$(grep -oE '\\-(\\-)?[a-zA-Z][a-zA-Z0-9-]*' <<<"$described" | sed 's/\\-/-/g' | sort -u)
# Qt's own options, which the page mentions and --help only names in passing.
page_options=$(grep -vxE -- '-platform|-style' <<<"$page_options" || true)
help_options=$(grep -vxE -- '-platform|-style' <<<"$help_options" || true)
missing=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
unknown=$(comm -13 <(echo "$help_options") <(echo "$page_options"))
[[ -z "$missing" ]] || fail "--help has options the page lacks: $(echo $missing)"
[[ -z "$unknown" ]] || fail "the page has options --help does not know: $(echo $unknown)"

# Commands: --help lists them under "Subcommands:"; the page has each in bold.
commands=$(sed -n '/^Subcommands:/,/^$/p' <<<"$help" | awk 'NF && !/^Subcommands:/ { print $1 }')
for command in $commands; do
  grep -qx "\.B $command" <<<"$described" ||
    fail "the page does not describe the command $command"
done
[[ "$(echo $commands)" == "$*" ]] || fail "--help lists the commands $(echo $commands); the test reads $*"

# The simulated controllers' keys: --help lists one a line under "Keys of --sim"; the page names each.
keys=$(sed -n '/^Keys of --sim/,/^$/p' <<<"$help" | grep -oE '^  [a-z][a-z.]*' | sed 's/^  //' || true)
plain=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
for key in $keys; do
  grep -qF "$key=" <<<"$plain" || fail "the page does not list the --sim key $key"
done

# The page's version is the program's, where the program tells it.
if version=$(env -u DISPLAY -u QT_QPA_PLATFORM "$program" --version 2>/dev/null); then
  version=${version##* }  # "tarvik-update-cli 2.0.0" or "2.0.0"
  grep -q "^\.TH .* \"Tarvik Update $version\"" "$page" || fail "the page is not of version $version"
fi
echo "manpage $(basename "$page"): in step with $(basename "$program") --help"
