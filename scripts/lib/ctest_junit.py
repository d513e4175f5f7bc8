#!/usr/bin/env python3
"""Reads the JUnit report of a ctest run (ctest --output-junit FILE) for scripts/test.sh.

    ctest_junit.py FILE [AGAIN]
    ctest_junit.py --silent FILE
    ctest_junit.py --not-passed FILE

Prints "counts PASSED FAILED SKIPPED", then one "failed NAME" line per test that
failed. ctest reports a test skipped on purpose (by its SKIP_RETURN_CODE or its
SKIP_REGULAR_EXPRESSION) as "notrun", and so too a test that could not run (its
executable missing, a fixture it needs failed): the first counts as skipped, the
second as failed, as ctest itself counts them. Exits 2 on a report it cannot read.

--silent prints the names of the tests that failed within seconds without a word
of output: under Wine, now and then a program ends so before its first line.
--not-passed prints the names of the tests that failed or were skipped. AGAIN is
the report of a second run of such tests (which ones is the caller's choice): one
that passed there counts as passed, with an "again NAME" line.
"""
import sys
import xml.etree.ElementTree as ElementTree

SKIPPED_ON_PURPOSE = ("SKIP_RETURN_CODE=", "SKIP_REGULAR_EXPRESSION_MATCHED")


def outcome(case):
    """("passed" | "skipped" | "failed", reason) of one <testcase>."""
    status = case.get("status")
    if status == "run":
        return "passed", ""
    if status == "disabled":
        return "skipped", ""
    if status == "notrun":
        skipped = case.find("skipped")
        message = "" if skipped is None else skipped.get("message", "")
        if message.startswith(SKIPPED_ON_PURPOSE):
            return "skipped", ""
        return "failed", "not run: " + (message or "no reason given")
    if status == "fail":
        return "failed", ""
    return "failed", "unknown status %r" % status


def read_cases(path):
    """The <testcase> elements of a whole report, or None (said on stderr)."""
    try:
        suite = ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print("cannot read the ctest report: %s" % error, file=sys.stderr)
        return None
    cases = suite.findall("testcase")
    if suite.tag != "testsuite" or suite.get("tests") != str(len(cases)):
        print("%s: not a whole ctest report (%s tests announced, %d found)"
              % (path, suite.get("tests"), len(cases)), file=sys.stderr)
        return None
    return cases


SILENT_SECONDS = 10


def ended_silently(case):
    """Failed (not a test that could not run) within seconds, saying nothing."""
    output = case.find("system-out")
    return (case.get("status") == "fail" and float(case.get("time") or 0) < SILENT_SECONDS
            and (output is None or not (output.text or "").strip()))


def main():
    arguments = sys.argv[1:]
    select = {"--silent": ended_silently, "--not-passed": lambda case: outcome(case)[0] != "passed"}
    chosen = select.get(arguments[0]) if arguments else None
    if chosen:
        arguments = arguments[1:]
    if not 1 <= len(arguments) <= (1 if chosen else 2):
        sys.exit("usage: ctest_junit.py FILE [AGAIN] | ctest_junit.py --silent|--not-passed FILE")
    cases = read_cases(arguments[0])
    if cases is None:
        return 2
    if chosen:
        for case in cases:
            if chosen(case):
                print(case.get("name"))
        return 0
    passed_again = set()
    if len(arguments) == 2:
        again = read_cases(arguments[1])
        if again is None:
            return 2
        passed_again = {case.get("name") for case in again if outcome(case)[0] == "passed"}
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    failures = []
    agains = []
    for case in cases:
        result, reason = outcome(case)
        if result != "passed" and case.get("name") in passed_again:
            result = "passed"
            agains.append(case.get("name"))
        counts[result] += 1
        if result == "failed":
            failures.append(case.get("name") + (" (%s)" % reason if reason else ""))
    print("counts %d %d %d" % (counts["passed"], counts["failed"], counts["skipped"]))
    for name in failures:
        print("failed " + name)
    for name in agains:
        print("again " + name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
