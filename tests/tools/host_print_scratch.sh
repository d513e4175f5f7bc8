#!/usr/bin/env bash
# The host's --print and --scratch under Wine, with a plug-in that writes
# shutdown.txt into its working folder: --print shows the chosen values of
# each frame; --scratch keeps the plug-in's file away from the user's one of
# that name, removes its folder after a run that ends well and keeps it, named,
# after one that fails; --keep-scratch keeps it after a good run too.
# Usage: host_print_scratch.sh HOST.exe FILE_WRITING_PLUGIN.dll
# Runs only in the sandbox of scripts/sandboxed.sh, as the end-to-end test. Exit 77 = skipped.
set -u
host=$1

. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_wine_sandbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$2" "$work/plugin.dll"
cd "$work" || exit 1
fail=0
printf 'the user'"'"'s own file\n' >shutdown.txt
user_sum=$(cksum <shutdown.txt)

# run STATUS OPTIONS...: the host exits with STATUS; its output in out.txt and err.txt, without CRs.
run() {
    local want=$1 got
    shift
    wine "$host" "$@" >out.raw 2>err.raw
    got=$?
    tr -d '\r' <out.raw >out.txt
    tr -d '\r' <err.raw >err.txt
    if [ $got -ne "$want" ]; then
        echo "FAIL: host $* exited $got (wanted $want):"; cat out.txt err.txt
        fail=1
    fi
}
said() {  # said FILE TEXT: FILE holds the line TEXT
    grep -qxF -- "$2" "$1" || { echo "FAIL: no line \"$2\" in $1:"; cat "$1"; fail=1; }
}
scratch_folders() {
    find "$WINEPREFIX/drive_c/users" -maxdepth 6 -type d -name 'skarvel-host-*' 2>/dev/null | sort
}
before=$(scratch_folders)

tab=$'\t'
run 0 --frames 3 --fast --scratch --print Simulation.Time,Aircraft.Altitude,Aircraft.Velocity,No.Such.Name plugin.dll
said out.txt "frame${tab}Simulation.Time${tab}Aircraft.Altitude${tab}Aircraft.Velocity${tab}No.Such.Name"
said out.txt "1${tab}0${tab}35${tab}0 0 0${tab}-"
grep -qE "^2${tab}0\.016666666666666666${tab}35${tab}[0-9.e-]+ 0 [0-9.e-]+${tab}-\$" out.txt \
    || { echo "FAIL: frame 2 is not 1/60 s in, at 35 m, rolling:"; cat out.txt; fail=1; }
[ "$(grep -c "^[0-9]*${tab}" out.txt)" -eq 3 ] || { echo "FAIL: not 3 frame lines:"; cat out.txt; fail=1; }
said err.txt "host: --print: no frame held No.Such.Name"

# Recorded in the scratch run: the plug-in's file goes, the recording lands where it was named.
run 0 --frames 30 --fast --quiet --scratch --record flight.skvrec plugin.dll
said out.txt "host: removed the plug-in's scratch folder with the 1 file(s) it wrote there"
[ -f flight.skvrec ] || { echo "FAIL: --record flight.skvrec of a scratch run is not in the working folder"; fail=1; }
[ "$(scratch_folders)" = "$before" ] || { echo "FAIL: a scratch folder was left: $(scratch_folders)"; fail=1; }

# kept_folder FILE: the folder FILE names as kept holds the plug-in's file; then it goes.
kept_folder() {
    local kept kept_unix
    kept=$(sed -n 's/^host: the plug-in.s scratch folder is kept: //p' "$1")
    if [ -z "$kept" ]; then
        echo "FAIL: no kept folder named:"; cat "$1"; fail=1
        return
    fi
    kept_unix=$(winepath -u "$kept" 2>/dev/null)
    [ -f "$kept_unix/shutdown.txt" ] || { echo "FAIL: $kept ($kept_unix) holds no shutdown.txt"; fail=1; }
    rm -rf "$kept_unix"
}

# A run that fails keeps the folder, named, with the plug-in's file in it.
cp flight.skvrec damaged.skvrec
printf 'DAMAGED' | dd of=damaged.skvrec bs=1 seek=2000 conv=notrunc 2>/dev/null
run 1 --replay damaged.skvrec --fast --scratch plugin.dll
kept_folder err.txt
# --keep-scratch keeps it after a run that ends well too.
run 0 --frames 3 --fast --quiet --keep-scratch plugin.dll
kept_folder out.txt
[ "$(scratch_folders)" = "$before" ] || { echo "FAIL: a scratch folder was left: $(scratch_folders)"; fail=1; }

[ "$(cksum <shutdown.txt)" = "$user_sum" ] || { echo "FAIL: the user's shutdown.txt changed"; fail=1; }
[ $fail -eq 0 ] && echo "host --print and --scratch: values per frame; the plug-in's files kept apart"
exit $fail
