#!/usr/bin/env python3
"""scripts/lib/ctest_junit.py against ctest itself: a scratch project whose
tests pass, fail, time out, skip themselves, are disabled, have no
executable, or need a fixture that failed, run by ctest with a JUnit report.
The reader must count and name them as ctest does; a report cut short or
missing must be refused.

    ctest_junit_test.py SOURCE_DIR CMAKE CTEST
"""
import os
import subprocess
import sys
import tempfile

PROJECT = r'''
cmake_minimum_required(VERSION 3.25)
project(outcomes NONE)
enable_testing()
add_test(NAME passes COMMAND true)
add_test(NAME "passes <&> too" COMMAND true)
add_test(NAME fails COMMAND false)
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
'''
PASSED = 2
SKIPPED = 3  # skips_by_exit_code, skips_by_output, is_disabled
FAILED = ["fails", "times_out", "has_no_executable (not run: ", "sets_up", "needs_the_fixture (not run: "]


def main():
    source, cmake, ctest = sys.argv[1:4]
    reader = os.path.join(source, "scripts", "lib", "ctest_junit.py")
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(scratch, "CMakeLists.txt"), "w") as f:
            f.write(PROJECT)
        build = os.path.join(scratch, "build")
        subprocess.run([cmake, "-S", scratch, "-B", build], check=True, stdout=subprocess.DEVNULL)
        report = os.path.join(scratch, "report.xml")
        subprocess.run([ctest, "--test-dir", build, "--output-junit", report],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        read = subprocess.run([sys.executable, reader, report], stdout=subprocess.PIPE, text=True)
        lines = read.stdout.splitlines()
        if read.returncode != 0 or not lines:
            failures.append("the reader exited %d on a whole report" % read.returncode)
        else:
            counts = "counts %d %d %d" % (PASSED, len(FAILED), SKIPPED)
            if lines[0] != counts:
                failures.append("read %r, not %r" % (lines[0], counts))
            named = sorted(line[len("failed "):] for line in lines[1:])
            if len(named) != len(FAILED) or not all(n.startswith(w) for n, w in zip(named, sorted(FAILED))):
                failures.append("failed tests named %r, not %r" % (named, sorted(FAILED)))

        # A report cut short, and none at all.
        with open(report) as f:
            whole = f.read()
        with open(report, "w") as f:
            f.write(whole[:whole.rindex("<testcase")] + "</testsuite>\n")
        for case, path in (("cut short", report), ("missing", report + ".none")):
            read = subprocess.run([sys.executable, reader, path], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
            if read.returncode != 2 or read.stdout:
                failures.append("a report %s: exit %d, output %r" % (case, read.returncode, read.stdout))

    for failure in failures:
        print("FAIL:", failure)
    print("ctest_junit.py: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
