#!/usr/bin/env bash
# The project's one test command: bash scripts/test.sh [--quick | --only LIST] [--no-install] [--fuzz-seconds N]
#
# On a Debian 12 machine, as root, it
#   1. installs the packages it needs with apt-get (only when one is missing),
#   2. re-runs itself in a private network namespace (only lo, with 255.255.255.255 routed
#      onto it), where everything else happens, so no test can broadcast beyond this machine,
#   3. runs the stages below in this order, each the configure, build and test presets of
#      its name in CMakePresets.json (what `cmake --workflow --preset NAME` runs), in build/NAME:
#        native    GCC: the unit tests and the scripts' own tests; the benchmarks built
#        windows   MinGW-w64: the unit tests and the plug-in's tests under Wine, on Xvfb, with
#                  a Wine prefix of its own (build/wineprefix-test), as scripts/sandboxed.sh
#                  runs them; the package made from this build and checked as it ships
#        sanitize  GCC with AddressSanitizer and UndefinedBehaviorSanitizer: the unit tests
#        fuzz      clang: fuzz_message_stream for a bounded time from fuzz/corpus/message_stream
#   4. ends with "N passed, N failed" (every ctest case, as ctest's JUnit report gives them; a
#      configure or build that fails counts as one failed test) and exits non-zero on any failure.
# Ctrl-C stops it at once: whatever it started ends, no further stage runs, and it exits 130.
#
# Options:
#   --quick            native and windows only (skips sanitize and fuzz)
#   --only LIST        only the stages named, e.g. --only windows or --only native,fuzz
#   --no-install       never call apt-get; fail if a package is missing
#   --fuzz-seconds N   how long the fuzzer runs (default 20)
# Environment: SKARVEL_JOBS (build jobs, default 2); SKARVEL_TEST_JOBS (ctest jobs, default the
# test presets' 2: tests that share UDP port 50001 or the plug-in's window take turns, and those
# that measure time run alone); WINEDEBUG (default -all).
# Logs of every step, and ctest's JUnit reports, are kept in build/logs/.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"

usage() {
    sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$root/scripts/test.sh"
}

stages=(native windows sanitize fuzz)
selected=" ${stages[*]} "
args=("$@")
while (( $# > 0 )); do
    case $1 in
        --quick) selected=" native windows " ;;
        --only)
            selected=" ${2:-} "
            selected=${selected//,/ }
            for s in $selected; do
                [[ " ${stages[*]} " == *" $s "* ]] || sk_die "--only: no stage $s (${stages[*]})"
            done
            shift ;;
        --no-install) export SK_NO_INSTALL=1 ;;
        --fuzz-seconds)
            [[ "${2:-}" =~ ^[0-9]+$ && "$2" -ge 1 ]] || sk_die "--fuzz-seconds needs a number of seconds, 1 or more"
            export SKARVEL_FUZZ_SECONDS=$2
            shift ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; sk_die "unknown option: $1" ;;
    esac
    shift
done
export CMAKE_BUILD_PARALLEL_LEVEL=${SKARVEL_JOBS:-2}
test_jobs=()
[[ -z "${SKARVEL_TEST_JOBS:-}" ]] || test_jobs=(-j "$SKARVEL_TEST_JOBS")

now_ms() {
    local t=${EPOCHREALTIME/./}
    printf '%d' $(( t / 1000 ))
}

seconds() {  # seconds MILLISECONDS
    printf '%d.%d' $(( $1 / 1000 )) $(( $1 % 1000 / 100 ))
}

# ---------------------------------------------------------------------------
# Outside the namespace: packages (apt-get needs the network), then re-enter.

if ! sk_in_private_netns; then
    export SKARVEL_TEST_START_MS
    SKARVEL_TEST_START_MS=$(now_ms)
    printf '==> packages\n'
    sk_ensure_packages "${SK_PACKAGES[@]}"
    export SKARVEL_TEST_PACKAGES_MS=$(( $(now_ms) - SKARVEL_TEST_START_MS ))
    printf '<== packages: ok (%s s)\n' "$(seconds "$SKARVEL_TEST_PACKAGES_MS")"
fi
sk_enter_private_netns "$root/scripts/test.sh" "${args[@]}"

# ---------------------------------------------------------------------------
# Inside the namespace from here on.

logs=$root/build/logs
rm -rf "$logs"
mkdir -p "$logs"

total_passed=0
total_failed=0
total_skipped=0
failures=()          # one entry per failed test or step
stage_lines=()       # "name|seconds|result" for the closing table
stage_lines+=("packages|$(seconds "${SKARVEL_TEST_PACKAGES_MS:-0}")|ok")
stage_start_ms=0
stage_name=

stage_begin() {
    stage_name=$1
    stage_start_ms=$(now_ms)
    printf '\n==> %s\n' "$stage_name"
}

stage_end() {  # stage_end RESULT
    local took
    took=$(seconds $(( $(now_ms) - stage_start_ms )))
    printf '<== %s: %s (%s s)\n' "$stage_name" "$1" "$took"
    stage_lines+=("$stage_name|$took|$1")
}

fail_step() {  # fail_step NAME: a step that is not a test failed; counts as one failed test
    failures+=("$1")
    total_failed=$(( total_failed + 1 ))
}

# build PRESET: its configure and build presets; the compiler's warnings shown.
build() {
    local preset=$1 log=$logs/$1-build.log warnings
    stage_begin "$preset: build"
    if ! sk_cmake_build "$preset" "$log" -- -k 0; then
        stage_end FAILED
        fail_step "$preset: build"
        return 1
    fi
    warnings=$(grep -c 'warning:' "$log")
    if (( warnings > 0 )); then
        printf '%s warning(s):\n' "$warnings"
        grep 'warning:' "$log" | sort -u | head -n 40
    fi
    stage_end ok
}

# ctest_with_progress LOG CTEST-ARGS...: the log keeps everything, the terminal one line
# per finished test.
ctest_with_progress() {
    local log=$1
    shift
    ctest "$@" 2>&1 | tee "$log" | grep --line-buffered -vE '^ *Start +[0-9]+: |^Internal ctest changing into directory'
    return "${PIPESTATUS[0]}"
}

# run_tests PRESET: its test preset; adds the counts of ctest's JUnit report to the totals.
run_tests() {
    local preset=$1 log=$logs/$1-tests.log report=$logs/$1-tests.xml status=0 summary passed failed skipped line
    stage_begin "$preset: tests"
    rm -f "$report"
    sk_run ctest_with_progress "$log" --preset "$preset" "${test_jobs[@]}" --output-junit "$report" || status=$?
    if ! summary=$(python3 "$root/scripts/lib/ctest_junit.py" "$report"); then
        # No report, or a broken one: ctest could not run the tests at all.
        stage_end FAILED
        fail_step "$preset: ctest exited with status $status and no readable report"
        return 0
    fi
    read -r _ passed failed skipped <<<"${summary%%$'\n'*}"
    while IFS= read -r line; do
        [[ "$line" == "failed "* ]] && failures+=("$preset: ${line#failed }")
    done <<<"$summary"
    total_passed=$(( total_passed + passed ))
    total_failed=$(( total_failed + failed ))
    total_skipped=$(( total_skipped + skipped ))
    if (( status != 0 && failed == 0 )); then
        fail_step "$preset: ctest exited with status $status"
    fi
    line="$passed passed"
    (( failed == 0 )) || line+=", $failed failed"
    (( skipped == 0 )) || line+=", $skipped skipped"
    stage_end "$line"
}

# ---------------------------------------------------------------------------
# Stages

run_native() {
    build native && run_tests native
}

run_sanitize() {
    build sanitize && run_tests sanitize
}

run_fuzz() {
    build fuzz && run_tests fuzz
}

# The Windows tests in the sandbox of scripts/sandboxed.sh: the display, then the
# Wine prefix made beside the build (a new one takes a while), then made ready.
run_windows() {
    local prefix=$root/build/wineprefix-test
    sk_sandbox_prepare_beside "$prefix" "$logs/wine-prefix.log"
    build windows || return 0
    stage_begin "windows: Wine prefix"
    if ! sk_sandbox_begin "$prefix" 2>>"$logs/wine-prefix.log"; then
        cat "$logs/wine-prefix.log"
        stage_end FAILED
        fail_step "windows: Wine prefix"
        return 0
    fi
    stage_end ok
    run_tests windows
}

printf 'skarvel tests in %s (private network namespace %s), build jobs %s\n' \
    "$root" "$(readlink /proc/self/ns/net)" "$CMAKE_BUILD_PARALLEL_LEVEL"

not_run=()
for stage in "${stages[@]}"; do
    if [[ "$selected" == *" $stage "* ]]; then
        "run_$stage"
    else
        not_run+=("$stage")
    fi
done

# ---------------------------------------------------------------------------
# Closing summary

printf '\n==> summary\n'
for line in "${stage_lines[@]}"; do
    IFS='|' read -r name took result <<<"$line"
    printf '  %-34s %7s s  %s\n' "$name" "$took" "$result"
done
printf '  %-34s %7s s\n' "total" "$(seconds $(( $(now_ms) - ${SKARVEL_TEST_START_MS:-$(now_ms)} )))"
if (( ${#failures[@]} > 0 )); then
    printf 'failed:\n'
    printf '  %s\n' "${failures[@]}"
fi
if (( ${#not_run[@]} > 0 )); then
    printf 'not run (by option): %s\n' "${not_run[*]}"
fi
if (( total_skipped > 0 )); then
    printf '%d passed, %d failed, %d skipped\n' "$total_passed" "$total_failed" "$total_skipped"
else
    printf '%d passed, %d failed\n' "$total_passed" "$total_failed"
fi
(( total_failed == 0 ))
