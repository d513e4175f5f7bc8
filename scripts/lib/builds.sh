# shellcheck shell=bash
# The project's builds, as the scripts run them.
#
#   sk_cmake_build PRESET LOG [BUILD OPTIONS...]  configure and build a preset of CMakePresets.json, the
#                                  output into LOG, its tests' Python Debian's python3 where there is one;
#                                  shows its end and fails if either step fails. Run it as
#                                  a job (sk_run sk_cmake_build ...): Ctrl-C then ends the build with it.
#   sk_ctest_summary LOG           what ctest's output LOG says of its run: "counts PASSED FAILED SKIPPED"
#                                  from its own summary (a test skipped counts as skipped, one that could
#                                  not run as failed, as ctest counts it), then "failed NAME (WHY)" for each
#                                  test it names as failed. Fails if LOG holds no summary.
#   sk_ctest_failure_output LOG NAME  what the failed test NAME printed, as ctest's LOG shows it (the test
#                                  preset's outputOnFailure): the lines after its result line.
#   SK_CTEST_RESULT_LINE           the start of ctest's line for a finished test ("12/354 Test #40: "), an
#                                  extended regular expression.
[[ -z "${SK_BUILDS_LOADED:-}" ]] || return 0
SK_BUILDS_LOADED=1
SK_CTEST_RESULT_LINE='^ *[0-9]+/[0-9]+ Test +#[0-9]+: '

sk_cmake_build() {
    local preset=$1 log=$2 python=()
    shift 2
    # The tests' Python is Debian's python3, one of the packages: the first python3 on PATH
    # may be a version manager's shim (pyenv's runs shell scripts before Python, 0.17 s and
    # 85 ms of processor time more a start, and a run starts Python about a hundred times).
    [[ ! -x /usr/bin/python3 ]] || python=(-DPython3_EXECUTABLE=/usr/bin/python3)
    if ! { cmake --preset "$preset" "${python[@]}" && cmake --build --preset "$preset" "$@"; } >"$log" 2>&1; then
        # The compiler's and CMake's words, without ninja's progress lines.
        grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 100
        printf 'error: the %s build failed (its log: %s)\n' "$preset" "$log" >&2
        return 1
    fi
}

sk_ctest_summary() {
    local log=$1 line total failed skipped
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$' "$log" | tail -n 1)
    [[ -n "$line" ]] || return 1
    read -r _ _ _ failed _ _ _ _ total <<<"$line"
    skipped=$(sed -n '/^The following tests did not run:/,/^$/p' "$log" | grep -c '(Skipped)$')
    printf 'counts %d %d %d\n' $(( total - failed - skipped )) "$failed" "$skipped"
    sed -n '/^The following tests FAILED:/,/^[^\t]/{s/^\t *[0-9]* - /failed /p}' "$log"
}

sk_ctest_failure_output() {
    # A test's output follows its result line, up to the next test's start or result line,
    # or ctest's summary (the blank lines before those dropped).
    awk -v name="$2" -v result="$SK_CTEST_RESULT_LINE" '
        $0 ~ result { on = index($0, ": " name " ") > 0 && index($0, "***") > 0; next }
        /^ *Start +[0-9]+: / || /^[0-9]+% tests passed/ { on = 0 }
        on { lines[++n] = $0 }
        END { while (n > 0 && lines[n] == "") n--; for (i = 1; i <= n; i++) print lines[i] }' "$1"
}
