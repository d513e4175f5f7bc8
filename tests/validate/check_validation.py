#!/usr/bin/env python3
"""Runs validate.exe on a plug-in and judges its JSON report.

usage: check_validation.py EMULATOR VALIDATE DLL [validate options...]
         [--expect-failure CHECK KIND [--call CALL[|CALL]] [--frame N] [--summary-has TEXT] [--kept-file NAME]
                                      [--plugin-frames] [--others-any]]
         [--named-frame FUNCTION FILE]
         [--not-run-by CHECK] [--figure CHECK:NAME=VALUE]... [--warning CHECK:KIND]... [--twice]
         [--blocking-call CHECK FUNCTION]...
         [--record-with HOST FRAMES [--cut-recording BYTES] --recording-frames N]
         [--busy-load PER_PROCESSOR]

Without --expect-failure every check run must pass and validate must exit 0.
A check that judges time may instead be not judged because other programs
kept the machine busy, but only when the report says so with its figure:
an error whose summary begins "not judged: other programs used at least N %
of the processors", N at least half, with the figure others_share to match;
validate then exits 3 unless a check failed.
With it, exactly that check must fail, with that kind (and call and frame,
and a summary holding TEXT, when given; with --plugin-frames, among its
frames one of the DLL's own), every other check must pass, and validate
must exit 1. With --not-run-by, the other checks may instead be
reported as not run because of what CHECK showed, and at least one must be.
With --others-any, the other checks may end as they do (a plug-in that
takes memory without bound fails many), but each must be in the report.
Each --figure asserts one figure of one check's report, each --warning a
warning of that kind in one check's report. --named-frame asserts that one
of the failed check's frames of the DLL is named by its debug information:
a function that starts with FUNCTION, a file that ends with FILE, a line.
Each --blocking-call asserts that CHECK warns that Update called FUNCTION
(others may come with it, as a runtime calls more); without one, no check
may warn of a blocking call (a sound plug-in gets none). --record-with
first records FRAMES frames of the built-in flight with the host simulator
HOST (less BYTES cut off its end) and validates with --recording of that
file, whose report must say that the checks flew N of its frames. --kept-file asserts
that the failed check's working folder was kept, named in a note, with the
file NAME the plug-in wrote in it (the folder is removed afterwards).

Every report must be complete: every check chosen has its result (all of
--list's without --only or --skip), counted in the summary. With --twice,
two runs of validate side by side must each end so. With --busy-load,
that many processes for each processor busy-loop at normal priority beside
validate, from before it starts until it ends (each ends by itself after
240 s at most).

validate runs in an empty folder of its own, which must still be empty
afterwards: the plug-in's files go to the validator's working folders.

The plug-in under test may send on the network (this project's broadcasts):
outside a private network namespace, where loopback is the only interface,
nothing is run and the exit status is 77 (skipped).
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time


def fail(message, output=""):
    if output:
        print(output)
    print("FAILED: " + message)
    sys.exit(1)


def in_private_network_namespace():
    """True when /proc/net/dev lists the loopback interface alone."""
    try:
        with open("/proc/net/dev") as devices:
            lines = devices.read().splitlines()[2:]
    except OSError:
        return False
    return [line.split(":")[0].strip() for line in lines] == ["lo"]


def unix_path(windows_path):
    """The Wine prefix's file for a path on its drive C:."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    drive, _, rest = windows_path.partition(":")
    if drive.upper() != "C":
        fail("%s is not on drive C:" % windows_path)
    return os.path.join(prefix, "drive_c", *[part for part in rest.split("\\") if part])


def check_kept_folder(check, file_name):
    """The check's note names its kept working folder, which holds the file."""
    marker = "the plug-in's working folder is kept: "
    kept = [note[len(marker):] for note in check["notes"] if note.startswith(marker)]
    if not kept:
        fail("%s names no kept working folder: %s" % (check["name"], check["notes"]))
    folder = unix_path(kept[0])
    if not os.path.isfile(os.path.join(folder, file_name)):
        fail("the kept folder %s holds no %s" % (folder, file_name))
    shutil.rmtree(folder)
    try:
        os.rmdir(os.path.dirname(folder))  # the run's folder, when nothing else was kept
    except OSError:
        pass


def record_flight(emulator, recording, dll, folder):
    """Records the built-in flight with the host simulator, cut as asked; its path."""
    path = os.path.join(folder, "flight.skvrec")
    command = [emulator, os.path.abspath(recording["host"]), "--frames", recording["frames"], "--fast", "--quiet",
               "--scratch", "--record", path, os.path.abspath(dll)]
    with open(os.path.join(folder, "host.txt"), "w+", errors="replace") as log:
        run = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, timeout=120, cwd=folder)
        log.seek(0)
        if run.returncode != 0 or not os.path.isfile(path):
            fail("the host simulator made no recording (exit status %d)" % run.returncode, log.read())
    if recording["cut"]:
        with open(path, "r+b") as file:
            file.truncate(os.path.getsize(path) - recording["cut"])
    return path


def judge_features(report, dll, expected, blocking_calls, recording):
    """Fails unless the named frame, the blocking calls and the recording flown are as expected."""
    checks = {check["name"]: check for check in report["checks"]}
    if expected and "named_frame" in expected:
        function, file = expected["named_frame"]
        module = os.path.basename(dll).lower()
        if not any(frame["module"].lower() == module and frame.get("function", "").startswith(function) and
                   frame.get("file", "").endswith(file) and frame.get("line", 0) > 0
                   for frame in checks[expected["name"]]["frames"]):
            fail("%s names no frame of %s as %s in %s: %s" % (expected["name"], module, function, file,
                                                               checks[expected["name"]]["frames"]))
    if not blocking_calls:
        for name, check in checks.items():
            for warning in check.get("warnings", []):
                if warning["kind"] == "blocking_call":
                    fail("%s warns of a blocking call: %s" % (name, warning["detail"]))
    for check_name, function in blocking_calls:
        details = [w["detail"] for w in checks.get(check_name, {}).get("warnings", []) if w["kind"] == "blocking_call"]
        if function + " in Update" not in details:
            fail("%s does not warn that Update called %s: %s" % (check_name, function, details))
    if recording:
        flown = report.get("recording") or {}
        if flown.get("frames") != recording["expected"]:
            fail("the checks flew %r frames of the recording, not %d: %s" % (flown.get("frames"),
                                                                            recording["expected"], flown))


def listed_checks(emulator, validate):
    """The names of every check, as validate --list prints them."""
    listing = subprocess.run([emulator, os.path.abspath(validate), "--list"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, universal_newlines=True, timeout=60)
    return [line.split()[0] for line in listing.stdout.splitlines() if line.startswith("  ")]


def start_busy_load(processes):
    """Processes that keep the processors busy at normal priority, each ending by itself after 240 s."""
    loop = "import time\nend = time.monotonic() + 240\nwhile time.monotonic() < end:\n    pass\n"
    return [subprocess.Popen([sys.executable, "-c", loop]) for _ in range(processes)]


def stop_busy_load(load):
    for process in load:
        process.terminate()
    for process in load:
        process.wait()


def run_validate(emulator, validate, dll, options):
    """One run of validate in an empty folder of its own: (report, output, exit status, seconds)."""
    with tempfile.TemporaryDirectory() as scratch, tempfile.TemporaryDirectory() as workdir:
        report_path = os.path.join(scratch, "report.json")
        command = [emulator, os.path.abspath(validate), *options, "--json", report_path, os.path.abspath(dll)]
        start = time.monotonic()
        # Its output goes to a file, not a pipe: under Wine a process that
        # validate's children start (Wine's own services) keeps their stderr,
        # and would hold a pipe open after validate has ended.
        with open(os.path.join(scratch, "output.txt"), "w+", errors="replace") as log:
            try:
                # The validator ends within three minutes whatever the plug-in does.
                run = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, timeout=200, cwd=workdir)
            except subprocess.TimeoutExpired:
                log.seek(0)
                fail("validate did not end within 200 s", log.read())
            seconds = time.monotonic() - start
            log.seek(0)
            output = log.read()
        if not os.path.exists(report_path):
            fail("validate wrote no JSON report (exit status %d)" % run.returncode, output)
        with open(report_path, encoding="utf-8") as file:
            report = json.load(file)
        left = os.listdir(workdir)
        if left:
            fail("the plug-in wrote into the folder validate was started in: %s" % ", ".join(left), output)
    return report, output, run.returncode, seconds


# A check not judged because other programs kept the processors busy.
BUSY_SUMMARY = re.compile(r"^not judged: other programs used at least (\d+) % of the processors")
BUSY_SHARE = 0.5


def not_judged_busy(check):
    """True when the check was not judged for a busy machine, and its report says so with its figure."""
    match = BUSY_SUMMARY.match(check["summary"])
    if check["result"] != "error" or check["kind"] != "validator" or not match:
        return False
    share = check.get("figures", {}).get("others_share")
    percent = int(match.group(1))
    # The summary's percent is the figure rounded down (and printed to six digits).
    if share is None or share < BUSY_SHARE or percent < BUSY_SHARE * 100 or \
            not -0.01 <= share * 100 - percent < 1.01:
        fail("%s is not judged for a busy machine without the figure to show it: %s (others_share %r)" % (
            check["name"], check["summary"], share))
    return True


def judge(report, returncode, dll, expected, figures, warnings, not_run_by, all_checks):
    """Fails unless the report is complete and says what is expected; the checks not run."""
    checks = {check["name"]: check for check in report["checks"]}
    if all_checks is not None and sorted(checks) != sorted(all_checks):
        fail("the report holds %d checks, not the %d listed: missing %s" % (
            len(checks), len(all_checks), ", ".join(sorted(set(all_checks) - set(checks)))))
    counted = report["passed"] + report["failed"] + report["skipped"] + report["errors"]
    if counted != len(checks):
        fail("the summary counts %d results of %d checks" % (counted, len(checks)))
    not_run = 0
    busy = 0
    for name, check in checks.items():
        if expected and name == expected["name"]:
            continue
        if not_judged_busy(check):
            print("note: %s %s" % (name, check["summary"]))
            busy += 1
            continue
        if not_run_by and check["result"] == "skipped" and check["kind"] == "not_run" and \
                check["summary"].endswith("as %s showed" % not_run_by):
            not_run += 1
            continue
        if expected and expected.get("others_any"):
            continue
        if check["result"] != "passed":
            fail("%s %s: %s" % (name, check["result"], check["summary"]))
    if not_run_by and not_run == 0:
        fail("no check was reported as not run because of %s" % not_run_by)
    if expected:
        check = checks.get(expected["name"])
        if check is None:
            fail("%s was not run" % expected["name"])
        if check["result"] != "failed":
            fail("%s %s, not failed: %s" % (expected["name"], check["result"], check["summary"]))
        for field in ("kind", "call", "frame"):
            # A call may be given as alternatives, "A|B", where the fault may
            # come while either runs.
            allowed = expected[field].split("|") if field == "call" and field in expected else [expected.get(field)]
            if field in expected and check[field] not in allowed:
                fail("%s failed with %s %r, not %r: %s" % (expected["name"], field, check[field], expected[field],
                                                          check["summary"]))
        if "summary_has" in expected and expected["summary_has"] not in check["summary"]:
            fail("%s failed without %r in its summary: %s" % (expected["name"], expected["summary_has"],
                                                              check["summary"]))
        if "kept_file" in expected:
            check_kept_folder(check, expected["kept_file"])
        if expected.get("plugin_frames"):
            module = os.path.basename(dll).lower()
            if not any(frame["module"].lower() == module and frame["offset"].startswith("0x")
                       for frame in check["frames"]):
                fail("%s names none of %s's frames: %s" % (expected["name"], module, check["frames"]))
    for check_name, name, value in figures:
        actual = checks.get(check_name, {}).get("figures", {}).get(name)
        if actual != value:
            fail("%s figure %s is %r, not %r" % (check_name, name, actual, value))
    for check_name, kind in warnings:
        found = [warning for warning in checks.get(check_name, {}).get("warnings", []) if warning["kind"] == kind]
        if not found:
            fail("%s has no %s warning" % (check_name, kind))
        if report["warnings"] < 1:
            fail("the report counts no warning")
    status = 1 if expected else 3 if busy else 0
    if returncode != status:
        fail("validate exited with %d, not %d" % (returncode, status))
    return not_run


def main(argv):
    emulator, validate, dll, rest = argv[0], argv[1], argv[2], argv[3:]
    options, expected, figures, warnings, not_run_by, twice, busy_load = [], None, [], [], None, False, 0
    blocking_calls, recording = [], None
    i = 0
    while i < len(rest):
        arg = rest[i]
        if arg == "--expect-failure":
            expected = {"name": rest[i + 1], "kind": rest[i + 2]}
            i += 3
        elif arg in ("--call", "--frame"):
            expected[arg[2:]] = rest[i + 1] if arg == "--call" else int(rest[i + 1])
            i += 2
        elif arg == "--summary-has":
            expected["summary_has"] = rest[i + 1]
            i += 2
        elif arg == "--kept-file":
            expected["kept_file"] = rest[i + 1]
            i += 2
        elif arg in ("--plugin-frames", "--others-any"):
            expected[arg[2:].replace("-", "_")] = True
            i += 1
        elif arg == "--named-frame":
            expected["named_frame"] = (rest[i + 1], rest[i + 2])
            i += 3
        elif arg == "--blocking-call":
            blocking_calls.append((rest[i + 1], rest[i + 2]))
            i += 3
        elif arg == "--record-with":
            recording = {"host": rest[i + 1], "frames": rest[i + 2], "cut": 0}
            i += 3
        elif arg == "--cut-recording":
            recording["cut"] = int(rest[i + 1])
            i += 2
        elif arg == "--recording-frames":
            recording["expected"] = int(rest[i + 1])
            i += 2
        elif arg == "--not-run-by":
            not_run_by = rest[i + 1]
            i += 2
        elif arg == "--figure":
            check, _, assignment = rest[i + 1].partition(":")
            name, _, value = assignment.partition("=")
            figures.append((check, name, float(value)))
            i += 2
        elif arg == "--warning":
            check, _, kind = rest[i + 1].partition(":")
            warnings.append((check, kind))
            i += 2
        elif arg == "--twice":
            twice = True
            i += 1
        elif arg == "--busy-load":
            busy_load = int(rest[i + 1]) * (os.cpu_count() or 1)
            i += 2
        else:
            options.append(arg)
            i += 1

    if not in_private_network_namespace():
        print("skipped: the plug-in may send on the network; run inside a private network namespace (unshare -n)")
        sys.exit(77)

    flights = tempfile.TemporaryDirectory()
    if recording:
        options += ["--recording", record_flight(emulator, recording, dll, flights.name)]
    chosen = "--only" in options or "--skip" in options
    all_checks = None if chosen else listed_checks(emulator, validate)
    runs = [None, None] if twice else [None]

    def one(index):
        try:
            runs[index] = run_validate(emulator, validate, dll, options)
        except SystemExit as failed:  # the run's failure, said already
            runs[index] = failed

    threads = [threading.Thread(target=one, args=(index,)) for index in range(len(runs))]
    load = start_busy_load(busy_load)
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        stop_busy_load(load)
    for run in runs:
        if isinstance(run, SystemExit):
            sys.exit(run.code)
    for index, (report, output, returncode, seconds) in enumerate(runs):
        print(output)
        not_run = judge(report, returncode, dll, expected, figures, warnings, not_run_by, all_checks)
        judge_features(report, dll, expected, blocking_calls, recording)
        print("ok%s: %d checks as expected (%d not run) in %.1f s" % (
            " (run %d of %d side by side)" % (index + 1, len(runs)) if twice else "", len(report["checks"]),
            not_run, seconds))


if __name__ == "__main__":
    main(sys.argv[1:])
