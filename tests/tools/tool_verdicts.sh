#!/usr/bin/env bash
# How the host and the validator end when a run cannot end well, under Wine:
# each time with the right status, within a minute, and the real reason in
# the words of the system that gave it.
# - host: a plug-in that crashes in Update or in its DllMain, lets a C++
#   exception out or calls abort() is reported and the run ends (status 1),
#   never in Wine's debugger; one that hangs in DllMain is ended after 10 s,
#   one that hangs in Shutdown 10 s after a request to stop, each saying so;
#   an EXE, an import
#   library, a folder, an empty recording, a replay of a folder, a recording
#   that cannot be written (a full disk) each say what they are (status 1,
#   an earlier recording kept); a pipe as --record is refused (status 2);
# - validator: a report that cannot be written keeps the run's verdict (1 when
#   a check failed, else 3) and says why; an import library names the DLL
#   beside it (status 2); only the headers are read, so an 8 GiB file is
#   judged; "(see file.pe_format)" only when that check ran and failed.
# Usage: tool_verdicts.sh HOST.exe VALIDATE.exe TEST_PLUGIN_FOLDER
# (the folder of test_plugin_<defect>.dll and libtest_plugin_none.dll.a).
# Needs the sandbox of scripts/sandboxed.sh. Exit 77 = skipped.
set -u
host=$1 validate=$2 plugins=$3

. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_wine_sandbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0 cases=0
for defect in none crash_in_update crash_at_attach throws_in_init abort_in_update hang_at_attach hang_in_shutdown \
    missing_export; do
    cp "$plugins/test_plugin_$defect.dll" .
done
cp "$plugins/libtest_plugin_none.dll.a" .

. "$(dirname "${BASH_SOURCE[0]}")/expect_exit.sh"
# kept FILE: the earlier recording is still there, whole, with no temporary
# file beside it.
kept() {
    cmp -s "$1" earlier.copy || { echo "FAIL: $1 changed"; fail=1; }
    for t in "$1".*.tmp; do
        [ -e "$t" ] && { echo "FAIL: $t left behind"; fail=1; }
    done
}

# The host.
expect 1 "host: the plug-in crashed in Update (frame 30): access violation writing 0x0 at test_plugin_crash_in_update.dll+" \
    "$host" --frames 60 --fast --quiet test_plugin_crash_in_update.dll
expect 1 "host: cannot load test_plugin_crash_at_attach.dll as a DLL: it crashed while loading, in its DllMain" \
    "$host" --frames 60 --fast --quiet test_plugin_crash_at_attach.dll
expect 1 "host: a C++ exception left the plug-in in Init" "$host" --frames 5 --fast test_plugin_throws_in_init.dll
expect 1 "host: the plug-in called abort() in Update (frame 20)" \
    "$host" --frames 60 --fast --quiet test_plugin_abort_in_update.dll
# A DllMain that never returns holds the loader lock, so no thread can start
# to hear Ctrl-C: the host ends it as a hang after 10 s by itself.
expect 1 "host: the plug-in's DllMain has not returned for 10 s: it hangs in LoadLibrary" \
    "$host" --frames 5 test_plugin_hang_at_attach.dll
# A Shutdown that never returns: the first request to stop ends the run 10 s
# later, saying where the plug-in hangs.
cases=$((cases + 1))
set -m  # (a background job of a script would have SIGINT ignored)
wine "$host" --frames 5 test_plugin_hang_in_shutdown.dll >out.txt 2>&1 &
pid=$!
set +m
for _ in $(seq 300); do  # until the DLL is mapped; then its five frames run
    grep -q test_plugin_hang_in_shutdown "/proc/$pid/maps" 2>/dev/null && break
    sleep 0.1
done
sleep 2  # (the host waits in Shutdown by then)
kill -INT $pid  # Ctrl-C, as Wine hands it to a Windows program
for _ in $(seq 400); do  # 40 s at most: then it hangs for good
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
done
kill -KILL $pid 2>/dev/null
wait $pid
got=$?
if [ $got -ne 1 ] || ! tr -d '\r' <out.txt |
    grep -qx "host: asked to stop, the plug-in has not returned for 10 s: it hangs in Shutdown"; then
    echo "FAIL: a Shutdown that hangs, stopped: exit $got (wanted 1) saying:"; cat out.txt; fail=1
fi
cp "$host" program.exe
expect 1 "host: cannot load program.exe: it is a program (an EXE), not a DLL" "$host" --frames 5 program.exe
rm program.exe
expect 1 "host: libtest_plugin_none.dll.a is a library archive (an import or static library), not a DLL; the DLL beside it is test_plugin_none.dll" \
    "$host" --frames 5 libtest_plugin_none.dll.a
mkdir plugins
cp test_plugin_none.dll plugins/
expect 1 "host: plugins is a folder, not a DLL; the DLL in it is plugins/test_plugin_none.dll" "$host" plugins
printf 'an earlier recording\n' >earlier.skvrec
cp earlier.skvrec earlier.copy
printf 'SKVREC\r\n\1\0\0\0\0\0\0\0' >empty.skvrec
expect 1 "host: the recording empty.skvrec holds no frames" \
    "$host" --fast --replay empty.skvrec --record earlier.skvrec test_plugin_none.dll
kept earlier.skvrec
expect 1 "host: cannot open the recording plugins: it is a folder, not a recording file" \
    "$host" --replay plugins test_plugin_none.dll
mkfifo pipe.skvrec
expect 2 "host: --record pipe.skvrec is a device or a pipe, which the finished file would take the place of" \
    "$host" --frames 5 --record pipe.skvrec test_plugin_none.dll
[ -p pipe.skvrec ] || { echo "FAIL: pipe.skvrec is no longer a pipe"; fail=1; }
# A full disk, as a file size limit makes one: the frame and the reason.
file_limit=64 expect 1 "host: writing the recording failed at frame " \
    "$host" --fast --quiet --frames 5000 --record earlier.skvrec test_plugin_none.dll
grep -qE "failed at frame [0-9]+: .+ \((system|C runtime) error [0-9]+\)$" said.txt ||
    { echo "FAIL: no reason said for the recording"; fail=1; }
kept earlier.skvrec

# The validator.
expect 2 "validate: libtest_plugin_none.dll.a is a library archive (an import or static library), not a DLL; the DLL beside it is test_plugin_none.dll" \
    "$validate" --quick libtest_plugin_none.dll.a
# A report that cannot be written keeps the run's verdict.
file_limit=0 expect 1 "validate: writing report.json failed: " \
    "$validate" --only file.exports,file.imports --json report.json test_plugin_missing_export.dll
file_limit=0 expect 3 "validate: writing report.json failed: " \
    "$validate" --only file.exports,file.imports --json report.json test_plugin_none.dll
# Only the headers and tables are read: 8 GiB (sparse) are judged at once.
cp test_plugin_none.dll big.dll
truncate -s 8G big.dll
expect 0 "validate: 3 passed, 0 failed" "$validate" --only file.pe_format,file.exports,file.imports big.dll
rm big.dll
# The tables broken off, the headers sound: file.pe_format passes, and the
# others say where the tables broke, pointing nowhere else.
head -c 4096 test_plugin_none.dll >cut.dll
expect 1 "the export table cannot be read: its export directory lies outside the file" \
    "$validate" --only file.pe_format,file.exports cut.dll
grep -qF "see file.pe_format" said.txt && { echo "FAIL: file.pe_format named, which passed"; fail=1; }
printf 'not a DLL at all\n' >text.dll
expect 1 "the export table cannot be read: not a Windows executable file (no PE header) (see file.pe_format)" \
    "$validate" --only file.pe_format,file.exports text.dll
expect 1 "the export table cannot be read: not a Windows executable file (no PE header)" \
    "$validate" --only file.exports text.dll
grep -qF "see file.pe_format" said.txt && { echo "FAIL: file.pe_format named, which did not run"; fail=1; }

[ $fail -eq 0 ] && echo "tool verdicts: $cases cases: crashes reported without a debugger, what is no plug-in" \
    "named, failed writes said with their reason, verdicts kept"
exit $fail
