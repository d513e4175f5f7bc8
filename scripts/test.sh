#!/usr/bin/env bash
# The project's one test command: bash scripts/test.sh [--quick | --only LIST] [--no-install] [--fuzz-seconds N]
#
# On a Debian 12 machine, as root, it
#   1. installs the packages it needs with apt-get (only when one is missing),
#   2. re-runs itself in a private network namespace (only lo, with 255.255.255.255 routed
#      onto it), where everything else happens, so no test can broadcast beyond this machine,
#   3. runs the stages below in this order, each the configure, build and test presets of
#      its name in CMakePresets.json (what `cmake --workflow --preset NAME` runs), in build/NAME:
#        native    GCC: the unit tests, the style checks and the scripts' own tests (those beside
#                  the Windows tests when both stages run); the benchmarks built. When the sanitize
#                  stage runs too, only the listener and the scripts' tests: the rest runs there
#        windows   MinGW-w64: the unit tests and the plug-in's tests under Wine, on Xvfb, with
#                  a Wine prefix of its own (build/wineprefix-test), as scripts/sandboxed.sh
#                  runs them; the package made from this build and checked as it ships
#        sanitize  GCC with AddressSanitizer and UndefinedBehaviorSanitizer: the unit tests and
#                  the style checks; the benchmarks built
#        fuzz      clang: fuzz_message_stream for a bounded time from fuzz/corpus/message_stream
#        clang     clang for MinGW-w64, warnings as errors: the plug-in, the tools and the template's
#                  plug-in; the lifecycle tests and the validator's default run under Wine (after
#                  the Windows tests, in their sandbox), and the lint of the Windows sources
#   4. ends with a table of the steps and their times, the tests ctest counted as failed, and
#      "N passed, N failed" over all stages (from ctest's own summaries; a configure or build
#      that fails counts as one failed test), and exits non-zero on any failure.
# A test that fails, fails: nothing is run again.
# Ctrl-C, SIGTERM or SIGHUP stops it within seconds: whatever it started ends, no Wine server
# is left, no further stage runs, and it exits 130, 143 or 129. One run at a time in a clone
# (the Windows stage's Wine prefix is held): another is refused at once, exit 75.
#
# Options:
#   --quick            native and windows only (skips sanitize, fuzz and clang)
#   --only LIST        only the stages named, e.g. --only windows or --only native,fuzz
#   --no-install       never call apt-get; fail if a package is missing
#   --fuzz-seconds N   how long the fuzzer runs (default 20)
# Environment: SKARVEL_JOBS (build jobs, default 2); SKARVEL_TEST_JOBS (ctest jobs, default the
# test presets': 2, and 6 for the Windows tests, which mostly wait for Wine; tests that share UDP
# port 50001 or the plug-in's window take turns; those that measure time run by themselves, two
# at a time at most, whatever it says);
# WINEDEBUG (default -all,err+all: Wine's own errors, and nothing else of it, in the output of
# a test that fails).
# Logs of every step are kept in build/logs/.
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

stages=(native windows sanitize fuzz clang)
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
# (Debian's wine script says that wine32 is missing unless the value starts with -all.)
export WINEDEBUG=${WINEDEBUG:--all,err+all}
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

prefix=$root/build/wineprefix-test
[[ "$selected" != *" windows "* && "$selected" != *" clang "* ]] || sk_hold_prefix "$prefix"
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
# Inside the namespace from here on. The Windows stage's Wine prefix, held from the start,
# makes this run the clone's only one.

logs=$root/build/logs
if [[ "$selected" == *" windows "* || "$selected" == *" clang "* ]]; then
    sk_sandbox_prepare_beside "$prefix" "$prefix.log"
fi
rm -rf "$logs"
mkdir -p "$logs"

total_passed=0
total_failed=0
total_skipped=0
failures=()          # one entry per failed test or step
failed_outputs=()    # "LOG|PRESET|NAME (WHY)" per failed test, for its output at the end
stage_lines=()       # "name|seconds|result" for the closing table
stage_lines+=("packages|$(seconds "${SKARVEL_TEST_PACKAGES_MS:-0}")|ok")

# A step runs as a job (Ctrl-C ends it at once), its output kept in build/logs/NAME.log,
# its exit status and time in NAME.status; report_* then tell it. Most steps run in the
# foreground one after the other; the clang, fuzz and sanitize builds beside the Windows
# tests, the fuzzer beside the sanitize tests.

log_name() {  # log_name STEP: "windows: clocked tests" -> build/logs/windows-clocked-tests
    local name=${1//: /-}
    printf '%s/%s' "$logs" "${name// /-}"
}

# timed FILE COMMAND...: runs COMMAND, then writes "EXIT_STATUS MILLISECONDS CPU_MILLISECONDS"
# into FILE.status (CPU: user and system time of COMMAND's processes; run it in a job where
# nothing else runs beside it).
timed() {
    local file=$1 start status=0 cpu_before
    shift
    start=$(now_ms)
    children_cpu_ms
    cpu_before=$cpu_ms
    "$@" || status=$?
    children_cpu_ms
    # (Whole or not at all: another job may be waiting for it to appear.)
    printf '%d %d %d\n' "$status" $(( $(now_ms) - start )) $(( cpu_ms - cpu_before )) >"$file.status.part"
    mv "$file.status.part" "$file.status"
}

# children_cpu_ms: cpu_ms = the user and system time of this shell's children so far, in ms
# (the kernel's count of the children waited for: fields 16 and 17 of /proc/PID/stat).
children_cpu_ms() {
    local stat
    read -ra stat <"/proc/$BASHPID/stat"
    cpu_ms=$(( (stat[15] + stat[16]) * 1000 / clock_ticks ))
}
clock_ticks=$(getconf CLK_TCK)

build_step() {  # build_step PRESET [BUILD OPTIONS...]
    local file
    file=$(log_name "$1: build")
    timed "$file" sk_cmake_build "$1" "$file.log" "${@:2}" -- -k 0 >/dev/null 2>&1
}

# test_step PRESET STEP SHOW [CTEST ARGS...]: with SHOW 1 the terminal gets ctest's line
# per finished test.
test_step() {
    local preset=$1 file show=$3 jobs=("${test_jobs[@]}")
    file=$(log_name "$2")
    shift 3
    [[ "$preset" != windows-clocked ]] || jobs=()  # (its two at a time are what it holds to)
    timed "$file" logged_ctest "$file.log" "$show" --preset "$preset" "${jobs[@]}" "$@"
}

logged_ctest() {  # logged_ctest LOG SHOW CTEST-ARGS...
    local log=$1 show=$2
    shift 2
    if (( show == 0 )); then
        ctest "$@" >"$log" 2>&1
        return
    fi
    ctest "$@" 2>&1 | tee "$log" | grep --line-buffered -E "$SK_CTEST_RESULT_LINE"
    return "${PIPESTATUS[0]}"
}

announce() {
    printf '\n==> %s\n' "$*"
}

report_line() {  # report_line NAME MILLISECONDS RESULT [CPU_MILLISECONDS]
    local took
    took=$(seconds "$2")
    [[ -z "${4:-}" ]] || took+=" s, CPU $(seconds "$4")"
    printf '<== %s: %s (%s s)\n' "$1" "$3" "$took"
    stage_lines+=("$1|$took|$3")
}

fail_step() {  # fail_step NAME: a step that is not a test failed; counts as one failed test
    failures+=("$1")
    total_failed=$(( total_failed + 1 ))
}

# report_build PRESET: the build's warnings, or the end of its log; fails if it failed.
report_build() {
    local file status ms cpu warnings
    file=$(log_name "$1: build")
    read -r status ms cpu <"$file.status"
    if (( status != 0 )); then
        grep -v '^\[[0-9]*/[0-9]*\] ' "$file.log" | tail -n 100
        report_line "$1: build" "$ms" FAILED "$cpu"
        fail_step "$1: build"
        return 1
    fi
    warnings=$(grep -c 'warning:' "$file.log")
    if (( warnings > 0 )); then
        printf '%s warning(s):\n' "$warnings"
        grep 'warning:' "$file.log" | sort -u | head -n 40
    fi
    report_line "$1: build" "$ms" ok "$cpu"
}

# report_tests PRESET STEP: the counts of ctest's own summary, added to the totals; the
# tests it names as failed kept for the closing summary.
report_tests() {
    local preset=$1 step=$2 file status ms cpu summary passed failed skipped line
    file=$(log_name "$step")
    read -r status ms cpu <"$file.status"
    if ! summary=$(sk_ctest_summary "$file.log"); then
        tail -n 40 "$file.log"
        report_line "$step" "$ms" FAILED
        fail_step "$step: ctest exited with status $status and no summary"
        return 0
    fi
    read -r _ passed failed skipped <<<"${summary%%$'\n'*}"
    while IFS= read -r line; do
        [[ "$line" == "failed "* ]] || continue
        failures+=("$preset: ${line#failed }")
        failed_outputs+=("$file.log|$preset|${line#failed }")
    done <<<"$summary"
    total_passed=$(( total_passed + passed ))
    total_failed=$(( total_failed + failed ))
    total_skipped=$(( total_skipped + skipped ))
    (( status == 0 || failed > 0 )) || fail_step "$step: ctest exited with status $status"
    line="$passed passed"
    (( failed == 0 )) || line+=", $failed failed"
    (( skipped == 0 )) || line+=", $skipped skipped"
    report_line "$step" "$ms" "$line" "$cpu"
}

stage() {  # stage PRESET: build and test in the foreground
    announce "$1: build"
    sk_run build_step "$1"
    report_build "$1" || return 0
    foreground_tests "$1" "$1: tests"
}

foreground_tests() {  # foreground_tests PRESET STEP [CTEST ARGS...]
    local preset=$1 step=$2
    shift 2
    announce "$step"
    sk_run test_step "$preset" "$step" 1 "$@"
    report_tests "$preset" "$step"
}

# ---------------------------------------------------------------------------
# Stages

# The scripts' own tests (label scripts) mostly wait for the scripts they drive and send
# nothing: when the Windows tests run too, they run beside those instead of before them.
# When the sanitize stage runs too, the unit tests and the style checks run there, under the
# sanitizers, and this stage builds only the listener (which run.sh and the Windows tests'
# stops of run.sh use): the same code built twice by GCC, tested twice, was a minute more.
run_native() {
    local only=()
    [[ "$selected" != *" sanitize "* ]] || only=(--target listen)
    announce "native: build${only:+ (the listener)}"
    sk_run build_step native "${only[@]}"
    report_build native || return 0
    if [[ "$selected" == *" windows "* ]]; then
        scripts_beside=1
        (( ${#only[@]} > 0 )) || foreground_tests native "native: tests" --label-exclude '^scripts$'
    elif (( ${#only[@]} > 0 )); then
        foreground_tests native "native: tests" --label-regex '^scripts$'
    else
        foreground_tests native "native: tests"
    fi
}
scripts_beside=0
run_sanitize() { [[ " ${ran_beside[*]} " == *" sanitize "* ]] || stage sanitize; }
run_fuzz() {
    [[ " ${ran_beside[*]} " == *" fuzz "* ]] || { stage fuzz; return; }
    report_build fuzz && report_tests fuzz "fuzz: tests"
}
run_clang() {  # its tests run under Wine: after the Windows tests, in their sandbox, or in one begun here
    [[ " ${ran_beside[*]} " == *" clang "* ]] && return 0
    if [[ -z "${WINEPREFIX:-}" ]] && ! sk_sandbox_begin "$prefix" 2>>"$logs/wine-prefix.log"; then
        cat "$logs/wine-prefix.log"
        fail_step "clang: Wine prefix"
        return 0
    fi
    stage clang
}
ran_beside=()   # the stages whose build ran beside the Windows tests
beside=         # the job of those builds

# The Windows tests in the sandbox of scripts/sandboxed.sh: the display, then the Wine
# prefix made beside the build (a new one takes a while), then made ready. The tests
# mostly wait for Wine: the clang, fuzz and sanitize stages' builds run beside them, in that
# order, at the lowest priority (begun with the Windows build), and the native stage's
# scripts tests. The clang and sanitize tests run
# after them, as they too send to UDP port 50001 in this namespace, where the Windows tests
# listen: the clang tests as soon as their build is done (the sanitize build going on beside
# them), the sanitize tests with the fuzzer beside them (lowest priority: it only
# computes; beside the sanitize build it got half the processor time); the tests labelled
# clocked (test preset windows-clocked) run last, with nothing else running, since they hold
# a plug-in to a time.
run_windows() {
    local later=() preset start fuzzer=
    beside=
    # The other builds start at once, at the lowest priority: they take what the Windows
    # build leaves of the processors (its configure, its links), then what its tests leave.
    for preset in clang fuzz sanitize; do
        [[ "$selected" == *" $preset "* ]] && later+=("$preset")
    done
    if (( ${#later[@]} > 0 )); then
        sk_spawn low build_steps "${later[@]}"
        beside=$!
        ran_beside=("${later[@]}")
    fi
    announce "windows: build"
    sk_run build_step windows
    report_build windows || { not_beside; return 0; }
    announce "windows: Wine prefix"
    start=$(now_ms)
    if ! sk_sandbox_begin "$prefix" 2>>"$logs/wine-prefix.log"; then
        cat "$logs/wine-prefix.log"
        report_line "windows: Wine prefix" $(( $(now_ms) - start )) FAILED
        fail_step "windows: Wine prefix"
        not_beside
        return 0
    fi
    report_line "windows: Wine prefix" $(( $(now_ms) - start )) ok
    # One hold on the Wine desktop for both ctest runs (the sandbox's end lets it go).
    export SKARVEL_HOLD_DESKTOP=1
    if (( scripts_beside )); then
        sk_spawn test_step native "native: scripts tests" 0 --label-regex '^scripts$'
        scripts_beside=$!
    fi
    foreground_tests windows "windows: tests"
    server_still_there
    if (( scripts_beside )); then
        sk_wait "$scripts_beside"
        report_tests native "native: scripts tests"
    fi
    # The clang build comes first beside the tests: its tests (which mostly wait for Wine)
    # run while the sanitize build goes on.
    if [[ " ${later[*]} " == *" clang "* ]]; then
        if ! wait_for_build clang; then
            fail_step "clang: build: its job ended without saying how the build went"
        elif report_build clang; then
            foreground_tests clang "clang: tests"
        fi
    fi
    if [[ -n "$beside" ]]; then
        announce "waiting for the builds of ${later[*]}, which run beside the tests"
        sk_wait "$beside"
    fi
    # The fuzzer sends nothing and measures no time: beside the sanitize tests.
    if [[ " ${later[*]} " == *" fuzz "* && "$(cut -d' ' -f1 "$(log_name "fuzz: build").status")" == 0 ]]; then
        sk_spawn low test_step fuzz "fuzz: tests" 0
        fuzzer=$!
    fi
    if [[ " ${later[*]} " == *" sanitize "* ]] && report_build sanitize; then
        foreground_tests sanitize "sanitize: tests"
    fi
    [[ -z "$fuzzer" ]] || sk_wait "$fuzzer"
    foreground_tests windows-clocked "windows: clocked tests"
    server_still_there
}

# server_still_there: a wineserver that went away (Wine 8 crashes now and then: docs/wine.md,
# known issues) fails every Windows program after it; said, and counted as a failure.
server_still_there() {
    sk_wine_netns_ok "$prefix" && return 0
    fail_step "windows: the wineserver of $prefix went away during the tests (see docs/wine.md, known issues)"
    announce "the wineserver of $prefix went away during the tests: every Windows test after that failed or was refused"
    return 1
}

# wait_for_build PRESET: until the build of PRESET beside the tests has ended (its status
# written), or the job of those builds has; fails in the latter case.
wait_for_build() {
    local status
    status="$(log_name "$1: build").status"
    [[ -e "$status" ]] || announce "waiting for the $1 build, which runs beside the tests"
    while [[ ! -e "$status" ]]; do
        kill -0 "$beside" 2>/dev/null || [[ -e "$status" ]] || return 1
        sleep 0.2
    done
}

# not_beside: with no Windows tests to run beside, the builds begun beside them are waited
# for, and each later stage runs its own tests as it would alone.
not_beside() {
    [[ -z "$beside" ]] || sk_wait "$beside"
    beside=
    ran_beside=()
}

build_steps() {  # build_steps PRESET...: their builds, one after the other
    local preset
    for preset in "$@"; do
        build_step "$preset"
    done
}

low() {  # low COMMAND...: COMMAND at the lowest priority
    renice -n 19 -p "$BASHPID" >/dev/null
    "$@"
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

# What the first failed tests printed (their end), where a terminal or CI's page shows it:
# the logs stay behind on the machine that ran them.
show_failed_outputs() {
    local entry log preset name shown=0 lines=40 most=5
    for entry in "${failed_outputs[@]}"; do
        IFS='|' read -r log preset name <<<"$entry"
        if (( shown == most )); then
            printf '\n(what the other failed tests printed: build/logs/)\n'
            break
        fi
        printf '\n==> output of %s: %s, its last %d lines at most\n' "$preset" "$name" "$lines"
        sk_ctest_failure_output "$log" "${name% (*}" | tail -n "$lines"
        shown=$(( shown + 1 ))
    done
}

show_failed_outputs
printf '\n==> summary\n'
for line in "${stage_lines[@]}"; do
    IFS='|' read -r name took result <<<"$line"
    printf '  %-34s %20s  %s\n' "$name" "$took s" "$result"
done
printf '  %-34s %20s\n' "total" "$(seconds $(( $(now_ms) - ${SKARVEL_TEST_START_MS:-$(now_ms)} ))) s"
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
