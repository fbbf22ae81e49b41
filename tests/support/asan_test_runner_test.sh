#!/bin/sh
# The AddressSanitizer tree's test runner turns dynamic-TLS tracking off, and
# reruns a test only for the leak checker's tracer crash, and only once; every
# other failure stands.
# usage: asan_test_runner_test.sh <runner>
set -u
runner=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tev-runner-test.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
failures=0

# A fake test: prints $2 on its first $1 runs and fails then, passes after;
# it fails whenever the runner left dynamic-TLS tracking on.
cat >"$scratch/fake" <<'FAKE'
#!/bin/sh
case ":${ASAN_OPTIONS:-}:" in *:intercept_tls_get_addr=0:*) ;; *) echo "ASAN_OPTIONS=${ASAN_OPTIONS:-}"; exit 1 ;; esac
runs=$(cat "$0.runs" 2>/dev/null || echo 0); runs=$((runs + 1)); echo "$runs" >"$0.runs"
if [ "$runs" -le "$1" ]; then printf '%b\n' "$2" >&2; exit 1; fi
echo passed
FAKE
chmod +x "$scratch/fake"

expect() {  # expect <exit status> <runs> <failing runs> <text printed when failing>
    rm -f "$scratch/fake.runs"
    "$runner" "$scratch/fake" "$3" "$4" >"$scratch/out" 2>&1
    status=$?
    runs=$(cat "$scratch/fake.runs" 2>/dev/null || echo 0)
    if [ "$status" -ne "$1" ] || [ "$runs" -ne "$2" ]; then
        echo "FAIL: '$4' failing $3 time(s): exit $status after $runs run(s), expected exit $1 after $2"
        cat "$scratch/out"
        failures=$((failures + 1))
    fi
}

crash='Tracer caught signal 11: addr=0x240\n==1==LeakSanitizer has encountered a fatal error.'
expect 0 2 1 "$crash"                                        # one tracer crash: rerun, passes
expect 1 2 2 "$crash"                                        # a second one stands
expect 1 1 1 "ERROR: LeakSanitizer: detected memory leaks"   # a leak is no reason to rerun
expect 1 1 1 "ERROR: AddressSanitizer: heap-use-after-free\n$crash"
expect 1 1 1 "Expected equality of these values"             # an ordinary failure
expect 0 1 0 ""                                              # a pass runs once
exit "$failures"
