#!/usr/bin/env bash
# The flight recorder in the host simulator under Wine: its recording of the
# built-in flight is the file the host's own --record makes of it, byte for
# byte; replayed (into the recorder again), it sends the same frames and is
# recorded the same. Cut at random bytes, it replays up to its last whole
# frame and says where it was cut; with a flipped bit it replays up to the
# frame before and ends with one line naming the frame. A folder that cannot
# be made stops the run at Init, and nothing is written anywhere.
# Usage: recorder_flight.sh HOST.exe RECORDER.dll
# Needs WINEPREFIX and DISPLAY, as the tools' tests. Exit 77 = skipped.
set -u
host=$1 recorder=$2

. "$(dirname "${BASH_SOURCE[0]}")/../tools/test_guards.sh"
require_wine_sandbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$recorder" "$work/recorder.dll"
cd "$work" || exit 1
mkdir recordings
# The recorder's folder, as Windows names it (drive Z: is the root).
export SKARVEL_RECORDER_FOLDER="Z:${work//\//\\}\\recordings"
fail=0
print=Simulation.Time,Aircraft.Altitude,Aircraft.Name
# Paced, as a simulator sends: the recorder drops frames that find its queue
# of 256 full, and a host that sends back to back (--fast) outruns any disk.
# At 120 Hz the queue holds 2 s of frames, more than a busy machine stalls.
pace=(--rate 120)
frames=360

# host NAME STATUS OPTIONS...: the host exits with STATUS; its output in NAME.out and NAME.err, without CRs.
host() {
    local name=$1 want=$2 got
    shift 2
    wine "$host" "$@" >"$name.raw" 2>"$name.errraw"
    got=$?
    tr -d '\r' <"$name.raw" >"$name.out"
    tr -d '\r' <"$name.errraw" >"$name.err"
    if [ $got -ne "$want" ]; then
        echo "FAIL: host $* exited $got (wanted $want):"; cat "$name.out" "$name.err"
        fail=1
    fi
}
# new_recording: sets `recording` to the one recording made since the last call.
known=""
recording=""
new_recording() {
    local all new
    all=$(cd recordings && ls flight-*.skvrec 2>/dev/null)
    new=$(comm -13 <(printf '%s\n' "$known") <(printf '%s\n' "$all") | sed '/^$/d')
    known=$all
    if [ "$(printf '%s\n' "$new" | sed '/^$/d' | wc -l)" -ne 1 ]; then
        echo "FAIL: not one new recording but: ${new:-none}"
        fail=1
    fi
    recording=recordings/$(printf '%s\n' "$new" | head -n 1)
}
frame_lines() {  # frame_lines FILE: the --print lines of frames
    grep -E '^[0-9]+'$'\t' "$1"
}

# The built-in flight, recorded by the host and by the recorder at once.
host flight 0 --frames $frames "${pace[@]}" --record host.skvrec --print "$print" recorder.dll
new_recording
original=$recording
cmp host.skvrec "$original" || { echo "FAIL: the recorder's recording differs from the host's"; fail=1; }
tr -d '\r' <recordings/recorder.log | grep -qx "[0-9-]* [0-9:]* $(basename "$original"): $frames frames, [0-9.]* [KM]iB" ||
    { echo "FAIL: recorder.log says no $frames frames, or more:"; cat recordings/recorder.log; fail=1; }

# Replayed into the recorder: the same frames sent, recorded again the same.
host replay 0 --replay "$original" "${pace[@]}" --print "$print" recorder.dll
new_recording
again=$recording
cmp "$original" "$again" || { echo "FAIL: the replay's recording differs from the original"; fail=1; }
diff <(frame_lines flight.out) <(frame_lines replay.out) >/dev/null ||
    { echo "FAIL: the replay printed other frames than the flight"; fail=1; }

# Where each frame ends in the recording: the header, then length, payload and checksum.
ends=$(python3 - "$original" <<'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = 16
while at < len(data):
    at += 4 + struct.unpack_from("<I", data, at)[0] + 4
    print(at)
PYTHON
)
size=$(stat -c %s "$original")
[ "$(printf '%s\n' "$ends" | wc -l)" -eq $frames ] && [ "$(printf '%s\n' "$ends" | tail -n 1)" -eq "$size" ] ||
    { echo "FAIL: the recording does not end after its frame $frames"; fail=1; }

# Cut at random bytes after the first frame (one inside the last frame), as by a crash: the whole frames replay.
seed=${RECORDER_TEST_SEED:-$RANDOM}
RANDOM=$seed
first=$(printf '%s\n' "$ends" | head -n 1)
cuts="$((size - 1 - RANDOM % 3000)) $((first + (RANDOM * 32768 + RANDOM) % (size - first))) $((first + RANDOM % 20000))"
echo "cuts at bytes $cuts of $size (RECORDER_TEST_SEED=$seed repeats them)"
for cut in $cuts; do
    head -c "$cut" "$original" >cut.skvrec
    whole=$(printf '%s\n' "$ends" | awk -v cut="$cut" '$1 <= cut { n++ } END { print n + 0 }')
    host cut 0 --replay cut.skvrec "${pace[@]}" --print "$print" recorder.dll
    [ "$(frame_lines cut.out | wc -l)" -eq "$whole" ] &&
        diff <(frame_lines cut.out) <(frame_lines flight.out | head -n "$whole") >/dev/null ||
        { echo "FAIL: cut at $cut: not the first $whole frames replayed"; fail=1; }
    grep -q "^host: recording: frame $((whole + 1)) (at byte .*: the recording ends there, cut short; the $whole whole frames before it were sent\$" cut.err ||
        { echo "FAIL: cut at $cut: no line saying where it was cut:"; cat cut.err; fail=1; }
    new_recording
    [ "$whole" -gt 0 ] || { echo "FAIL: cut at $cut leaves no whole frame to check"; fail=1; continue; }
    cmp "$recording" <(head -c "$(printf '%s\n' "$ends" | sed -n "${whole}p")" "$original") ||
        { echo "FAIL: cut at $cut: the recording of the replay is not the original's first $whole frames"; fail=1; }
done

# A flipped bit in frame 100: frames 1 to 99 replay, then one line names frame 100.
at=$(printf '%s\n' "$ends" | sed -n 99p)
python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[int(sys.argv[2]) + 500] ^= 0x20; \
open('flipped.skvrec', 'wb').write(d)" "$original" "$at"
host flipped 1 --replay flipped.skvrec "${pace[@]}" --print "$print" recorder.dll
[ "$(frame_lines flipped.out | wc -l)" -eq 99 ] || { echo "FAIL: the flipped bit did not stop the replay at frame 100"; fail=1; }
[ "$(cat flipped.err)" = "host: recording: frame 100 (at byte $at): corrupt: checksum mismatch" ] ||
    { echo "FAIL: the flipped bit was not named in one line:"; cat flipped.err; fail=1; }
new_recording

# A folder that cannot be made: Init answers false, the flight does not start, nothing is written.
printf 'in the way\n' >a_file
before=$(ls recordings)
SKARVEL_RECORDER_FOLDER="Z:${work//\//\\}\\a_file\\recordings"
host refused 1 --frames 10 --fast recorder.dll
grep -qx "host: the plug-in's Init answered false" refused.err || { echo "FAIL: Init did not refuse:"; cat refused.err; fail=1; }
[ "$(cat a_file)" = "in the way" ] || { echo "FAIL: a_file changed"; fail=1; }
[ "$(ls recordings)" = "$before" ] || { echo "FAIL: the refused run wrote into the recordings folder"; fail=1; }

[ $fail -eq 0 ] && echo "skarvel_recorder: the host's frames recorded byte for byte; cut and damaged recordings replay" \
    "up to their last whole frame"
exit $fail
