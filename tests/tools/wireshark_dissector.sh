#!/usr/bin/env bash
# The motion datagram in Wireshark: a capture made on lo while the host runs
# the plug-in for 120 frames and the listener decodes them, then datagrams
# that are not motion datagrams (0, 31, 33 and 65,507 bytes, a wrong marker,
# random bytes) sent to the same port. tshark with the dissector must show
# every field of every datagram as the listener decoded it, and each of the
# others as malformed, with no error of the Lua engine.
# Usage: wireshark_dissector.sh HOST.exe PLUGIN.dll LISTEN.exe DISSECTOR.lua
# Needs the sandbox of scripts/sandboxed.sh (exit 77 = skipped), tshark.
set -u
host=$1 plugin=$2 listen=$3 dissector=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

. "$here/test_guards.sh"
require_wine_sandbox
for program in dumpcap tshark; do
    command -v "$program" >/dev/null || { echo "FAIL: no $program (apt-get install tshark)"; exit 1; }
done

work=$(mktemp -d)
capture=
listener=
trap '[ -n "$listener" ] && kill $listener 2>/dev/null; [ -n "$capture" ] && kill $capture 2>/dev/null;
      rm -rf "$work"' EXIT
cd "$(dirname "$plugin")" || exit 1

# wait_for FILE TEXT PID: until FILE holds TEXT (15 s at most, and while PID lives).
wait_for() {
    local waited=0
    until grep -q "$2" "$1" 2>/dev/null; do
        sleep 0.2
        waited=$((waited + 1))
        if [ $waited -gt 75 ] || ! kill -0 "$3" 2>/dev/null; then
            echo "FAIL: no \"$2\" in $1:"; cat "$1"; exit 1
        fi
    done
}

dumpcap -i lo -f "udp port 50001" -w "$work/motion.pcapng" >"$work/dumpcap.out" 2>&1 &
capture=$!
wait_for "$work/dumpcap.out" "Capturing on" $capture

wine "$listen" --count 120 --duration 60 --quiet --csv "$work/motion.csv" >"$work/listen.out" 2>"$work/listen.err" &
listener=$!
wait_for "$work/listen.err" "waiting for motion datagrams" $listener
if ! wine "$host" --frames 120 --quiet "$(basename "$plugin")" >"$work/host.out" 2>&1; then
    echo "FAIL: the host failed"; cat "$work/host.out"; exit 1
fi
wait $listener || { echo "FAIL: the listener failed"; cat "$work/listen.err" "$work/listen.out"; exit 1; }
listener=

# What is not a motion datagram, to the same port: 13 datagrams.
python3 - <<'EOF' || { echo "FAIL: the malformed datagrams could not be sent"; exit 1; }
import os, random, socket
sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
good = bytes.fromhex("47004D04") + bytes(28)
random.seed(50001)
for datagram in [b"", good[:31], good + b"\0", bytes(65507), b"G\0M\x05" + bytes(28)] + \
        [os.urandom(random.choice([1, 16, 32, 64, 1400])) for _ in range(8)]:
    sender.sendto(datagram, ("127.0.0.1", 50001))
EOF
sleep 0.5
kill -INT $capture
wait $capture
capture=

if ! tshark -r "$work/motion.pcapng" -X "lua_script:$dissector" -T pdml >"$work/motion.pdml" 2>"$work/tshark.err"; then
    echo "FAIL: tshark failed:"; cat "$work/tshark.err"; exit 1
fi
if grep -i "lua" "$work/tshark.err" || grep -q 'Lua Error' "$work/motion.pdml"; then
    echo "FAIL: an error of the Lua engine"; exit 1
fi
python3 "$here/check_wireshark_capture.py" "$work/motion.pdml" "$work/motion.csv" 120
