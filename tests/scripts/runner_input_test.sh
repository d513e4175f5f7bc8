#!/usr/bin/env bash
# The runners' answer to a DLL they cannot run: scripts/validate.sh PATH and
# scripts/run.sh --plugin PATH, given a missing file, a folder, a text file, a
# 64-bit program that is no DLL and a 32-bit DLL, each exit 2 at once with one
# line on stderr naming the file, print nothing else, and leave the folder they
# ran in as it was. Usage: runner_input_test.sh SOURCE_DIR
set -u
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/work"
cd "$scratch/work" || exit 1
fail=0

# pe FILE MACHINE CHARACTERISTICS: the headers a PE file begins with, as far as a
# loader reads them to tell its kind: "MZ", the offset of "PE\0\0" at 0x3c, the machine
# and, 18 bytes on, the characteristics (little-endian).
pe() {
    {
        printf 'MZ'
        head -c 58 /dev/zero
        printf '\x40\x00\x00\x00'
        printf 'PE\0\0'
        printf "$2"
        head -c 16 /dev/zero
        printf "$3"
        head -c 200 /dev/zero
    } >"$1"
}
pe x86.dll '\x4c\x01' '\x02\x21'    # i386, a DLL
pe tool.exe '\x64\x86' '\x22\x00'   # x64, an executable
printf 'not a DLL at all\n' >notes.txt
mkdir folder.dll
listing() { find . -mindepth 1 -printf '%p %s %T@\n' | sort; }
before=$(listing)

# expect WORDS COMMAND...: exit 2, one line on stderr holding WORDS, nothing on stdout.
expect() {
    local words=$1 status
    shift
    "$@" >"$scratch/out" 2>"$scratch/err" </dev/null
    status=$?
    if (( status != 2 )) || [[ -s "$scratch/out" ]] || (( $(wc -l <"$scratch/err") != 1 )) ||
       ! grep -qF -- "$words" "$scratch/err"; then
        printf 'FAIL: %s exited %d, said:\n' "$*" "$status"
        cat "$scratch/out" "$scratch/err"
        printf '(wanted exit 2 and one line with: %s)\n' "$words"
        fail=1
    fi
}

for case in "missing.dll|no such file" "folder.dll|a folder, not a DLL" "notes.txt|not a Windows DLL" \
            "tool.exe|a Windows program, not a DLL" "x86.dll|a 32-bit DLL"; do
    file=${case%%|*} words=${case#*|}
    expect "$file: $words" bash "$source_dir/scripts/validate.sh" "$file" --quick
    expect "$file: $words" bash "$source_dir/scripts/run.sh" --plugin "$file" --no-install
done
expect "the plug-in DLL comes first" bash "$source_dir/scripts/validate.sh" --quick x86.dll

[[ "$(listing)" == "$before" ]] || { echo "FAIL: the folder changed"; fail=1; }
(( fail == 0 )) && echo "validate.sh and run.sh --plugin: five kinds of bad input, exit 2 with one line each"
exit $fail
