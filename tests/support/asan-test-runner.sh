#!/bin/sh
# Runs one test command of the AddressSanitizer tree.
#
# The leak checker's tracer, which scans every thread's memory at a process's
# exit, intermittently crashes ("Tracer caught signal 11" then "LeakSanitizer
# has encountered a fatal error") on a dynamic-TLS record holding garbage. It
# happens in test binaries and in the tev-host they run, after the test has
# passed, and says nothing about the code under test. So:
#  - dynamic-TLS tracking is off (intercept_tls_get_addr=0) for the test and
#    every process it starts. That can only add leak reports, never hide one:
#    the plug-in's thread_local data is no longer a root of the scan.
#  - a test whose only fault is still such a crash is run once more. A failure
#    with any sanitizer report, or a second crash, stands.
#
# usage: asan-test-runner.sh <command> [<argument> ...]
set -u

ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0"
export ASAN_OPTIONS

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
    echo "asan-test-runner: the leak checker's tracer crashed at a process's exit; running the test once more"
    "$@"
    status=$?
fi
exit "$status"
