#!/bin/sh
# Runs one test command of the AddressSanitizer tree and reruns it once when
# its only fault is the leak checker's own tracer crashing at a process's exit
# ("Tracer caught signal ..." then "LeakSanitizer has encountered a fatal
# error"). That crash happens before any leak is looked at, in the test binary
# or in a tev-host it runs, and says nothing about the code under test. A
# failure with any sanitizer report, or a second tracer crash, stands.
#
# usage: rerun-on-leak-tracer-crash.sh <command> [<argument> ...]
set -u

output=$(mktemp "${TMPDIR:-/tmp}/tev-test-output.XXXXXX") || exec "$@"
trap 'rm -f "$output"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$@" >"$output" 2>&1
status=$?
cat "$output"

if [ "$status" -ne 0 ] \
   && grep -q "Tracer caught signal" "$output" \
   && grep -q "LeakSanitizer has encountered a fatal error" "$output" \
   && ! grep -q "ERROR: AddressSanitizer\|ERROR: LeakSanitizer\|runtime error:" "$output"; then
    echo "rerun-on-leak-tracer-crash: the leak checker's tracer crashed at a process's exit; running the test once more"
    "$@"
    status=$?
fi
exit "$status"
