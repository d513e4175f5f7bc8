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
# test presets': 2, and 4 for the Windows tests, which mostly wait for Wine; tests that share UDP
# port 50001 or the plug-in's window take turns, and those that measure time run alone);
# WINEDEBUG (default -all).
# Logs of every step, and ctest's JUnit reports, are kept in build/logs/.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"
. "$root/scripts/lib/packages.sh"
. "$root/scripts/lib/builds.sh"

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
agains=()            # one entry per test that failed because of Wine and passed at a second run
stage_lines=()       # "name|seconds|result" for the closing table
stage_lines+=("packages|$(seconds "${SKARVEL_TEST_PACKAGES_MS:-0}")|ok")

fail_step() {  # fail_step NAME: a step that is not a test failed; counts as one failed test
    failures+=("$1")
    total_failed=$(( total_failed + 1 ))
}

# Steps. A preset's build and its tests each run as a job (so Ctrl-C ends them at once),
# their output kept in build/logs/, their exit status and time in a .status file beside
# it; report_build and report_tests then tell them. Most run in the foreground, one after
# the other; the sanitize and fuzz stages' may run beside the Windows tests (run_windows).

# timed STATUS_FILE COMMAND...: runs COMMAND, then writes "EXIT_STATUS MILLISECONDS" into STATUS_FILE.
timed() {
    local file=$1 start status=0
    shift
    start=$(now_ms)
    "$@" || status=$?
    printf '%d %d\n' "$status" $(( $(now_ms) - start )) >"$file"
}

build_step() {  # build_step PRESET: its configure and build presets
    timed "$logs/$1-build.status" sk_cmake_build "$1" "$logs/$1-build.log" -- -k 0 >/dev/null 2>&1
}

tests_log() {  # tests_log NAME: the logs' name for a test step's files: "windows: tests" -> windows-tests
    local name=${1//: /-}
    printf '%s/%s' "$logs" "${name// /-}"
}

# test_step PRESET NAME SHOW [CTEST ARGS...]: its test preset; with SHOW 1 the terminal gets
# one line per finished test.
test_step() {
    local preset=$1 name=$2 show=$3 file
    shift 3
    file=$(tests_log "$name")
    timed "$file.status" logged_ctest "$file.log" "$show" \
        --preset "$preset" "${test_jobs[@]}" --output-junit "$file.xml" "$@"
}

logged_ctest() {  # logged_ctest LOG SHOW CTEST-ARGS...
    local log=$1 show=$2
    shift 2
    if (( show == 0 )); then
        ctest "$@" >"$log" 2>&1
        return
    fi
    ctest "$@" 2>&1 | tee "$log" | grep --line-buffered -vE '^ *Start +[0-9]+: |^Internal ctest changing into directory'
    return "${PIPESTATUS[0]}"
}

announce() {
    printf '\n==> %s\n' "$*"
}

report_line() {  # report_line NAME MILLISECONDS RESULT
    printf '<== %s: %s (%s s)\n' "$1" "$3" "$(seconds "$2")"
    stage_lines+=("$1|$(seconds "$2")|$3")
}

# report_build PRESET: the build's warnings, or the end of its log; fails if it failed.
report_build() {
    local preset=$1 log=$logs/$1-build.log status ms warnings
    read -r status ms <"$logs/$preset-build.status"
    if (( status != 0 )); then
        grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 100
        report_line "$preset: build" "$ms" FAILED
        fail_step "$preset: build"
        return 1
    fi
    warnings=$(grep -c 'warning:' "$log")
    if (( warnings > 0 )); then
        printf '%s warning(s):\n' "$warnings"
        grep 'warning:' "$log" | sort -u | head -n 40
    fi
    report_line "$preset: build" "$ms" ok
}

# again_step NAME: the Windows tests of step NAME that failed because of Wine, run once more;
# one that then passes counts as passed, and the summary names it. Under Wine a program now
# and then ends before its first line, whichever program it is: those that failed within
# seconds without a word run again. Twice in some twenty runs the wineserver itself went
# away during the tests, failing (or skipping) each test from then on: it is started
# again, and every test that did not pass runs again.
again_step() {
    local file names pattern which=--silent why="what ended without a word"
    file=$(tests_log "$1")
    rm -f "$file-again.xml"
    if ! sk_wine_netns_ok "$WINEPREFIX"; then
        ( sk_wine_prefix_prepare "$WINEPREFIX" ) >>"$logs/wine-prefix.log" 2>&1 || return 0
        which=--not-passed why="the wineserver went away during them, started again; what did not pass"
    fi
    mapfile -t names < <(python3 "$root/scripts/lib/ctest_junit.py" "$which" "$file.xml" 2>/dev/null)
    (( ${#names[@]} > 0 )) || return 0
    pattern=$(printf '%s|' "${names[@]//./\\.}")
    announce "$1: once more, $why: ${names[*]}"
    sk_run logged_ctest "$file-again.log" 1 --preset windows -R "^(${pattern%|})\$" \
        --output-junit "$file-again.xml" || true
}

# report_tests PRESET NAME: the counts of ctest's JUnit report (and of its second run,
# again_step's), added to the totals.
report_tests() {
    local preset=$1 name=$2 file status ms summary passed failed skipped line again=()
    file=$(tests_log "$name")
    read -r status ms <"$file.status"
    [[ ! -e "$file-again.xml" ]] || again=("$file-again.xml")
    if ! summary=$(python3 "$root/scripts/lib/ctest_junit.py" "$file.xml" "${again[@]}"); then
        # No report, or a broken one: ctest could not run the tests at all.
        tail -n 40 "$file.log"
        report_line "$name" "$ms" FAILED
        fail_step "$name: ctest exited with status $status and no readable report"
        return 0
    fi
    read -r _ passed failed skipped <<<"${summary%%$'\n'*}"
    local passed_again=0
    while IFS= read -r line; do
        case $line in
            "failed "*) failures+=("$preset: ${line#failed }") ;;
            "again "*) agains+=("$preset: ${line#again }"); passed_again=$(( passed_again + 1 )) ;;
        esac
    done <<<"$summary"
    total_passed=$(( total_passed + passed ))
    total_failed=$(( total_failed + failed ))
    total_skipped=$(( total_skipped + skipped ))
    if (( status != 0 && failed == 0 && passed_again == 0 )); then
        fail_step "$name: ctest exited with status $status"
    fi
    line="$passed passed"
    (( passed_again == 0 )) || line+=" ($passed_again at a second run)"
    (( failed == 0 )) || line+=", $failed failed"
    (( skipped == 0 )) || line+=", $skipped skipped"
    report_line "$name" "$ms" "$line"
}

# stage PRESET: build and test in the foreground, or tell what ran beside the Windows tests.
stage() {
    local preset=$1
    if [[ " ${ran_beside[*]} " != *" $preset "* ]]; then
        announce "$preset: build"
        sk_run build_step "$preset"
    fi
    report_build "$preset" || return 0
    if [[ " ${ran_beside[*]} " != *" $preset "* ]]; then
        announce "$preset: tests"
        sk_run test_step "$preset" "$preset: tests" 1
    fi
    report_tests "$preset" "$preset: tests"
}

# ---------------------------------------------------------------------------
# Stages

ran_beside=()   # the stages whose steps ran beside the Windows tests

run_native() { stage native; }
run_sanitize() { stage sanitize; }
run_fuzz() { stage fuzz; }

# The Windows tests in the sandbox of scripts/sandboxed.sh: the display, then the Wine
# prefix made beside the build (a new one takes a while), then made ready. The tests
# mostly wait for Wine: the sanitize and fuzz stages' builds (and the fuzzer) run beside
# them, at the lowest priority. The sanitize tests run after them, as they too send to
# UDP port 50001 in this namespace, where the Windows tests listen; the tests labelled
# clocked run last and alone, since they hold a plug-in to a time.
run_windows() {
    local prefix=$root/build/wineprefix-test beside= later=() preset
    sk_sandbox_prepare_beside "$prefix" "$logs/wine-prefix.log"
    announce "windows: build"
    sk_run build_step windows
    report_build windows || return 0
    announce "windows: Wine prefix"
    local start
    start=$(now_ms)
    if ! sk_sandbox_begin "$prefix" 2>>"$logs/wine-prefix.log"; then
        cat "$logs/wine-prefix.log"
        report_line "windows: Wine prefix" $(( $(now_ms) - start )) FAILED
        fail_step "windows: Wine prefix"
        return 0
    fi
    report_line "windows: Wine prefix" $(( $(now_ms) - start )) ok
    # One hold on the Wine desktop for both ctest runs (the sandbox's end lets it go).
    export SKARVEL_HOLD_DESKTOP=1
    for preset in sanitize fuzz; do
        [[ "$selected" == *" $preset "* ]] && later+=("$preset")
    done
    if (( ${#later[@]} > 0 )); then
        sk_spawn beside_windows_tests "${later[@]}"
        beside=$!
        ran_beside=("${later[@]}")
    fi
    announce "windows: tests (beside them: ${later[*]:-nothing})"
    sk_run test_step windows "windows: tests" 1 --label-exclude '^clocked$'
    again_step "windows: tests"
    report_tests windows "windows: tests"
    if [[ -n "$beside" ]]; then
        announce "waiting for ${later[*]}, which run beside the tests"
        sk_wait "$beside"
    fi
    for preset in "${later[@]}"; do
        if ! runs_beside "$preset" && built "$preset"; then
            announce "$preset: tests"
            sk_run test_step "$preset" "$preset: tests" 1
        fi
    done
    announce "windows: clocked tests (alone)"
    sk_run test_step windows "windows: clocked tests" 1 --label-regex '^clocked$'
    again_step "windows: clocked tests"
    report_tests windows "windows: clocked tests"
}

beside_windows_tests() {  # beside_windows_tests PRESET...: each one's build, then the tests that may, as one low job
    local preset
    renice -n 19 -p "$BASHPID" >/dev/null
    for preset in "$@"; do
        build_step "$preset"
        if runs_beside "$preset" && built "$preset"; then
            test_step "$preset" "$preset: tests" 0
        fi
    done
}

runs_beside() {  # runs_beside PRESET: its tests may run beside the Windows tests (they send nothing)
    [[ "$1" == fuzz ]]
}

built() {  # built PRESET: its build step succeeded
    [[ "$(cut -d' ' -f1 "$logs/$1-build.status")" == 0 ]]
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
if (( ${#agains[@]} > 0 )); then
    printf 'failed because of Wine (ended without a word, or its server went away), then passed at a second run:\n'
    printf '  %s\n' "${agains[@]}"
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
