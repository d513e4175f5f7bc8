#!/usr/bin/env python3
"""The project's C++ layout (.clang-format) and lint (.clang-tidy), checked or applied.

    source_style.py format ROOT [--all] [--fix] [FILE...]
    source_style.py tidy ROOT BUILD [--all] [--not-in OTHER_BUILD] [--fresh] [FILE...]

Which lines are judged:
  - FILEs given: every line of them;
  - --all, or SKARVEL_STYLE_ALL=1 in the environment (CI sets it): every line of every C++ file
    git knows in ROOT;
  - otherwise: the lines changed (committed or not) since the commit that tests/style/clean_at
    names, the last at which every file was judged clean, and every line of new files; without that
    record (or when it names no commit before this one), since the merge base with the main branch:
    what this branch adds, not what it inherited. When the layout or lint rules changed since the
    recorded commit, every line of every file.

format: each file as clang-format would lay it out; --fix rewrites the files instead.
tidy: clang-tidy on the translation units of BUILD's compile_commands.json that hold judged
lines (a changed header through one unit that includes it); --not-in leaves out the units
that OTHER_BUILD's compile_commands.json has too (a Windows build lints its Windows sources).
Since a recorded clean commit every unit that includes a changed file is linted, and each of its
warnings on the project's files is reported: at that commit it had none, so any it has now comes
from a change, on a changed line or not.
Each unit's verdict is kept in BUILD/tidy_cache and used again while nothing it depends on has
changed (tidy_cache.py says what that is), so a rerun lints only what changed; --fresh lints every
unit anew. The units that include GoogleTest first, as the build compiles them, read it from a
precompiled header that clang makes once a run.

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
import time
from concurrent.futures import ThreadPoolExecutor

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
import tidy_cache  # noqa: E402

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

    def __init__(self, lines, description, base=None, clean_base=False):
        self.lines = lines
        self.description = description
        self.base = base  # the commit the lines changed since
        self.clean_base = clean_base  # every file was judged clean at base

    def judged(self, path, line):
        if path not in self.lines:
            return False
        ranges = self.lines[path]
        return ranges is None or any(first <= line <= last for first, last in ranges)


CLEAN_RECORD = "tests/style/clean_at"
# What the verdicts depend on besides the sources: when one changed since the clean commit, its record
# no longer tells (the lint's arguments are made in this file; any .clang-tidy counts).
RULES = (".clang-format", "tests/style/source_style.py")


def clean_commit(root):
    """The commit CLEAN_RECORD names, if it is this one's or an ancestor's and the rules are as they
    were there; else None, and why not (None when there is no record)."""
    try:
        with open(os.path.join(root, CLEAN_RECORD)) as f:
            named = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    except OSError:
        return None, None
    commit = named[0] if len(named) == 1 else ""
    full = git(root, "rev-parse", "--verify", "--quiet", commit + "^{commit}") if commit else None
    if not full or git(root, "merge-base", "--is-ancestor", full.strip(), "HEAD") is None:
        return None, "%s names no commit before this one (%s)" % (CLEAN_RECORD, commit or "nothing")
    changed = git(root, "diff", "--name-only", "--no-renames", full.strip(), "--")
    if changed is None:
        die("git diff %s failed in %s" % (full.strip(), root))
    rules = [path for path in changed.splitlines() if path in RULES or os.path.basename(path) == ".clang-tidy"]
    if rules:
        return None, "the rules changed since the clean commit %s (%s)" % (commit[:12], ", ".join(rules))
    return full.strip(), None


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
        clean, why_not = clean_commit(root)
        if clean:
            return Selection(changed_lines(root, clean), "the lines changed since the clean commit %s"
                             % clean[:12], clean[:12], clean_base=True)
        if why_not:
            print(why_not + ": every file is checked")
        else:
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
        return [unit for entry in json.load(f) for unit in unity_units(entry)]


UNITY_INCLUDE = re.compile(r'^#include "(.+)"$', re.M)


def unity_units(entry):
    """A unity build's entry (CMAKE_UNITY_BUILD: a generated file of #include lines, one a source) as one
    entry for each source it includes, with the same command: the lint judges each source alone."""
    if os.path.basename(os.path.dirname(entry["file"])) != "Unity":
        return [entry]
    with open(os.path.join(entry["directory"], entry["file"])) as f:
        sources = UNITY_INCLUDE.findall(f.read())
    units = []
    for source in sources:
        unit = dict(entry, file=source)
        if "arguments" in unit:
            unit["arguments"] = [source if a == entry["file"] else a for a in unit["arguments"]]
        else:
            unit["command"] = unit["command"].replace(entry["file"], shlex.quote(source))
        units.append(unit)
    return units


def entry_arguments(entry):
    """A compile_commands.json entry's command as a list of arguments."""
    return entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])


def entry_source(entry, root):
    """The source an entry compiles, relative to root."""
    return os.path.relpath(os.path.realpath(os.path.join(entry["directory"], entry["file"])), root)


PCH_HEADER = "cmake_pch.hxx"


def lint_arguments(entry):
    """The entry's arguments without the precompiled GoogleTest header the build includes first, and the
    header (X/cmake_pch.hxx) that one was made of, or None. clang-tidy cannot read GCC's, nor count on the
    clang build's being there: the lint makes its own of the same header (PrecompiledHeaders)."""
    arguments = entry_arguments(entry)
    kept = []
    header = None
    i = 0
    while i < len(arguments):
        # GCC's "-include X/cmake_pch.hxx"; clang's "-Xclang -include-pch -Xclang X/cmake_pch.hxx.pch" and
        # "-Xclang -include -Xclang X/cmake_pch.hxx".
        if arguments[i] == "-include" and arguments[i + 1:i + 2] and arguments[i + 1].endswith(PCH_HEADER):
            header = arguments[i + 1]
            i += 2
            continue
        if arguments[i:i + 1] == ["-Xclang"] and arguments[i + 1:i + 2] in (["-include-pch"], ["-include"]) \
                and arguments[i + 3:i + 4] and PCH_HEADER in arguments[i + 3]:
            header = arguments[i + 3][:arguments[i + 3].index(PCH_HEADER) + len(PCH_HEADER)]
            i += 4
            continue
        if arguments[i] != "-Winvalid-pch":
            kept.append(arguments[i])
        i += 1
    return kept, header


class PrecompiledHeaders:
    """clang's precompiled header of each X/cmake_pch.hxx, made in `folder` once a run by the clang of
    clang-tidy's own version, from the build's own recipe (the entry of X/cmake_pch.hxx.cxx): the
    lint then parses GoogleTest once, not once a test, and sees what the build compiles."""

    def __init__(self, clang, database, folder):
        self.clang = clang
        self.folder = folder
        self.recipes = {entry["file"][:-len(".cxx")]: entry for entry in database
                        if entry["file"].endswith(PCH_HEADER + ".cxx")}
        self.made = {}

    def recipe(self, header):
        """The command the build makes the header's precompiled form with: part of the key of a
        verdict on a unit that includes it."""
        entry = self.recipes.get(header)
        if entry is None:
            return None
        return [entry["directory"], entry_arguments(entry)]

    def make(self, header):
        """The precompiled header's path, or None (the unit is then linted without one)."""
        if header in self.made:
            return self.made[header]
        self.made[header] = None
        recipe = self.recipe(header)
        if recipe is None or self.clang is None:
            return None
        directory, arguments = recipe
        output = os.path.join(self.folder, "header%d.pch" % len(self.made))
        command = [self.clang]
        i = 1
        while i < len(arguments):
            if arguments[i] == "-o":
                command += ["-o", output]
                i += 2
                continue
            if arguments[i] == "-include" and arguments[i + 1:i + 2] == [header]:
                # GCC's form: clang's driver would take "-include X" for X's GCC-made .gch.
                command += ["-Xclang", "-include", "-Xclang", header]
                i += 2
                continue
            if arguments[i] != "-Winvalid-pch":
                command.append(arguments[i])
            i += 1
        run = subprocess.run(command, cwd=directory, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0 or not os.path.isfile(output):
            print("could not precompile %s (%s), so the units that include it are linted without it:\n%s"
                  % (header, " ".join(shlex.quote(a) for a in command), run.stdout.rstrip()))
            return None
        self.made[header] = output
        return output


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


CACHE = "tidy_cache"  # in the build folder


def lint_units(root, build, database, chosen, fresh, every):
    """clang-tidy's warnings on each unit chosen ({path: its entry of database}, in order), each a
    (file, line, column, message, check): kept from an earlier lint while they hold, else linted.
    every: the units chosen are all the build's (the records of others are removed)."""
    clang_tidy = tool("clang-tidy")
    with tempfile.TemporaryDirectory() as scratch:
        clang = os.path.join(os.path.dirname(os.path.realpath(clang_tidy)), "clang++")
        headers = PrecompiledHeaders(clang if os.path.isfile(clang) else None, database, scratch)
        known = git(root, "ls-files", "--cached", "--others", "--exclude-standard") or ""
        cache = tidy_cache.VerdictCache(os.path.join(build, CACHE), known.splitlines(),
                                        [clang_tidy, headers.clang])
        # Each unit's command as linted, and the key of what its verdict depends on besides the files
        # its parse reads; the verdicts kept for it.
        commands = {}
        keys = {}
        verdicts = {}
        for path in chosen:
            entry = chosen[path]
            arguments, header = lint_arguments(entry)
            commands[path] = (entry["directory"], arguments, header)
            keys[path] = cache.key(os.path.join(root, path), [entry["directory"], entry["file"], arguments,
                                                              header and headers.recipe(header)])
            verdicts[path] = None if fresh else cache.look_up(path, keys[path])
        linted = [path for path in chosen if verdicts[path] is None]
        if len(linted) < len(chosen):
            print("tidy: %d unit(s) unchanged since their last lint (their verdicts are kept in %s), %d to lint"
                  % (len(chosen) - len(linted), shown(cache.folder, root), len(linted)))
        lint_database = []
        for path in linted:
            directory, arguments, header = commands[path]
            precompiled = headers.make(header) if header else None
            if precompiled:
                arguments = arguments[:1] + ["-include-pch", precompiled] + arguments[1:]
            lint_database.append({"directory": directory, "file": chosen[path]["file"], "arguments": arguments})
        with open(os.path.join(scratch, "compile_commands.json"), "w") as f:
            json.dump(lint_database, f)

        # The files each parse reads, as clang lists them (-MD): what the verdict depends on.
        depfiles = {path: os.path.join(scratch, "unit%d.d" % number) for number, path in enumerate(linted)}

        def lint(path):
            depfile = depfiles[path]
            started = time.time()
            run = subprocess.run([clang_tidy, "-p", scratch, "--quiet", "--extra-arg=-Wp,-MD," + depfile,
                                  os.path.join(root, path)], cwd=root,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            return path, run, depfile, started

        jobs = int(os.environ.get("SKARVEL_JOBS", "2"))
        with ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            for path, run, depfile, started in pool.map(lint, linted):
                found = re.findall(r"^(/\S+?):(\d+):(\d+): (?:warning|error): (.*?) \[([\w.,-]+)\]$", run.stdout, re.M)
                if run.returncode != 0 and not found:
                    print(run.stdout.rstrip(), run.stderr.rstrip(), sep="\n")
                    die("clang-tidy failed on %s" % path)
                verdicts[path] = [(file, int(line), int(column), message, check)
                                  for file, line, column, message, check in found]
                if run.returncode == 0:  # not a unit that did not compile, nor a clang-tidy that crashed
                    dependencies = tidy_cache.read_dependencies(depfile, commands[path][0])
                    cache.store(path, keys[path], dependencies, verdicts[path], started)
    if every:
        cache.forget_all_but(chosen)
    return verdicts


def check_tidy(root, build, other, selection, fresh):
    database = compile_database(build)
    units = {}
    for entry in database:
        path = entry_source(entry, root)
        if not path.startswith("..") and not path.startswith("build") and not entry["file"].endswith(".hxx.cxx"):
            units[path] = entry
    if other:
        for entry in compile_database(other):
            units.pop(entry_source(entry, root), None)
    chosen = {path for path in selection.lines if path in units}
    # A header through the first unit that includes it, directly or through other headers; since a
    # clean commit, through every unit that does (a warning it brings may be on any of their lines).
    headers = [p for p in selection.lines if p not in units]
    left = list(headers)  # the headers no unit chosen includes yet
    for path in sorted(units):
        wanted = headers if selection.clean_base else left
        if not wanted:
            break
        reached = includes(root, path)
        if any(header in reached for header in wanted):
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
    verdicts = lint_units(root, build, database, {path: units[path] for path in sorted(chosen)}, fresh,
                          len(chosen) == len(units))
    faults = {}
    for path in sorted(chosen):
        for file, line, column, message, check in verdicts[path]:
            where = os.path.relpath(file, root)
            ours = not where.startswith(("..", "build" + os.sep)) and is_source(where)
            if selection.judged(where, line) or (selection.clean_base and ours):
                faults[(where, line, column, check)] = message
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
            "or source_style.py tidy ROOT BUILD [--all] [--not-in OTHER_BUILD] [--fresh] [FILE...]")
    mode, root = arguments[0], os.path.realpath(arguments[1])
    rest = arguments[2:]
    build = other = None
    if mode == "tidy":
        if not rest:
            die("tidy: give the build folder")
        build, rest = os.path.realpath(rest[0]), rest[1:]
    every = os.environ.get("SKARVEL_STYLE_ALL") == "1"
    fix = fresh = False
    files = []
    while rest:
        option, rest = rest[0], rest[1:]
        if option == "--all":
            every = True
        elif option == "--fix" and mode == "format":
            fix = True
        elif option == "--fresh" and mode == "tidy":
            fresh = True
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
        faults = check_tidy(root, build, other, selection, fresh)
        if faults:
            print("%d lint warning(s)" % faults)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
