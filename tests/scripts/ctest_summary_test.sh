#!/usr/bin/env bash
# sk_ctest_summary (scripts/lib/builds.sh) against ctest itself: a scratch project
# whose tests pass, fail, time out, skip themselves, are disabled, have no executable,
# or need a fixture that failed. The summary must count and name them as ctest does; a
# log without ctest's summary (a run cut short) is refused. sk_ctest_failure_output
# gives what a failed test printed, and nothing of its neighbours'.
#     ctest_summary_test.sh SOURCE_DIR CMAKE CTEST
set -u
source_dir=$1 cmake=$2 ctest=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
. "$source_dir/scripts/lib/builds.sh"

cat >"$scratch/CMakeLists.txt" <<'PROJECT'
cmake_minimum_required(VERSION 3.25)
project(outcomes NONE)
enable_testing()
add_test(NAME passes COMMAND true)
add_test(NAME "passes.with-dots_and/slash" COMMAND true)
add_test(NAME fails COMMAND sh -c "echo first line; echo; echo 'the last, after a blank one'; exit 1")
add_test(NAME fails.too COMMAND sh -c "echo its own line; exit 1")
add_test(NAME times_out COMMAND sleep 20)
set_tests_properties(times_out PROPERTIES TIMEOUT 1)
add_test(NAME skips_by_exit_code COMMAND sh -c "exit 77")
set_tests_properties(skips_by_exit_code PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME skips_by_output COMMAND echo "[  SKIPPED ] not here")
set_tests_properties(skips_by_output PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(NAME is_disabled COMMAND false)
set_tests_properties(is_disabled PROPERTIES DISABLED TRUE)
add_test(NAME has_no_executable COMMAND /nonexistent/program)
add_test(NAME sets_up COMMAND false)
set_tests_properties(sets_up PROPERTIES FIXTURES_SETUP broken)
add_test(NAME needs_the_fixture COMMAND true)
set_tests_properties(needs_the_fixture PROPERTIES FIXTURES_REQUIRED broken)
PROJECT
"$cmake" -S "$scratch" -B "$scratch/build" >/dev/null || exit 1
"$ctest" --test-dir "$scratch/build" -j 2 --output-on-failure >"$scratch/log" 2>&1

expected='counts 2 6 2
failed fails (Failed)
failed fails.too (Failed)
failed times_out (Timeout)
failed has_no_executable (Not Run)
failed sets_up (Failed)
failed needs_the_fixture (Not Run)'
fail=0
got=$(sk_ctest_summary "$scratch/log" | sort)
if [[ "$got" != "$(sort <<<"$expected")" ]]; then
    printf 'FAIL: the summary of\n%s\nwas\n%s\nnot\n%s\n' "$(cat "$scratch/log")" "$got" "$expected"
    fail=1
fi
got=$(sk_ctest_failure_output "$scratch/log" fails)
if [[ "$got" != $'first line\n\nthe last, after a blank one' ]]; then
    printf 'FAIL: the output of the failed test "fails" in\n%s\nwas\n%s\n' "$(cat "$scratch/log")" "$got"
    fail=1
fi
head -n 5 "$scratch/log" >"$scratch/cut"
if sk_ctest_summary "$scratch/cut" >/dev/null; then
    echo "FAIL: a log cut short, without ctest's summary, was taken"
    fail=1
fi
(( fail == 0 )) && echo "sk_ctest_summary: 11 tests of every outcome counted and named as ctest does; a cut log refused; a failed test's output"
exit $fail
