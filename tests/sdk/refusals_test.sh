#!/usr/bin/env bash
# What the SDK refuses, each with one sentence, leaving everything as it was:
# the new project generator given a bad name or a folder that is not empty,
# find_package given a version it does not satisfy, skarvel_add_plugin given a
# toolchain that is not Windows x64 or a plug-in with an extra export.
#     refusals_test.sh BUILD      (BUILD: this project's native build folder, installed from)
set -uo pipefail

build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
toolchain=$here/../../cmake/mingw-w64-x86_64.cmake
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$(( failures + 1 ))
}

# refused NAME SENTENCE COMMAND...: COMMAND fails, and its output holds SENTENCE on one line.
refused() {
    local name=$1 sentence=$2 output
    shift 2
    if output=$("$@" 2>&1); then
        fail "$name: succeeded"
    elif ! grep -qF -- "$sentence" <<<"$output"; then
        fail "$name: no line \"$sentence\" in:"
        printf '%s\n' "$output" | sed 's/^/    /'
    else
        printf 'ok: %s: %s\n' "$name" "$(grep -F -- "$sentence" <<<"$output" | sed 's/^ *//')"
    fi
}

cmake --install "$build" --prefix "$work/sdk" >/dev/null || { echo "cmake --install $build failed"; exit 1; }
new_plugin=$work/sdk/share/skarvel/new_plugin.cmake

# The generator: nothing made, nothing written over.
refused "a name that is no identifier" '"my plug-in" is not a plug-in name' \
    cmake -P "$new_plugin" "my plug-in" "$work/made"
refused "a name Windows keeps" '"NUL" is a name that Windows or CMake keeps for itself' \
    cmake -P "$new_plugin" NUL "$work/made"
[[ ! -e "$work/made" ]] || fail "a refused name still made $work/made"
mkdir -p "$work/taken"
printf 'my notes\n' >"$work/taken/notes.txt"
refused "a folder that is not empty" "$work/taken is not empty: name a new or empty folder (nothing was written)" \
    cmake -P "$new_plugin" my_plugin "$work/taken"
[[ "$(ls -A "$work/taken")" == notes.txt && "$(cat "$work/taken/notes.txt")" == "my notes" ]] \
    || fail "the folder that was not empty changed: $(ls -A "$work/taken")"
refused "a file for the folder" "$work/taken/notes.txt is a file: name a new or empty folder" \
    cmake -P "$new_plugin" my_plugin "$work/taken/notes.txt"
[[ -z "$(find "$work" -maxdepth 2 -name '.new_plugin-*')" ]] || fail "the generator left a temporary folder"

# find_package(SkarvelPluginSdk VERSION) takes 1.0 and 1 (SameMajorVersion), not 2.0, 0.9 or 1.1.
for wanted in 1.0 1; do
    cmake -S "$here/version" -B "$work/version-$wanted" -DVERSION=$wanted -DCMAKE_PREFIX_PATH="$work/sdk" \
        >"$work/version.log" 2>&1 || { fail "find_package $wanted refused:"; cat "$work/version.log"; }
done
for wanted in 2.0 0.9 1.1; do
    refused "find_package $wanted" "compatible with requested version \"$wanted\"" \
        cmake -S "$here/version" -B "$work/version-$wanted" -DVERSION=$wanted -DCMAKE_PREFIX_PATH="$work/sdk"
done

# skarvel_add_plugin with a toolchain that is not Windows x64, one that names no processor (its compiler
# does), then with an extra export.
plugin=(-S "$here/plugin" -DCMAKE_PREFIX_PATH="$work/sdk" -DSOURCE="$here/plugin/extra_export.cpp")
refused "skarvel_add_plugin for Linux" \
    "skarvel_add_plugin(checked_plugin): a plug-in is a Windows x64 DLL, and this toolchain builds for Linux" \
    cmake "${plugin[@]}" -B "$work/linux"
refused "skarvel_add_plugin for 32-bit Windows" \
    "skarvel_add_plugin(checked_plugin): a plug-in is a Windows x64 DLL, and this toolchain builds for 32-bit i686" \
    cmake "${plugin[@]}" -B "$work/win32" -DCMAKE_TOOLCHAIN_FILE="$here/plugin/mingw-w64-i686.cmake"
cmake "${plugin[@]}" -B "$work/unnamed" -DCMAKE_TOOLCHAIN_FILE="$here/plugin/mingw-w64-x86_64-unnamed.cmake" \
    >"$work/unnamed.log" 2>&1 || { fail "a MinGW-w64 x64 toolchain that names no processor was refused:"; cat "$work/unnamed.log"; }
if cmake "${plugin[@]}" -B "$work/x64" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$work/x64.log" 2>&1; then
    refused "skarvel_add_plugin with an extra export" "checked_plugin.dll exports debug_counter besides the four \
entry points: a plug-in exports nothing else (removed)" cmake --build "$work/x64"
    [[ ! -e "$work/x64/checked_plugin.dll" ]] || fail "the DLL with an extra export was left in the build folder"
else
    fail "configuring the plug-in with an extra export failed:"
    cat "$work/x64.log"
fi

if (( failures > 0 )); then
    printf '%d failed\n' "$failures"
    exit 1
fi
