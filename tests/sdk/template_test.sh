#!/usr/bin/env bash
# From the SDK to a validated plug-in, as an author goes: this build installed
# into a temporary prefix (cmake --install), a new project made from the
# template in a temporary folder outside the source tree, then the project's
# own commands: its unit test natively, its DLL with MinGW-w64 and assertions
# on and the validator on it under Wine, inside a private network namespace (the SDK's
# scripts/sandboxed.sh; the validator's timing and resource checks, which the
# sound test plug-in's run covers, are skipped to keep this short); then the
# DLL to ship, built without assertions (its validation is the same run).
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
# The validated DLL has the message model's assertions on: a variant that
# calls GetDouble on every message, whatever its data type, fails its validate
# test (the getter stops the plug-in at the first String), where a build
# without assertions would read the wrong bytes and pass.
cp src/my_plugin.cpp "$work/my_plugin.cpp"
sed -i 's/message.GetID() == aircraft_altitude.GetValue() && message.GetDataType() == tm_msg_data_type::Double/true/' \
    src/my_plugin.cpp
cmp -s src/my_plugin.cpp "$work/my_plugin.cpp" && { echo "FAIL: the template's frame logic changed: no variant made"; exit 1; }
cmake -D "SKARVEL_VALIDATE_OPTIONS=--only;lifecycle.usual_order" build/windows >"$work/variant.log" 2>&1
if cmake --build --preset windows >>"$work/variant.log" 2>&1 && ctest --preset windows >>"$work/variant.log" 2>&1; then
    echo "FAIL: the variant with GetDouble on every message passed its validate test:"; sed 's/^/    /' "$work/variant.log"
    exit 1
fi
grep -q "lifecycle.usual_order *FAIL *a failed assertion called abort(): Assertion failed: " "$work/variant.log" ||
    { echo "FAIL: the variant's validate test did not fail on the assertion, named with its text:"
      sed 's/^/    /' "$work/variant.log"; exit 1; }
echo "ok: GetDouble on a String stops the validated build (the assertion's text in lifecycle.usual_order)"
cp "$work/my_plugin.cpp" src/my_plugin.cpp
# The DLL to ship: the release preset, built without assertions.
step release_build bash -c 'cmake --preset release && cmake --build --preset release'
[[ -f build/release/my_plugin.dll ]] || { echo "FAIL: no build/release/my_plugin.dll"; exit 1; }
