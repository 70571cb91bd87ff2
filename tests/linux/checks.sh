# Sourced by the shell tests: each check is one line, "ok   WHAT" or
# "FAIL WHAT", and the test's status says whether any failed.
failures=0
check() {  # check WHAT CONDITION...
    local what="$1"; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
checks_passed() { [ "$failures" -eq 0 ]; }
