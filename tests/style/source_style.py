#!/usr/bin/env python3
"""The project's C++ layout (.clang-format) and lint (.clang-tidy), checked or applied.

    source_style.py format ROOT [--all] [--fix] [FILE...]
    source_style.py tidy ROOT BUILD [--all] [--not-in OTHER_BUILD] [FILE...]

Which lines are judged:
  - FILEs given: every line of them;
  - --all, or SKARVEL_STYLE_ALL=1 in the environment (CI sets it): every line of every C++ file
    git knows in ROOT;
  - otherwise: the lines changed since the merge base with the main branch (committed or not) and
    every line of new files: what this branch adds, not what it inherited.

format: each file as clang-format would lay it out; --fix rewrites the files instead.
tidy: clang-tidy on the translation units of BUILD's compile_commands.json that hold judged
lines (a changed header through one unit that includes it); --not-in leaves out the units
that OTHER_BUILD's compile_commands.json has too (a Windows build lints its Windows sources).

Every fault is printed as FILE:LINE:COLUMN with what is wrong and the command that fixes it;
the exit status is 1 when there is one, 2 when the check could not run, else 0.
"""
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

SOURCE_SUFFIXES = (".cpp", ".h", ".inc")
# Kept as they are: a deliberately misformatted file and a faulty one, the checks' own tests.
NOT_CHECKED = ("tests/style/fixtures/",)


def die(message):
    print("error: " + message, file=sys.stderr)
    sys.exit(2)


def git(root, *args):
    run = subprocess.run(["git", "-C", root, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return run.stdout if run.returncode == 0 else None


def is_source(path):
    return path.endswith(SOURCE_SUFFIXES) and not path.startswith(NOT_CHECKED)


class Selection:
    """The files judged, relative to the root, each with its judged lines (None: every line)."""

    def __init__(self, lines, description, base=None):
        self.lines = lines
        self.description = description
        self.base = base  # the commit the lines changed since

    def judged(self, path, line):
        if path not in self.lines:
            return False
        ranges = self.lines[path]
        return ranges is None or any(first <= line <= last for first, last in ranges)


def merge_base(root):
    for branch in ("main", "origin/main"):
        base = git(root, "merge-base", "HEAD", branch)
        if base:
            return base.strip(), branch
    return None, None


def changed_lines(root, base):
    """{path: [(first, last)...]} of the lines added or changed since base, working tree included."""
    diff = git(root, "diff", "-U0", "--no-color", "--no-renames", "--diff-filter=AM", base, "--")
    if diff is None:
        die("git diff %s failed in %s" % (base, root))
    lines = {}
    path = None
    for text in diff.splitlines():
        if text.startswith("+++ "):
            path = text[6:] if text.startswith("+++ b/") else None
        elif text.startswith("@@") and path is not None:
            added = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", text)
            first, count = int(added.group(1)), int(added.group(2) or "1")
            if count > 0:
                lines.setdefault(path, []).append((first, first + count - 1))
    untracked = git(root, "ls-files", "--others", "--exclude-standard") or ""
    for path in untracked.splitlines():
        lines[path] = None
    return {path: ranges for path, ranges in lines.items() if is_source(path)}


def select(root, files, every):
    if files:
        chosen = {}
        for name in files:
            path = os.path.relpath(os.path.abspath(name), root)
            if not os.path.isfile(os.path.join(root, path)):
                die("no file %s" % name)
            chosen[path] = None
        return Selection(chosen, "the files named")
    if not every:
        base, branch = merge_base(root)
        if base:
            return Selection(changed_lines(root, base), "the lines changed since the merge base with %s (%s)"
                             % (branch, base[:12]), base[:12])
        print("no branch main or origin/main to compare with: every file is checked")
    listed = git(root, "ls-files", "--cached", "--others", "--exclude-standard")
    if listed is None:
        die("%s is not a git work tree: name the files to check" % root)
    return Selection({path: None for path in listed.splitlines() if is_source(path)}, "every C++ file")


def tool(name):
    found = shutil.which(name) or shutil.which(name + "-14")
    if not found:
        die("%s is not installed (Debian: apt-get install %s)" % (name, name))
    return found


def check_format(root, selection, fix):
    clang_format = tool("clang-format")
    faults = 0
    for path in sorted(selection.lines):
        ranges = selection.lines[path]
        limits = [] if ranges is None else ["--lines=%d:%d" % r for r in ranges]
        command = [clang_format, "--style=file", *limits]
        if fix:
            subprocess.run(command + ["-i", path], cwd=root, check=True)
            continue
        run = subprocess.run(command + ["--dry-run", "--Werror", "--ferror-limit=0", path], cwd=root,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        places = re.findall(r"^(\S+?):(\d+):(\d+): error: code should be clang-formatted", run.stdout, re.M)
        if run.returncode != 0 and not places:
            print(run.stdout.rstrip())
            die("clang-format failed on %s" % path)
        # clang-format reports the lines it would change, once per change on a line.
        for line in sorted({int(line) for _, line, _ in places}):
            print("%s:%d: not laid out as .clang-format says" % (path, line))
        if places:
            faults += 1
            if ranges is None:
                print("    fix: clang-format -i %s" % shlex.quote(path))
            else:  # only the lines changed, as they are judged
                print("    fix: git clang-format -f %s -- %s" % (selection.base, shlex.quote(path)))
    return faults


def compile_database(build):
    path = os.path.join(build, "compile_commands.json")
    if not os.path.isfile(path):
        die("no %s: configure the build first (cmake --preset ...)" % path)
    with open(path) as f:
        return json.load(f)


def without_pch(entry):
    """The entry's command without the precompiled GoogleTest header (the sources include it themselves):
    clang-tidy cannot read GCC's, nor count on clang's being built."""
    arguments = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    kept = []
    i = 0
    while i < len(arguments):
        # GCC's "-include X/cmake_pch.hxx"; clang's "-Xclang -include-pch -Xclang X.pch" and
        # "-Xclang -include -Xclang X/cmake_pch.hxx".
        if arguments[i] == "-include" and arguments[i + 1:i + 2] and arguments[i + 1].endswith("cmake_pch.hxx"):
            i += 2
            continue
        if arguments[i:i + 1] == ["-Xclang"] and arguments[i + 1:i + 2] in (["-include-pch"], ["-include"]) \
                and arguments[i + 3:i + 4] and "cmake_pch.hxx" in arguments[i + 3]:
            i += 4
            continue
        if arguments[i] != "-Winvalid-pch":
            kept.append(arguments[i])
        i += 1
    return {"directory": entry["directory"], "file": entry["file"], "arguments": kept}


INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def includes(root, path, reached=None):
    """The project's files that path includes, directly or not (as the project spells them: from the
    root, beside the includer, or as <skarvel/...>)."""
    reached = set() if reached is None else reached
    try:
        with open(os.path.join(root, path), errors="replace") as f:
            text = f.read()
    except OSError:
        return reached
    for name in INCLUDE.findall(text):
        name = name[len("skarvel/"):] if name.startswith("skarvel/") else name
        for candidate in (name, os.path.normpath(os.path.join(os.path.dirname(path), name))):
            if candidate not in reached and os.path.isfile(os.path.join(root, candidate)):
                reached.add(candidate)
                includes(root, candidate, reached)
                break
    return reached


def shown(path, root):
    """path as the user would type it from root."""
    relative = os.path.relpath(path, root)
    return path if relative.startswith("..") else relative


def check_tidy(root, build, other, selection):
    clang_tidy = tool("clang-tidy")
    units = {}
    for entry in compile_database(build):
        path = os.path.relpath(os.path.realpath(os.path.join(entry["directory"], entry["file"])), root)
        if not path.startswith("..") and not path.startswith("build") and not entry["file"].endswith(".hxx.cxx"):
            units[path] = entry
    if other:
        for entry in compile_database(other):
            units.pop(os.path.relpath(os.path.realpath(os.path.join(entry["directory"], entry["file"])), root), None)
    chosen = {path for path in selection.lines if path in units}
    # A header through the first unit that includes it, directly or through other headers.
    left = [p for p in selection.lines if p not in units]
    for path in sorted(units):
        if not left:
            break
        reached = includes(root, path)
        if any(header in reached for header in left):
            chosen.add(path)
            left = [header for header in left if header not in reached]
    if left and selection.description == "the files named":
        die("not compiled in %s (not in its compile_commands.json, nor included there): %s"
            % (shown(build, root), ", ".join(sorted(left))))
    if left:
        print("not compiled in this build, so not linted here: " + ", ".join(sorted(left)))
    print("tidy: %d translation unit(s) of %s" % (len(chosen), shown(build, root)))
    if not chosen:
        return 0
    faults = {}
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(scratch, "compile_commands.json"), "w") as f:
            json.dump([without_pch(units[path]) for path in sorted(chosen)], f)

        def lint(path):
            run = subprocess.run([clang_tidy, "-p", scratch, "--quiet", os.path.join(root, path)], cwd=root,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            return path, run

        jobs = int(os.environ.get("SKARVEL_JOBS", "2"))
        with ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            for path, run in pool.map(lint, sorted(chosen)):
                found = re.findall(r"^(/\S+?):(\d+):(\d+): (warning|error): (.*?) \[([\w.,-]+)\]$", run.stdout, re.M)
                if run.returncode != 0 and not found:
                    print(run.stdout.rstrip(), run.stderr.rstrip(), sep="\n")
                    die("clang-tidy failed on %s" % path)
                for file, line, column, _, message, check in found:
                    where = os.path.relpath(file, root)
                    if selection.judged(where, int(line)):
                        faults[(where, int(line), int(column), check)] = message
    for (where, line, column, check), message in sorted(faults.items()):
        print("%s:%d:%d: %s [%s]" % (where, line, column, message, check))
    if faults:
        print("    fix: by hand, or clang-tidy -p %s --fix FILE; a line that must stay as it is takes "
              "// NOLINT(check): why" % shown(build, root))
        counts = {}
        for (_, _, _, check) in faults:
            counts[check] = counts.get(check, 0) + 1
        print("by check: " + ", ".join("%s %d" % item for item in sorted(counts.items())))
    return len(faults)


def main(arguments):
    if len(arguments) < 2 or arguments[0] not in ("format", "tidy"):
        die("usage: source_style.py format ROOT [--all] [--fix] [FILE...], "
            "or source_style.py tidy ROOT BUILD [--all] [--not-in OTHER_BUILD] [FILE...]")
    mode, root = arguments[0], os.path.realpath(arguments[1])
    rest = arguments[2:]
    build = other = None
    if mode == "tidy":
        if not rest:
            die("tidy: give the build folder")
        build, rest = os.path.realpath(rest[0]), rest[1:]
    every = os.environ.get("SKARVEL_STYLE_ALL") == "1"
    fix = False
    files = []
    while rest:
        option, rest = rest[0], rest[1:]
        if option == "--all":
            every = True
        elif option == "--fix" and mode == "format":
            fix = True
        elif option == "--not-in" and mode == "tidy" and rest:
            other, rest = os.path.realpath(rest[0]), rest[1:]
        elif option.startswith("--"):
            die("unknown option %s" % option)
        else:
            files.append(option)
    selection = select(root, files, every)
    if not selection.lines:
        print("%s: no C++ source among %s" % (mode, selection.description))
        return 0
    print("%s: %d file(s), %s" % (mode, len(selection.lines), selection.description))
    if mode == "format":
        faults = check_format(root, selection, fix)
        if faults:
            print("%d file(s) not laid out as .clang-format says; all at once: "
                  "cmake --build --preset native --target format" % faults)
    else:
        if other and not os.path.isfile(os.path.join(other, "compile_commands.json")):
            other = None  # no such build here: this one lints everything it compiles
        faults = check_tidy(root, build, other, selection)
        if faults:
            print("%d lint warning(s)" % faults)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
