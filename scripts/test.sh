#!/usr/bin/env bash
# The project's one test command: bash scripts/test.sh [--quick | --only LIST] [--no-install] [--fuzz-seconds N]
#
# On a Debian 12 machine, as root, it
#   1. installs the packages it needs with apt-get (only when one is missing),
#   2. re-runs itself in a private network namespace (only lo, with 255.255.255.255 routed
#      onto it), where everything else happens, so no test can broadcast beyond this machine,
#   3. builds and tests the presets of CMakePresets.json, each in build/<preset>:
#        native    GCC: the unit tests and the scripts' own tests
#        windows   MinGW-w64: the unit tests and the plug-in tests under Wine, on Xvfb,
#                  with a Wine prefix of its own (build/wineprefix-test); with them the
#                  release package (preset release, as `cmake --workflow --preset release`
#                  makes it), unpacked and checked under Wine as it ships
#        sanitize  GCC with AddressSanitizer and UndefinedBehaviorSanitizer: the unit tests
#        fuzz      clang: fuzz_message_stream for a bounded time from fuzz/corpus/message_stream
#                  (new inputs go to a scratch directory, the committed corpus is only read)
#   4. ends with "N passed, N failed" (every ctest case, as ctest's JUnit report gives them, plus
#      the fuzz run as one test; a configure or build that fails counts as one failed test) and
#      exits non-zero on any failure.
# Ctrl-C stops it at once: whatever it started ends, no further stage runs, and it exits 130.
#
# Options:
#   --quick            native and windows only (skips sanitize and fuzz)
#   --only LIST        only the presets named, e.g. --only windows or --only native,fuzz
#   --no-install       never call apt-get; fail if a package is missing
#   --fuzz-seconds N   how long the fuzzer runs (default 20)
# Environment: SKARVEL_JOBS (build jobs, default 2); SKARVEL_TEST_JOBS (ctest jobs, default 1: the
# tests share one namespace with its UDP port 50001 and, under Wine, one desktop, where the plug-in
# tests look for the plug-in's window: two at once see each other's); WINEDEBUG (default -all).
# Logs of every step, and ctest's JUnit reports, are kept in build/logs/.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"

usage() {
    sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$root/scripts/test.sh"
}

presets=(native windows sanitize fuzz)
selected=" ${presets[*]} "
fuzz_seconds=20
args=("$@")
while (( $# > 0 )); do
    case $1 in
        --quick) selected=" native windows " ;;
        --only)
            selected=" ${2:-} "
            selected=${selected//,/ }
            for p in $selected; do
                [[ " ${presets[*]} " == *" $p "* ]] || sk_die "--only: no preset $p (${presets[*]})"
            done
            shift ;;
        --no-install) export SK_NO_INSTALL=1 ;;
        --fuzz-seconds)
            # (libFuzzer reads 0 as no limit)
            [[ "${2:-}" =~ ^[0-9]+$ && "$2" -ge 1 ]] || sk_die "--fuzz-seconds needs a number of seconds, 1 or more"
            fuzz_seconds=$2
            shift ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; sk_die "unknown option: $1" ;;
    esac
    shift
done

jobs=${SKARVEL_JOBS:-2}
test_jobs=${SKARVEL_TEST_JOBS:-1}
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs

packages=(
    g++ cmake ninja-build libgtest-dev libbenchmark-dev python3 # native and sanitize builds, tests
    clang libclang-rt-14-dev llvm                               # fuzz build, symbolized reports
    g++-mingw-w64-x86-64-posix                                  # windows build
    wine wine64 xvfb xauth fonts-liberation                     # windows tests
    iproute2 util-linux                                         # the private network namespace
)

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
    sk_ensure_packages "${packages[@]}"
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

# configure_and_build PRESET: cmake configure and build; prints the log only when
# something goes wrong, and the compiler's warnings otherwise.
configure_and_build() {
    local preset=$1 log
    stage_begin "$preset: configure"
    log=$logs/$preset-configure.log
    if ! sk_run cmake --preset "$preset" >"$log" 2>&1; then
        cat "$log"
        stage_end FAILED
        fail_step "$preset: configure"
        return 1
    fi
    stage_end ok

    stage_begin "$preset: build"
    log=$logs/$preset-build.log
    if ! sk_run cmake --build --preset "$preset" -- -k 0 >"$log" 2>&1; then
        # Compiler output in full, without ninja's progress lines.
        grep -v '^\[[0-9]*/[0-9]*\] ' "$log"
        stage_end FAILED
        fail_step "$preset: build"
        return 1
    fi
    show_warnings "$log"
    stage_end ok
}

show_warnings() {  # show_warnings LOG
    local warnings
    warnings=$(grep -c 'warning:' "$1")
    if (( warnings > 0 )); then
        printf '%s warning(s):\n' "$warnings"
        grep 'warning:' "$1" | sort -u | head -n 40
    fi
}

# ctest_with_progress LOG CTEST-ARGS...: the log keeps everything, the terminal one line
# per finished test.
ctest_with_progress() {
    local log=$1
    shift
    ctest "$@" 2>&1 | tee "$log" | grep --line-buffered -vE '^ *Start +[0-9]+: |^Internal ctest changing into directory'
    return "${PIPESTATUS[0]}"
}

# run_ctest PRESET [CTEST ARGS...]: the preset's tests (its test preset); adds the counts of
# ctest's JUnit report to the totals.
run_ctest() {
    local preset=$1 log report status=0 summary counts passed failed skipped line
    shift
    stage_begin "$preset: tests"
    log=$logs/$preset-tests.log
    report=$logs/$preset-tests.xml
    rm -f "$report"
    sk_run ctest_with_progress "$log" --preset "$preset" -j "$test_jobs" --output-junit "$report" "$@" \
        || status=$?
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
    counts="$passed passed"
    (( failed == 0 )) || counts+=", $failed failed"
    (( skipped == 0 )) || counts+=", $skipped skipped"
    if (( passed + failed + skipped == 0 )); then
        stage_end "ok, no tests"
    else
        stage_end "$counts"
    fi
}

# ---------------------------------------------------------------------------
# Stages

run_native() {
    configure_and_build native && run_ctest native
}

run_sanitize() {
    configure_and_build sanitize || return 0
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:detect_stack_use_after_return=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        run_ctest sanitize
}

wine_prefix=$root/build/wineprefix-test

# make_release_package: the release package, made by the command the README gives;
# the windows preset's tests check it.
make_release_package() {
    local log=$logs/release-package.log
    stage_begin "release: package"
    if ! sk_run cmake --workflow --preset release >"$log" 2>&1; then
        grep -v '^\[[0-9]*/[0-9]*\] ' "$log"
        stage_end FAILED
        fail_step "release: package"
        return 1
    fi
    show_warnings "$log"
    sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$log"
    stage_end ok
}

run_windows() {
    local prep_pid prep_status=0 built=0 skip_package=()
    # The display and the Wine prefix are made while the builds run.
    sk_xvfb_start
    sk_on_exit sk_wine_stop "$wine_prefix"
    sk_spawn sk_wine_prefix_prepare "$wine_prefix" >"$logs/wine-prefix.log" 2>&1
    prep_pid=$!

    configure_and_build windows || built=1
    # A package that failed to build is counted once, not again by each of its checks.
    make_release_package || skip_package=(--exclude-regex '^package\.')

    stage_begin "windows: Wine prefix"
    sk_wait "$prep_pid" || prep_status=$?
    if (( prep_status != 0 )); then
        cat "$logs/wine-prefix.log"
        stage_end FAILED
        fail_step "windows: Wine prefix"
        return 0
    fi
    sk_wine_env "$wine_prefix"
    # Refuse to run anything under Wine unless its server is in this namespace.
    if ! ( sk_wine_verify_netns "$wine_prefix" ); then
        stage_end FAILED
        fail_step "windows: wineserver outside the private network namespace"
        return 0
    fi
    stage_end ok
    (( built == 0 )) || return 0

    # Wine ends its desktop process a second after the last program with a
    # window, and a test that starts while it ends can wait seconds for its first
    # window: one program holds the desktop open while the tests run.
    local desktop_keeper
    sk_spawn wine build/windows/tests/support/keep_desktop.exe
    desktop_keeper=$!
    run_ctest windows "${skip_package[@]}"
    sk_stop_job "$desktop_keeper"
    if ! ( sk_wine_verify_netns "$wine_prefix" ) 2>/dev/null; then
        printf 'the wineserver of %s is gone or outside the namespace after the tests\n' "$wine_prefix"
        fail_step "windows: wineserver after the tests"
    fi
}

fuzz_binary=build/fuzz/fuzz/fuzz_message_stream
fuzz_corpus=fuzz/corpus/message_stream

fuzz_target_defined() {
    grep -v '^[[:space:]]*#' fuzz/CMakeLists.txt 2>/dev/null | grep -q 'fuzz_message_stream'
}

corpus_digest() {
    find "$fuzz_corpus" -type f -print0 | sort -z | xargs -0 -r sha1sum | sha1sum
}

run_fuzz() {
    configure_and_build fuzz || return 0
    stage_begin "fuzz: fuzz_message_stream ${fuzz_seconds} s"
    if ! fuzz_target_defined; then
        printf 'fuzz/CMakeLists.txt defines no fuzz_message_stream yet: nothing to run\n'
        stage_end SKIPPED
        return 0
    fi
    if [[ ! -x "$fuzz_binary" ]]; then
        printf '%s was not built although fuzz/CMakeLists.txt names it\n' "$fuzz_binary"
        stage_end FAILED
        fail_step "fuzz: fuzz_message_stream not built"
        return 0
    fi
    if [[ -z "$(find "$fuzz_corpus" -type f 2>/dev/null | head -n 1)" ]]; then
        printf 'the seed corpus %s is missing or empty\n' "$fuzz_corpus"
        stage_end FAILED
        fail_step "fuzz: empty seed corpus"
        return 0
    fi
    local scratch artifacts before after status=0 log=$logs/fuzz-run.log
    scratch=$(mktemp -d "$root/build/fuzz/new-inputs.XXXXXX")
    artifacts=$root/build/fuzz/artifacts
    rm -rf "$artifacts"
    mkdir -p "$artifacts"
    before=$(corpus_digest)
    # libFuzzer adds new inputs to its first corpus directory: the scratch one.
    sk_run timeout -k 10 $(( fuzz_seconds + 120 )) "$fuzz_binary" \
        -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$scratch" "$fuzz_corpus" >"$log" 2>&1 || status=$?
    after=$(corpus_digest)
    rm -rf "$scratch"
    if (( status != 0 )); then
        tail -n 80 "$log"
        local artifact
        for artifact in "$artifacts"/*; do
            [[ -e "$artifact" ]] && printf 'reproduce: %s %s\n' "$fuzz_binary" "${artifact#"$root"/}"
        done
        stage_end FAILED
        fail_step "fuzz: fuzz_message_stream (exit $status, log $log)"
        return 0
    fi
    if [[ "$before" != "$after" ]]; then
        printf 'the fuzz run changed the committed corpus %s\n' "$fuzz_corpus"
        stage_end FAILED
        fail_step "fuzz: corpus changed"
        return 0
    fi
    grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))|^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log"
    total_passed=$(( total_passed + 1 ))
    stage_end "ok"
}

printf 'skarvel tests in %s (private network namespace %s), build jobs %s, test jobs %s\n' \
    "$root" "$(readlink /proc/self/ns/net)" "$jobs" "$test_jobs"

skipped_presets=()
for p in "${presets[@]}"; do
    if [[ "$selected" == *" $p "* ]]; then
        "run_$p"
    else
        skipped_presets+=("$p")
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
if (( ${#skipped_presets[@]} > 0 )); then
    printf 'not run (by option): %s\n' "${skipped_presets[*]}"
fi
if (( total_skipped > 0 )); then
    printf '%d passed, %d failed, %d skipped\n' "$total_passed" "$total_failed" "$total_skipped"
else
    printf '%d passed, %d failed\n' "$total_passed" "$total_failed"
fi
(( total_failed == 0 ))
