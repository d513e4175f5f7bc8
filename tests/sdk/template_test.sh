#!/usr/bin/env bash
# From the SDK to a validated plug-in, as an author goes: this build installed
# into a temporary prefix (cmake --install), a new project made from the
# template in a temporary folder outside the source tree, then the project's
# own two commands: its unit test natively, its DLL with MinGW-w64 and the
# validator on it under Wine, inside a private network namespace (the SDK's
# scripts/sandboxed.sh; the validator's timing and resource checks, which the
# sound test plug-in's run covers, are skipped to keep this short).
#     template_test.sh BUILD WINE_PREFIX   (BUILD: this project's windows build folder)
set -uo pipefail

build=$1
export SKARVEL_WINEPREFIX=$2
export SKARVEL_VALIDATE_OPTIONS="--quick;--skip;timing,resources"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() {  # step NAME COMMAND...: runs COMMAND, its output in a log shown on failure
    local name=$1 log=$work/$1.log start=$SECONDS
    shift
    if ! "$@" >"$log" 2>&1; then
        printf 'FAIL: %s:\n' "$name"
        sed 's/^/    /' "$log"
        exit 1
    fi
    printf 'ok: %s (%d s)\n' "$name" $(( SECONDS - start ))
}

# expect_passed NAME TEST: the log of step NAME shows TEST run and passed.
expect_passed() {
    grep -qE "Test +#[0-9]+: $2 \.+ +Passed" "$work/$1.log" || { printf 'FAIL: %s did not run %s\n' "$1" "$2"; exit 1; }
}

step install cmake --install "$build" --prefix "$work/sdk"
step new_plugin cmake -P "$work/sdk/share/skarvel/new_plugin.cmake" my_plugin "$work/my_plugin"
cd "$work/my_plugin" || exit 1
step native cmake --workflow --preset native
expect_passed native my_plugin_test
step windows cmake --workflow --preset windows
expect_passed windows my_plugin.validate
[[ -f build/windows/my_plugin.dll ]] || { echo "FAIL: no build/windows/my_plugin.dll"; exit 1; }
# Its debug information beside it, which the validator names faults from.
[[ -s build/windows/my_plugin.dll.debug ]] || { echo "FAIL: no build/windows/my_plugin.dll.debug"; exit 1; }
