# What the guest scripts share (sourced, with `guest_name` set to how their
# messages start): failing with a reason, the reading of the guest's console
# (console.log in the current folder) and the checks of what it printed.

fail() { echo "$guest_name: $*" >&2; exit 1; }

# Prints the guest's console and fails unless the guest ran to its end.
#   guest_ran QEMU_EXIT_STATUS
guest_ran() {
  tr -d '\r' < console.log | grep -v '^\s*$' | sed -e 's/^/guest: /'
  [[ $1 -eq 0 ]] || fail "the guest did not run to its end (qemu exit $1); see $PWD/console.log"
  grep -q GUEST-DONE console.log || fail "the guest stopped early; see $PWD/console.log"
}

# One check: passes when the guest's console (its line ends without CR) has
# a line matching each of PATTERNS (grep's basic expressions); a failed check
# makes `status` 1.
#   expect WHAT PATTERN...
status=0
expect() {
  local what=$1 pattern
  shift
  for pattern in "$@"; do
    if ! grep -q -- "$pattern" <(tr -d '\r' < console.log); then
      echo "$guest_name: $what: FAILED (no line \"$pattern\")" >&2
      status=1
      return
    fi
  done
  echo "$guest_name: $what: passed"
}
