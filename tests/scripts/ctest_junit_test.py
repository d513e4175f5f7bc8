#!/usr/bin/env python3
"""scripts/lib/ctest_junit.py against ctest itself: a scratch project whose
tests pass, fail, time out, skip themselves, are disabled, have no
executable, or need a fixture that failed, run by ctest with a JUnit report.
The reader must count and name them as ctest does, name those that failed
without a word, and count one of those that passes at a second run as passed;
a report cut short or missing must be refused.

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
add_test(NAME says_why COMMAND sh -c "echo wrong; exit 1")
add_test(NAME ends_silently_once COMMAND sh -c "test -e once || { touch once; exit 1; }")
'''
PASSED = 2
SKIPPED = 3  # skips_by_exit_code, skips_by_output, is_disabled
FAILED = ["ends_silently_once", "fails", "has_no_executable (not run: ", "needs_the_fixture (not run: ",
          "says_why", "sets_up", "times_out"]
# Failed within seconds without a word (says_why spoke; the two not run did not run).
SILENT = ["ends_silently_once", "fails", "sets_up", "times_out"]


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

        def check(arguments, passed, failed, again):
            read = subprocess.run([sys.executable, reader] + arguments, stdout=subprocess.PIPE, text=True)
            lines = read.stdout.splitlines()
            if read.returncode != 0 or not lines:
                failures.append("the reader exited %d on %r" % (read.returncode, arguments))
                return
            counts = "counts %d %d %d" % (passed, len(failed), SKIPPED)
            if lines[0] != counts:
                failures.append("read %r, not %r" % (lines[0], counts))
            named = sorted(line[len("failed "):] for line in lines if line.startswith("failed "))
            if len(named) != len(failed) or not all(n.startswith(w) for n, w in zip(named, failed)):
                failures.append("failed tests named %r, not %r" % (named, failed))
            said_again = [line[len("again "):] for line in lines if line.startswith("again ")]
            if said_again != again:
                failures.append("passed at a second run: %r, not %r" % (said_again, again))

        check([report], PASSED, FAILED, [])
        silent = subprocess.run([sys.executable, reader, "--silent", report], stdout=subprocess.PIPE, text=True)
        if sorted(silent.stdout.splitlines()) != SILENT:
            failures.append("ended silently: %r, not %r" % (sorted(silent.stdout.splitlines()), SILENT))
        not_passed = subprocess.run([sys.executable, reader, "--not-passed", report], stdout=subprocess.PIPE,
                                    text=True).stdout.split()
        expected = sorted([n.split(" ")[0] for n in FAILED] + ["is_disabled", "skips_by_exit_code", "skips_by_output"])
        if sorted(not_passed) != expected:
            failures.append("not passed: %r, not %r" % (sorted(not_passed), expected))
        # Those once more: the one that ends silently only once passes, and counts so.
        again = os.path.join(scratch, "again.xml")
        subprocess.run([ctest, "--test-dir", build, "-R", "^(%s)$" % "|".join(SILENT), "--output-junit", again],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check([report, again], PASSED + 1, FAILED[1:], ["ends_silently_once"])

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
