# What the guest scripts share (sourced, with `guest_name` set to how their
# messages start): failing with a reason, the reading of the guest's console
# (console.log in the current folder) and a verdict per check.

fail() { echo "$guest_name: $*" >&2; exit 1; }

# Prints the guest's console and fails unless the guest ran to its end.
#   guest_ran QEMU_EXIT_STATUS
guest_ran() {
  tr -d '\r' < console.log | grep -v '^\s*$' | sed -e 's/^/guest: /'
  [[ $1 -eq 0 ]] || fail "the guest did not run to its end (qemu exit $1); see $PWD/console.log"
  grep -q GUEST-DONE console.log || fail "the guest stopped early; see $PWD/console.log"
}

# One check's verdict; a failed one makes `status` 1.
#   verdict 1|0 WHAT
status=0
verdict() {
  if [[ $1 -eq 1 ]]; then
    echo "$guest_name: $2: passed"
  else
    echo "$guest_name: $2: FAILED" >&2
    status=1
  fi
}
