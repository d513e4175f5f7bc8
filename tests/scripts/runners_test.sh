#!/usr/bin/env bash
# The runners in the sandbox, their Windows programs stood in for: what reaches Wine and
# what the runner concludes. Names: a plug-in whose name holds spaces, quotes, a leading
# "-", non-Latin letters or an emoji reaches `wine validate.exe` (validate.sh) and
# `wine host.exe` (run.sh --plugin) byte for byte. Verdicts: run.sh --plugin exits 1 when
# the host ran no frame of the plug-in, even with the host's status 0, and 0 when it ran.
# Run from a scratch checkout whose builds are stand-ins, in this sandbox (reused through
# SKARVEL_WINEPREFIX, as a runner started in a sandboxed.sh shell would).
#     runners_test.sh SOURCE_DIR
set -u
. "$(dirname "${BASH_SOURCE[0]}")/checkout.sh" "$1"
. "$1/tests/tools/test_guards.sh"
trap _checkout_cleanup EXIT
require_wine_sandbox
fail=0
say_fail() { printf 'FAIL: %s\n' "$*"; fail=1; }

# The builds: files where the runners look for them; the listener a stand-in that waits
# for its stop request and says what it received.
for file in plugin/win32/skarvel_external_dll.dll tools/host/host.exe tools/validate/validate.exe; do
    mkdir -p "$checkout/build/windows/${file%/*}"
    : >"$checkout/build/windows/$file"
done
mkdir -p "$checkout/build/native/tools/listen"
# (Its sleep, started in the background, ignores Ctrl-C: the trap ends it, or the runner
# would wait out the listener's grace for it.)
stand_in listen 'echo "waiting for motion datagrams" >&2; trap "echo \"datagrams: 0 valid\"; kill \$sleeper; exit 0" INT TERM
sleep 60 & sleeper=$!; wait'
ln -s "$scratch/bin/listen" "$checkout/build/native/tools/listen/listen"
# Wine: records its arguments; host.exe says it ran FRAMES frames (default 30).
stand_in wine '[[ $1 == *host.exe ]] && printf "host: %d frames, 0 messages in 1.00 s\n" "${FRAMES:-30}"; exit 0'
export SKARVEL_WINEPREFIX=$WINEPREFIX SK_SANDBOX_PREFIX=$WINEPREFIX
runner=(env -C "$scratch/work" PATH="$scratch/bin:$PATH" bash)
runner_in() { env -C "$1" PATH="$scratch/bin:$PATH" bash "${@:2}"; }

# An x64 DLL as far as the runners read it.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0\x64\x86'; head -c 16 /dev/zero; printf '\x22\x20'
  head -c 200 /dev/zero; } >"$scratch/dll"

# last_wine: the arguments of the last wine started, one per line.
last_wine() {
    local line
    line=$(grep '^wine ' "$record" | tail -n 1)
    eval "set -- ${line#wine * }"
    printf '%s\n' "$@"
}

names=("with space.dll" "it's \"quoted\".dll" "-lead.dll" "飛行.dll" "plane🛩.dll" "ünïcødé ø.dll" "back\\slash.dll")
for name in "${names[@]}"; do
    mkdir -p "$scratch/work/folder $name"
    cp "$scratch/dll" "$scratch/work/folder $name/$name"
    path="folder $name/$name"
    "${runner[@]}" "$checkout/scripts/validate.sh" "./$path" --quick >"$scratch/out" 2>&1 ||
        say_fail "validate.sh ./$path: $(cat "$scratch/out")"
    [[ "$(last_wine | tail -n 1)" == "./$path" ]] || say_fail "validate.sh ./$path gave wine: $(last_wine)"
    "${runner[@]}" "$checkout/scripts/run.sh" --no-install --seconds 3 --plugin "$path" >"$scratch/out" 2>&1 ||
        say_fail "run.sh --plugin $path: $(cat "$scratch/out")"
    [[ "$(last_wine | tail -n 1)" == "$scratch/work/$path" ]] || say_fail "run.sh --plugin $path gave wine: $(last_wine)"
done
# A name that begins with "-", given as it is: validate.sh takes it after "--", and
# hands it on so that the validator cannot take it for an option.
runner_in "$scratch/work/folder -lead.dll" "$checkout/scripts/validate.sh" -- -lead.dll --quick \
    >"$scratch/out" 2>&1 || say_fail "validate.sh -- -lead.dll: $(cat "$scratch/out")"
[[ "$(last_wine | tail -n 2 | tr '\n' ' ')" == "--quick ./-lead.dll " ]] || say_fail "validate.sh -- -lead.dll gave wine: $(last_wine)"

# Verdicts: no frame run is a failure, whatever the host's status.
FRAMES=0 "${runner[@]}" "$checkout/scripts/run.sh" --no-install --seconds 3 --plugin "folder with space.dll/with space.dll" \
    >"$scratch/out" 2>&1
status=$?
(( status == 1 )) && grep -q "the host ran no frame of the plug-in" "$scratch/out" ||
    say_fail "run.sh --plugin, no frame run: exit $status, said: $(cat "$scratch/out")"

(( fail == 0 )) && echo "${#names[@]} names passed intact by validate.sh and run.sh --plugin; no frame run is exit 1"
exit $fail
