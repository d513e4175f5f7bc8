#!/usr/bin/env python3
"""The validator's checker accepts a check not judged for a busy machine in
place of a pass only when its report says so with the figure to show it, and
then wants the validator's exit status for its own errors.
Usage: check_validation_test.py"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_validation  # noqa: E402


def check(name, result, summary, kind="", figures=None):
    return {"name": name, "result": result, "kind": kind, "summary": summary, "figures": figures or {},
            "notes": [], "frames": [], "warnings": []}


def busy(name="timing.update", percent=97, share=0.9731):
    return check(name, "error", "not judged: other programs used at least %d %% of the processors during each of 3 "
                 "runs; p99 9.97 ms against the budget of 5.00 ms" % percent, "validator", {"others_share": share})


def report(*checks):
    counts = {result: sum(1 for c in checks if c["result"] == result) for result in ("passed", "failed", "error")}
    return {"checks": list(checks), "passed": counts["passed"], "failed": counts["failed"], "skipped": 0,
            "errors": counts["error"], "warnings": 0}


def judge(the_report, status, expected=None):
    return check_validation.judge(the_report, status, "plugin.dll", expected, [], [], None, None)


class NotJudgedForABusyMachine(unittest.TestCase):
    def test_said_with_its_figure(self):
        self.assertTrue(check_validation.not_judged_busy(busy()))
        self.assertTrue(check_validation.not_judged_busy(busy("timing.init", 100, 1.0)))

    def test_other_errors_and_results_are_not_it(self):
        self.assertFalse(check_validation.not_judged_busy(
            check("timing.update", "error", "validate: cannot start a child process", "validator")))
        self.assertFalse(check_validation.not_judged_busy(dict(busy(), result="failed", kind="too_slow")))

    def test_without_the_figure_to_show_it(self):
        for figure in ({}, {"others_share": 0.5}, {"others_share": 0.99}):
            with self.subTest(figure=figure), self.assertRaises(SystemExit):
                check_validation.not_judged_busy(dict(busy(), figures=figure))
        with self.assertRaises(SystemExit):  # under half is no busy machine
            check_validation.not_judged_busy(busy(percent=40, share=0.4))

    def test_exit_status(self):
        sound = report(check("timing.init", "passed", "the longest Init took 0.2 ms"), busy())
        judge(sound, 3)
        with self.assertRaises(SystemExit):
            judge(sound, 0)
        # Beside the failure expected, the run's status is the failure's.
        faulty = report(check("timing.update", "failed", "p99 over the budget", "too_slow"), busy("timing.init"))
        judge(faulty, 1, {"name": "timing.update", "kind": "too_slow"})
        # The check expected to fail may not be not judged instead.
        with self.assertRaises(SystemExit):
            judge(report(busy()), 3, {"name": "timing.update", "kind": "too_slow"})


if __name__ == "__main__":
    unittest.main(buffer=True)  # the checker's own lines only when a test fails
