#!/usr/bin/env bash
# Names and paths as users give them, to the three Windows tools under Wine:
# - names beyond any code page (飛行, plane🛩): a plug-in, a folder so named,
#   a recording, a report and a CSV are run, validated, written and named in
#   the tools' words whole; a crash there named by function and line;
# - names Windows would take for another file or a device (a trailing dot or
#   space, NUL, CON, COM1...): each tool refuses them with the reason and
#   status 2, at once (COM1 is never opened), and writes nothing;
# - a path longer than MAX_PATH works for every file the tools write and
#   read, and a plug-in there is refused before any work.
# Usage: tool_names.sh HOST.exe VALIDATE.exe LISTEN.exe PLUGIN.dll
# Needs the sandbox of scripts/sandboxed.sh. Exit 77 = skipped.
set -u
host=$1 validate=$2 listen=$3 plugin=$4

. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_wine_sandbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0 cases=0

. "$(dirname "${BASH_SOURCE[0]}")/expect_exit.sh"
# only FILES...: the folder holds these files and no others.
only() {
    local there
    there=$(ls -A | grep -vxF -e out.txt -e said.txt | sort | tr '\n' ' ')
    if [ "$there" != "$(printf '%s\n' "$@" | sort | tr '\n' ' ')" ]; then
        echo "FAIL: the folder holds: $there (wanted: $*)"
        fail=1
    fi
}

# Names beyond any code page: the plug-in, its folder, and every file the
# tools write.
mkdir 飛行
cp "$plugin" 飛行.dll
cp "$plugin" "飛行/plane🛩.dll"
expect 0 "host: 5 frames" "$host" --frames 5 --fast --quiet --record 飛行/飛行.skvrec 飛行.dll
expect 0 "host: 5 frames" "$host" --frames 5 --fast --quiet --replay 飛行/飛行.skvrec "飛行/plane🛩.dll"
expect 1 "host: no plug-in file at 飛行/無.dll" "$host" --frames 5 飛行/無.dll
expect 0 "validate: 6 passed, 0 failed" "$validate" --quick --only file,lifecycle.usual_order \
    --json 飛行/報告.json "飛行/plane🛩.dll"
grep -qF '"plugin": "飛行/plane🛩.dll"' 飛行/報告.json || { echo "FAIL: 報告.json does not name the plug-in"; fail=1; }
expect 2 "validate: 飛行 is a folder, not a DLL; the DLL in it is 飛行/plane🛩.dll" "$validate" 飛行
# A crash there named by function and line, from the debug information the plug-in carries.
cp "$plugin" 飛行/test_plugin_crash_in_update.dll
expect 1 "validate: 0 passed, 1 failed" "$validate" --quick --only lifecycle.usual_order --json 飛行/墜落.json \
    飛行/test_plugin_crash_in_update.dll
grep -qF 'test_plugin.cpp' 飛行/墜落.json || { echo "FAIL: 墜落.json does not name the crash's source file"; fail=1; }
# The listener's CSV, with a datagram in it.
cases=$((cases + 1))
timeout 30 wine "$listen" --port 50093 --count 1 --quiet --csv 飛行/動き.csv >listen.out 2>&1 &
pid=$!
for _ in $(seq 100); do
    grep -q "waiting for motion datagrams" listen.out 2>/dev/null && break
    sleep 0.1
done
python3 -c 'import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"G\0M\4" + bytes(28), ("127.0.0.1", 50093))'
wait $pid || { echo "FAIL: listen --csv 飛行/動き.csv exited $?:"; cat listen.out; fail=1; }
rm -f listen.out
[ "$(wc -l <飛行/動き.csv)" = 2 ] || { echo "FAIL: 飛行/動き.csv does not hold its header and one row"; fail=1; }
rm -rf 飛行 飛行.dll

# Names Windows would alter, each beside the file it would take instead.
cp "$plugin" x.dll
cp "$plugin" "x.dll."
cp "$plugin" nul.dll
cp "$plugin" COM1.dll
drop_dot='"x.dll.": Windows drops the dot at the end of "x.dll." and would use "x.dll" instead'
device="Windows takes this name, whatever its extension, for the device"
expect 2 "host: the plug-in $drop_dot" "$host" --frames 5 x.dll.
expect 2 "host: the plug-in \"nul.dll\": $device NUL (the null device), not for a file" "$host" --frames 5 nul.dll
expect 2 "host: the plug-in \"COM1.dll\": $device COM1 (a serial port)" "$host" --frames 5 COM1.dll
expect 2 'host: --record "flight.skvrec ": Windows drops the space at the end' \
    "$host" --frames 5 --record "flight.skvrec " x.dll
expect 2 "host: --replay \"con.skvrec\": $device CON (the console)" "$host" --replay con.skvrec x.dll
expect 2 "validate: the plug-in $drop_dot" "$validate" --quick x.dll.
expect 2 "validate: the plug-in \"COM1.dll\": $device COM1" "$validate" --quick COM1.dll
expect 2 "validate: --json \"con.json\": $device CON (the console)" "$validate" --quick --json con.json x.dll
expect 2 'validate: --junit "\\.\NUL": a device path, which Windows opens as a device' \
    "$validate" --quick --junit '\\.\NUL' x.dll
expect 2 "listen: --csv \"aux.csv\": $device AUX" "$listen" --duration 1 --csv aux.csv
expect 2 'listen: --csv "motion.csv.": Windows drops the dot' "$listen" --duration 1 --csv motion.csv.
only x.dll x.dll. nul.dll COM1.dll
rm -f x.dll x.dll. nul.dll COM1.dll

# A path longer than Windows' usual limit of 260 characters.
deep=$work
for level in $(seq 22); do deep=$deep/a_folder_of_a_long_path_$level; done
mkdir -p "$deep"
cp "$plugin" plugin.dll
cp "$plugin" "$deep/plugin.dll"
expect 0 "host: 5 frames" "$host" --frames 5 --fast --quiet --record "$deep/flight.skvrec" plugin.dll
expect 0 "host: 5 frames" "$host" --frames 5 --fast --quiet --replay "$deep/flight.skvrec" plugin.dll
expect 0 "validate: 3 passed" "$validate" --only file.pe_format,file.exports,file.imports --json "$deep/r.json" \
    plugin.dll
# A port of its own: the plug-in's port 50001 may carry other tests' flights.
expect 0 "datagrams: 0 valid" "$listen" --port 50094 --duration 0.2 --csv "$deep/motion.csv"
for file in flight.skvrec r.json motion.csv; do
    [ -s "$deep/$file" ] || { echo "FAIL: $file was not written in the long path"; fail=1; }
done
too_long="characters long, and Windows loads a DLL from a path of at most 259: move it to a shorter one"
expect 1 "$too_long" "$host" --frames 5 "$deep/plugin.dll"
expect 2 "$too_long" "$validate" --quick "$deep/plugin.dll"

[ $fail -eq 0 ] && echo "tool names: $cases cases: names beyond any code page run and written whole," \
    "names Windows alters refused, paths past MAX_PATH written and read"
exit $fail
