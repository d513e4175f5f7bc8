#!/usr/bin/env bash
# The validator's report files under Wine: a report that would overwrite the
# plug-in, two reports that are one file, a folder, and an empty check list
# are each refused with one line and exit status 2 before any check runs, and
# nothing is written. Usage: validate_outputs.sh VALIDATE.exe PLUGIN.dll
# Runs only in the sandbox of scripts/sandboxed.sh, as the end-to-end test. Exit 77 = skipped.
set -u
validate=$1 plugin=$2

# A check that ran by mistake would load the plug-in, which broadcasts.
. "$(dirname "${BASH_SOURCE[0]}")/test_guards.sh"
require_private_network
require_wine_sandbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$plugin" "$work/plugin.dll"
mkdir "$work/reports"
cd "$work" || exit 1
fail=0
dll_sum=$(cksum <plugin.dll)

# refused TEXT ARGS...: exit 2, TEXT in the one line said, no check run.
refused() {
    text=$1
    shift
    wine "$validate" "$@" >out.txt 2>&1
    got=$?
    tr -d '\r' <out.txt >said.txt
    if [ $got -ne 2 ] || ! grep -qF -- "$text" said.txt || grep -q "^validate .*: [0-9]* checks" said.txt; then
        echo "FAIL: validate $* exited $got (wanted 2) saying:"; cat said.txt; echo "(wanted: $text)"
        fail=1
    fi
}

refused "validate: --json ./plugin.dll is the plug-in plugin.dll itself: name another file" \
    --json ./plugin.dll --only file.pe_format plugin.dll
refused "validate: --junit r.xml and --json ./r.xml are the same file: name two" \
    --junit r.xml --json ./r.xml --only file.pe_format plugin.dll
refused "validate: --junit reports is a folder: name a file" --junit reports --only file.pe_format plugin.dll
refused 'validate: --only wants checks or groups, comma-separated, not ""' --only "" plugin.dll
refused 'validate: --skip wants checks or groups, comma-separated, not ""' --skip "" plugin.dll
[ "$(cksum <plugin.dll)" = "$dll_sum" ] || { echo "FAIL: plugin.dll changed"; fail=1; }
leftovers=$(ls | grep -v -e '^plugin.dll$' -e '^reports$' -e '^out.txt$' -e '^said.txt$')
[ -z "$leftovers" ] || { echo "FAIL: left behind: $leftovers"; fail=1; }

[ $fail -eq 0 ] && echo "validate: bad report files and empty check lists refused before any check; nothing written"
exit $fail
