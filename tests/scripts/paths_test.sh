#!/usr/bin/env bash
# The runners' answer to a path they cannot run: scripts/validate.sh PATH and
# scripts/run.sh --plugin PATH, given a missing file, an empty or no argument, a
# folder, a text file, a 64-bit program that is no DLL, a 32-bit DLL, an import
# library, or a name that begins with "-", each exit 2 at once with one line on
# stderr naming the file (and the DLL meant, where one lies beside it or in it),
# print nothing else, and leave the folder they ran in as it was.
#     paths_test.sh SOURCE_DIR
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
pe arm.dll '\x64\xaa' '\x22\x20'    # ARM64, a DLL
printf 'not a DLL at all\n' >notes.txt
mkdir folder.dll lib plugins empty
pe lib/my_plugin.dll '\x64\x86' '\x22\x20'
printf '!<arch>\n' >lib/libmy_plugin.dll.a
printf '!<arch>\n' >liblost.dll.a
pe plugins/only.dll '\x64\x86' '\x22\x20'
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

validate=$source_dir/scripts/validate.sh run=$source_dir/scripts/run.sh
for case in "missing.dll|no such file" "folder.dll|a folder, not a DLL" "notes.txt|not a Windows DLL" \
            "tool.exe|a Windows program, not a DLL" "x86.dll|a 32-bit DLL" "arm.dll|a DLL for machine 0xaa64" \
            "empty|a folder, not a DLL" "plugins|a folder, not a DLL: the DLL in it is plugins/only.dll" \
            "lib/libmy_plugin.dll.a|an import library, not the DLL: the DLL is lib/my_plugin.dll" \
            "liblost.dll.a|an import library, not the DLL (neither lost.dll nor liblost.dll beside it)" \
            "-lost.dll|no such file"; do
    file=${case%%|*} words=${case#*|}
    [[ "$file" == -* ]] || expect "$file: $words" bash "$validate" "$file" --quick
    expect "$file: $words" bash "$run" --plugin "$file" --no-install
done
expect "an empty name, not a DLL" bash "$validate" ""
expect "no plug-in DLL given after --" bash "$validate" --
expect "-lost.dll: no such file" bash "$validate" -- -lost.dll
expect "-lost.dll: an option where the plug-in DLL comes first" bash "$validate" -lost.dll
expect "the plug-in DLL comes first" bash "$validate" --quick x86.dll
expect "--plugin needs the path of a DLL" bash "$run" --plugin "" --no-install
expect "--plugin needs the path of a DLL" bash "$run" --plugin
# No argument at all: the help, and a line that says what is missing, exit 2.
bash "$validate" >"$scratch/out" 2>"$scratch/err"
status=$?
if (( status != 2 )) || [[ -s "$scratch/out" ]] || [[ "$(tail -n 1 "$scratch/err")" != "error: no plug-in DLL given" ]]; then
    printf 'FAIL: validate.sh with no argument exited %d, said:\n' "$status"; cat "$scratch/out" "$scratch/err"; fail=1
fi

[[ "$(listing)" == "$before" ]] || { echo "FAIL: the folder changed"; fail=1; }
(( fail == 0 )) && echo "validate.sh and run.sh --plugin: 29 bad paths and arguments, exit 2 with one line each"
exit $fail
