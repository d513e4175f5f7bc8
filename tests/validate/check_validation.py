#!/usr/bin/env python3
"""Runs validate.exe on a plug-in and judges its JSON report.

usage: check_validation.py EMULATOR VALIDATE DLL [validate options...]
         [--expect-failure CHECK KIND [--call CALL] [--frame N]] [--figure CHECK:NAME=VALUE]...

Without --expect-failure every check run must pass and validate must exit 0.
With it, exactly that check must fail, with that kind (and call and frame
when given), every other check must pass, and validate must exit 1. Each
--figure asserts one figure of one check's report.

The plug-in under test may send on the network (this project's broadcasts):
outside a private network namespace, where loopback is the only interface,
nothing is run and the exit status is 77 (skipped).
"""
import json
import os
import subprocess
import sys
import tempfile


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


def main(argv):
    emulator, validate, dll, rest = argv[0], argv[1], argv[2], argv[3:]
    options, expected, figures = [], None, []
    i = 0
    while i < len(rest):
        arg = rest[i]
        if arg == "--expect-failure":
            expected = {"name": rest[i + 1], "kind": rest[i + 2]}
            i += 3
        elif arg in ("--call", "--frame"):
            expected[arg[2:]] = rest[i + 1] if arg == "--call" else int(rest[i + 1])
            i += 2
        elif arg == "--figure":
            check, _, assignment = rest[i + 1].partition(":")
            name, _, value = assignment.partition("=")
            figures.append((check, name, float(value)))
            i += 2
        else:
            options.append(arg)
            i += 1

    if not in_private_network_namespace():
        print("skipped: the plug-in may send on the network; run inside a private network namespace (unshare -n)")
        sys.exit(77)

    with tempfile.TemporaryDirectory() as scratch:
        report_path = os.path.join(scratch, "report.json")
        command = [emulator, validate, *options, "--json", report_path, dll]
        try:
            # The validator ends within three minutes whatever the plug-in does.
            run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                 errors="replace", timeout=200)
        except subprocess.TimeoutExpired as expired:
            output = expired.stdout or ""
            fail("validate did not end within 200 s", output if isinstance(output, str) else output.decode())
        output = run.stdout
        if not os.path.exists(report_path):
            fail("validate wrote no JSON report (exit status %d)" % run.returncode, output)
        with open(report_path, encoding="utf-8") as file:
            report = json.load(file)
    print(output)

    checks = {check["name"]: check for check in report["checks"]}
    for name, check in checks.items():
        if expected and name == expected["name"]:
            continue
        if check["result"] != "passed":
            fail("%s %s: %s" % (name, check["result"], check["summary"]))
    if expected:
        check = checks.get(expected["name"])
        if check is None:
            fail("%s was not run" % expected["name"])
        if check["result"] != "failed":
            fail("%s %s, not failed: %s" % (expected["name"], check["result"], check["summary"]))
        for field in ("kind", "call", "frame"):
            if field in expected and check[field] != expected[field]:
                fail("%s failed with %s %r, not %r: %s" % (expected["name"], field, check[field], expected[field],
                                                          check["summary"]))
    for check_name, name, value in figures:
        actual = checks.get(check_name, {}).get("figures", {}).get(name)
        if actual != value:
            fail("%s figure %s is %r, not %r" % (check_name, name, actual, value))

    status = 1 if expected else 0
    if run.returncode != status:
        fail("validate exited with %d, not %d" % (run.returncode, status))
    print("ok: %d checks as expected" % len(checks))


if __name__ == "__main__":
    main(sys.argv[1:])
