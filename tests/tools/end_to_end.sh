#!/usr/bin/env bash
# Host simulator, plug-in and motion listener together under Wine: the host
# runs the built-in flight for 120 frames, the plug-in broadcasts a motion
# datagram per frame, the listener must receive and decode them.
# Usage: end_to_end.sh HOST.exe PLUGIN.dll LISTEN.exe
# Needs WINEPREFIX (a prefix made inside this namespace) and DISPLAY (the
# plug-in opens its window). Exit 77 = skipped.
set -u
host=$1 plugin=$2 listen=$3

# The plug-in broadcasts to 255.255.255.255.
. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_wine_sandbox
ip route show table local 2>/dev/null | grep -q 255.255.255.255 ||
    ip route add 255.255.255.255/32 dev lo 2>/dev/null || true

work=$(mktemp -d)
listener=
trap '[ -n "$listener" ] && kill $listener 2>/dev/null; rm -rf "$work"' EXIT
cd "$(dirname "$plugin")" || exit 1

wine "$listen" --count 100 --duration 60 --quiet --csv "$work/motion.csv" >"$work/listen.out" 2>"$work/listen.err" &
listener=$!
waited=0
until grep -q "waiting for motion datagrams" "$work/listen.err" 2>/dev/null; do
    sleep 0.2
    waited=$((waited + 1))
    if [ $waited -gt 150 ] || ! kill -0 $listener 2>/dev/null; then
        echo "FAIL: the listener did not start"; cat "$work/listen.err"; exit 1
    fi
done

if ! wine "$host" --frames 120 --quiet "$(basename "$plugin")" >"$work/host.out" 2>&1; then
    echo "FAIL: the host failed"; cat "$work/host.out"; kill $listener; exit 1
fi
cat "$work/host.out"
wait $listener
status=$?
listener=
tr -d '\r' <"$work/listen.out"
[ $status -eq 0 ] || { echo "FAIL: the listener exited with $status"; cat "$work/listen.err"; exit 1; }

fail=0
grep -q "^datagrams: 100 valid, 0 malformed" "$work/listen.out" || { echo "FAIL: not 100 valid datagrams"; fail=1; }
grep -q "0 steps backwards" "$work/listen.out" || { echo "FAIL: simulation time went backwards"; fail=1; }
grep -q "^host: 120 frames" "$work/host.out" || { echo "FAIL: the host did not send 120 frames"; fail=1; }
# The decoded stream: time from 0 in 1/60 s steps, the aircraft rolling
# forward faster and faster, no sideways or vertical speed on the runway.
tr -d '\r' <"$work/motion.csv" | awk -F, '
    NR == 1 { next }
    {
        n++
        if (n == 1 && $2 != 0) { print "FAIL: first time " $2 " us, not 0"; bad = 1 }
        if (n > 1 && ($2 - t < 16000 || $2 - t > 17400)) { print "FAIL: time step " $2 - t " us at row " n; bad = 1 }
        if ($4 < v - 1e-6 || $4 > 40) { print "FAIL: forward speed " $4 " after " v " at row " n; bad = 1 }
        if ($5 != 0 || $6 != 0 || $7 != 0 || $8 != 0 || $9 != 0) { print "FAIL: motion besides the roll at row " n; bad = 1 }
        t = $2; v = $4
    }
    END {
        if (n != 100) { print "FAIL: " n " rows"; bad = 1 }
        if (v < 1.0) { print "FAIL: still standing after 100 frames, speed " v; bad = 1 }
        exit bad
    }' || fail=1

# Ctrl-C (SIGINT, which Wine turns into a console Ctrl-C event) ends the
# Windows listener under Wine as on Windows: its summary said, exit status 0.
# (set -m: a background job of a script would have SIGINT ignored.)
set -m
wine "$listen" --port 50075 --quiet >"$work/term.out" 2>"$work/term.err" &
listener=$!
set +m
for _ in $(seq 150); do
    grep -q "waiting for motion datagrams" "$work/term.err" 2>/dev/null && break
    sleep 0.1
done
kill -INT $listener
wait $listener
status=$?
listener=
if [ $status -ne 0 ] || ! tr -d '\r' <"$work/term.out" | grep -q "^datagrams: 0 valid"; then
    echo "FAIL: Ctrl-C: the listener exited with $status"; cat "$work/term.err" "$work/term.out"; fail=1
fi
[ $fail -eq 0 ] && echo "end to end: 120 frames sent, 100 datagrams received and decoded;" \
    "Ctrl-C ends the listener well"
exit $fail
