#!/usr/bin/env python3
"""Reads the JUnit report of a ctest run (ctest --output-junit FILE) for scripts/test.sh.

    ctest_junit.py FILE

Prints "counts PASSED FAILED SKIPPED", then one "failed NAME" line per test that
failed. ctest reports a test skipped on purpose (by its SKIP_RETURN_CODE or its
SKIP_REGULAR_EXPRESSION) as "notrun", and so too a test that could not run (its
executable missing, a fixture it needs failed): the first counts as skipped, the
second as failed, as ctest itself counts them. Exits 2 on a report it cannot read.
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


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: ctest_junit.py FILE")
    try:
        suite = ElementTree.parse(sys.argv[1]).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print("cannot read the ctest report: %s" % error, file=sys.stderr)
        return 2
    cases = suite.findall("testcase")
    if suite.tag != "testsuite" or suite.get("tests") != str(len(cases)):
        print("%s: not a whole ctest report (%s tests announced, %d found)"
              % (sys.argv[1], suite.get("tests"), len(cases)), file=sys.stderr)
        return 2
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    failures = []
    for case in cases:
        result, reason = outcome(case)
        counts[result] += 1
        if result == "failed":
            failures.append(case.get("name") + (" (%s)" % reason if reason else ""))
    print("counts %d %d %d" % (counts["passed"], counts["failed"], counts["skipped"]))
    for name in failures:
        print("failed " + name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
