#!/usr/bin/env bash
# The listener as a user runs it: a wrong command line exits 2, a CSV that
# cannot be written and a refused relay destination exit 1, each with one
# line on stderr; --group receives its group; SIGHUP and SIGTERM end a run
# as Ctrl-C does; a CSV to a pipe never waits for its reader.
# Usage: listen_command.sh LISTEN
# Runs inside a private network namespace only (exit 77 = skipped).
set -u
listen=$1
. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_private_network
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# expect STATUS LINE ARGS...: exit STATUS, and LINE as the one error line on stderr.
expect() {
    want=$1 line=$2
    shift 2
    "$listen" "$@" >"$work/out" 2>"$work/err"
    got=$?
    errors=$(grep '^listen: ' "$work/err" | grep -v '^listen: waiting for motion datagrams')
    if [ $got -ne "$want" ] || [ "$errors" != "$line" ]; then
        echo "FAIL: listen $* exited $got (wanted $want), said:"; cat "$work/err"; echo "(wanted: $line)"
        fail=1
    fi
}

expect 2 'listen: --duration wants a time up to a year such as 10, 10s or 500ms, not "1e12"' --duration 1e12
expect 2 'listen: --port wants a port from 1 to 65535, not "0x10"' --port 0x10
expect 1 'listen: writing /dev/full failed: No space left on device (system error 28)' \
    --port 50071 --duration 1 --csv /dev/full
expect 1 'listen: the relay sends to unicast addresses and multicast groups, and 127.255.255.255 is a broadcast address' \
    --port 50071 --duration 1 --relay 127.255.255.255:50072
expect 1 'listen: --group wants an IPv4 multicast address (224.0.0.0 to 239.255.255.255), not "127.0.0.1"' \
    --port 50071 --duration 1 --group 127.0.0.1
# What --relay refuses, --group refuses too; an adapter that is not this
# machine's and an IPv6 destination are named for what they are.
control="the local network's own protocols; choose one from 239.0.0.0 to 239.255.255.255"
expect 1 "listen: the multicast group 224.0.0.1 belongs to $control" --port 50071 --duration 1 --group 224.0.0.1
expect 1 'listen: --interface 192.0.2.9 is not an address of this machine' \
    --port 50071 --duration 1 --group 239.255.50.2 --interface 192.0.2.9
expect 1 'listen: the relay sends over IPv4 only, and [::1] is an IPv6 address' \
    --port 50071 --duration 1 --relay '[::1]:5000'
# A closed pipe: the reader is gone before the table's header is written.
( sleep 0.5; "$listen" --port 50071 --duration 1 2>"$work/pipe-err"; echo $? >"$work/pipe-status" ) | true
if [ "$(cat "$work/pipe-status")" != 1 ] ||
    ! grep -q '^listen: writing the table failed: Broken pipe (system error 32)$' "$work/pipe-err"; then
    echo "FAIL: a closed pipe: exit $(cat "$work/pipe-status")"; cat "$work/pipe-err"; fail=1
fi
# --group joins: a datagram sent to the group arrives (without the join the
# system would not deliver it here).
"$listen" --port 50073 --group 239.255.50.2 --count 1 --duration 10 --quiet >"$work/group-out" 2>"$work/group-err" &
pid=$!
for i in 1 2 3 4 5 6 7 8 9 10; do
    grep -q "waiting for motion datagrams on UDP port 50073 and group 239.255.50.2" "$work/group-err" && break
    sleep 0.2
done
python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.sendto(b"G\0M\4" + bytes(28), ("239.255.50.2", 50073))'
wait $pid
if [ $? -ne 0 ] || ! grep -q "^datagrams: 1 valid" "$work/group-out"; then
    echo "FAIL: nothing received from the group"; cat "$work/group-err" "$work/group-out"; fail=1
fi
# SIGHUP (a closed terminal) and SIGTERM (kill, timeout) end a run as Ctrl-C
# does: the summary said, exit status 0, every row in the CSV.
for signal in HUP TERM; do
    "$listen" --port 50074 --quiet --csv "$work/$signal.csv" >"$work/signal-out" 2>"$work/signal-err" &
    pid=$!
    for _ in $(seq 50); do
        grep -q "waiting for motion datagrams" "$work/signal-err" && break
        sleep 0.1
    done
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for t in (1, 2, 3): s.sendto(b"G\0M\4" + t.to_bytes(4, "little") + bytes(24), ("127.0.0.1", 50074))'
    for _ in $(seq 50); do
        [ "$(wc -l <"$work/$signal.csv")" -ge 4 ] && break
        sleep 0.1
    done
    kill -"$signal" $pid
    wait $pid
    got=$?
    if [ $got -ne 0 ] || ! grep -q "^datagrams: 3 valid" "$work/signal-out" ||
        [ "$(wc -l <"$work/$signal.csv")" -ne 4 ]; then
        echo "FAIL: SIG$signal: exit $got (wanted 0)"; cat "$work/signal-err" "$work/signal-out"; fail=1
    fi
done
# --csv to a pipe: with no program reading it, refused at once (opening it
# would wait for a reader, deaf to Ctrl-C); with its reader, the rows flow
# and the first stop request ends the run.
mkfifo "$work/motion.fifo"
timeout 10 "$listen" --port 50075 --duration 30 --csv "$work/motion.fifo" 2>"$work/fifo-err"
got=$?
if [ $got -ne 2 ] || [ "$(cat "$work/fifo-err")" != \
    "listen: --csv $work/motion.fifo is a pipe that no program reads: start its reader first" ]; then
    echo "FAIL: a pipe no program reads: exit $got (wanted 2)"; cat "$work/fifo-err"; fail=1
fi
# The test itself reads the pipe, opened before the listener opens it.
exec 3<>"$work/motion.fifo"
"$listen" --port 50075 --quiet --csv "$work/motion.fifo" >/dev/null 2>"$work/fifo-err" &
pid=$!
for _ in $(seq 50); do
    grep -q "waiting for motion datagrams" "$work/fifo-err" && break
    sleep 0.1
done
python3 -c 'import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"G\0M\4" + bytes(28), ("127.0.0.1", 50075))'
header='' row=''
read -t 10 -r header <&3 && read -t 10 -r row <&3
kill -TERM $pid
wait $pid
got=$?
exec 3<&-
if [ $got -ne 0 ] || [ "${header%%,*}" != arrival_s ] || [ -z "$row" ]; then
    echo "FAIL: a pipe with its reader: exit $got (wanted 0), the reader got: $header / $row"; cat "$work/fifo-err"
    fail=1
fi
[ $fail -eq 0 ] && echo "listen: command-line errors, a full disk, a closed pipe and refusals reported;" \
    "a group joined; SIGHUP and SIGTERM end a run as Ctrl-C does; a pipe no program reads refused at once"
exit $fail
