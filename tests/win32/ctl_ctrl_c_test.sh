#!/usr/bin/env bash
# q417ctl watch ends cleanly on Ctrl+C: Wine hands a console program's SIGINT to it as Ctrl+C, as
# a console window does with the keys. Watch runs beside the device API library's test double
# (which logs every call), prints the selectors' state, and on Ctrl+C ends its loop, closes the
# library and exits with 0 and nothing on standard error.
# Arguments: the test programs' folder (q417ctl.exe beside the double). Runs inside tools/test.
set -euo pipefail
testbin=$1
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -9 $pid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# One selector, id 5: the worked example's packet.
printf 'state 010000000500000004030201000000000104011900\n' > "$work/script"
NVQ417_DOUBLE_SCRIPT=$(winepath -w "$work/script") NVQ417_DOUBLE_LOG=$(winepath -w "$work/log") \
  wine "$testbin/q417ctl.exe" watch --json > "$work/out" 2> "$work/err" &
pid=$!

for _ in $(seq 600); do
  grep -q '"event":"present"' "$work/out" 2>/dev/null && break
  kill -0 $pid 2>/dev/null || fail "watch ended by itself: $(cat "$work/err")"
  sleep 0.1
done
grep -q '"event":"present","id":5,' "$work/out" || fail "no present line within 60 s: $(cat "$work/out")"

kill -INT $pid
for _ in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "watch still runs 30 s after Ctrl+C"
rc=0
wait $pid || rc=$?
pid=
[ $rc = 0 ] || fail "watch ended with exit code $rc after Ctrl+C"
[ ! -s "$work/err" ] || fail "watch wrote to standard error: $(cat "$work/err")"
grep -q ' close ref=1 ' "$work/log" || fail "the library was not closed: $(cat "$work/log")"
echo "watch closed the library and exited with 0 on Ctrl+C"
