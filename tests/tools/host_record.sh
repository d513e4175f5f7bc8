#!/usr/bin/env bash
# The host's --record under Wine: the plug-in, the recording being replayed
# and a folder are refused however spelt, before the flight, and a run that
# fails or never starts leaves an earlier file byte for byte as it was, with
# no temporary file, while the replay of a recording cut short succeeds;
# Ctrl-C ends a run with its recording whole.
# Usage: host_record.sh HOST.exe PLUGIN.dll
# Needs WINEPREFIX and DISPLAY, as the end-to-end test. Exit 77 = skipped.
set -u
host=$1 plugin=$2

# The successful run loads the plug-in, which broadcasts.
. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_wine_sandbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$plugin" "$work/plugin.dll"
cd "$work" || exit 1
fail=0

# expect STATUS TEXT COMMAND...: the host exits with STATUS and says TEXT.
expect() {
    want=$1 text=$2
    shift 2
    wine "$host" "$@" >out.txt 2>&1
    got=$?
    tr -d '\r' <out.txt >said.txt
    if [ $got -ne "$want" ] || ! grep -qF -- "$text" said.txt; then
        echo "FAIL: host $* exited $got (wanted $want) saying:"; cat said.txt; echo "(wanted: $text)"
        fail=1
    fi
}
unchanged() {  # unchanged FILE SUM: the file still has its checksum, and no temporary lies beside it
    if [ "$(cksum <"$1")" != "$2" ]; then echo "FAIL: $1 changed"; fail=1; fi
    for t in "$1".*.tmp; do
        if [ -e "$t" ]; then echo "FAIL: $t left behind"; fail=1; fi
    done
}

dll_sum=$(cksum <plugin.dll)
expect 2 "is the plug-in" --frames 3 --record ./plugin.dll plugin.dll
unchanged plugin.dll "$dll_sum"
# A folder is refused before the flight, not after it.
mkdir recordings
expect 2 "host: --record recordings is a folder: name a file" --frames 3 --record recordings plugin.dll
# A name longer than Windows allows: refused, saying so.
long=recordings/$(printf 'a%.0s' $(seq 260)).skvrec
expect 2 "host: --record \"$long\": a name in it is 267 characters long, and Windows takes names of at most 255" \
    --frames 3 --record "$long" plugin.dll

# A run that succeeds puts its recording in place of an earlier file.
printf 'an earlier file\n' >flight.skvrec
expect 0 "host: 30 frames" --frames 30 --fast --quiet --record flight.skvrec plugin.dll
if ! head -c 6 flight.skvrec | grep -q SKVREC; then echo "FAIL: flight.skvrec is no recording"; fail=1; fi
unchanged flight.skvrec "$(cksum <flight.skvrec)"
flight_sum=$(cksum <flight.skvrec)

expect 2 "is the recording being replayed" --replay flight.skvrec --record ./flight.skvrec plugin.dll
unchanged flight.skvrec "$flight_sum"

# Runs that fail: a plug-in that is not there, a damaged recording half sent.
cp flight.skvrec earlier.skvrec
earlier_sum=$(cksum <earlier.skvrec)
expect 1 "no plug-in file" --frames 3 --record earlier.skvrec missing.dll
unchanged earlier.skvrec "$earlier_sum"
cp flight.skvrec damaged.skvrec
printf 'DAMAGED' | dd of=damaged.skvrec bs=1 seek=2000 conv=notrunc 2>/dev/null  # inside frame 1
expect 1 "recording: frame 1 (at byte 16): corrupt: checksum mismatch" --replay damaged.skvrec --fast \
    --record earlier.skvrec plugin.dll
unchanged earlier.skvrec "$earlier_sum"
# A recording cut short (by a crash) is no failure: its whole frames replay, and are recorded.
head -c 10000 flight.skvrec >cut.skvrec
expect 0 "the recording ends there, cut short; the 3 whole frames before it were sent" --replay cut.skvrec --fast \
    --record earlier.skvrec plugin.dll
cmp -s earlier.skvrec <(head -c "$(stat -c %s earlier.skvrec)" flight.skvrec) ||
    { echo "FAIL: the cut recording's replay is not its whole frames"; fail=1; }

# Ctrl-C (SIGINT, a console Ctrl-C event under Wine) ends a run with its whole
# recording in place, and no temporary file. (Wine ends a Windows program at
# once on SIGTERM or SIGHUP: the scripts turn those into SIGINT, and
# tests/scripts checks that of run.sh.)
for signal in INT; do
    rm -f stopped.skvrec
    set -m  # (a background job of a script would have SIGINT ignored)
    wine "$host" --quiet --duration 60 --record stopped.skvrec plugin.dll >out.txt 2>&1 &
    pid=$!
    set +m
    for _ in $(seq 100); do  # until frames are being recorded
        [ "$(wc -c 2>/dev/null <stopped.skvrec.1.tmp || echo 0)" -gt 20000 ] && break
        sleep 0.1
    done
    kill -"$signal" $pid
    wait $pid
    got=$?
    frames=$(tr -d '\r' <out.txt | sed -n 's/^host: \([0-9]*\) frames.*/\1/p')
    if [ $got -ne 0 ] || [ -z "$frames" ] || [ ! -f stopped.skvrec ]; then
        echo "FAIL: SIG$signal: exit $got (wanted 0), recording $(ls stopped.skvrec* 2>&1), saying:"; cat out.txt
        fail=1
        continue
    fi
    unchanged stopped.skvrec "$(cksum <stopped.skvrec)"  # no temporary file beside it
    expect 0 "host: $frames frames" --replay stopped.skvrec --fast --quiet plugin.dll
done

[ $fail -eq 0 ] && echo "host --record: refusals and failed runs leave every file as it was;" \
    "Ctrl-C keeps the recording"
exit $fail
