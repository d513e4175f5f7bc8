"""clang-tidy's verdict on each translation unit, kept in the build folder, so that a rerun of the lint
lints only the units whose verdict may differ.

A unit's verdict (every warning clang-tidy gave on it, on judged lines or not: which lines are judged is
decided afresh each run) is used again only when all it depends on is as it was when it was made:
  - the unit's lint command, and the precompiled header's (the recipe, not the file: see source_style.py);
  - every .clang-tidy that applies to it (its folder's and its parents');
  - clang-tidy itself (its version, and the size and time of its program file and of the clang that
    makes the precompiled header) and this lint's own code;
  - the content of every file the unit's parse read, as clang listed them while linting it (its own
    headers, the project's, GoogleTest's, the standard library's, Windows');
  - no file of the project named as one of those, which an include might now find first, having come
    or gone.
A verdict is not kept when a file it depends on changed while the unit was linted, when clang
listed no files, nor when clang-tidy did not end well (a unit that does not compile, a crash).
Deleting the folder, or `source_style.py tidy ... --fresh`, lints everything anew.
"""
import hashlib
import json
import os
import re
import subprocess
import tempfile
import time

FORMAT = 1  # of the records; a record of another is not read


def file_hash(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def program_identity(path):
    """What tells one build of a program from another: its real path, size and time."""
    real = os.path.realpath(path)
    try:
        status = os.stat(real)
        return [real, status.st_size, status.st_mtime_ns]
    except OSError:
        return [real, None, None]


def configurations(path):
    """The .clang-tidy files clang-tidy would read for the file at path (from its folder up), each with
    its content's hash."""
    found = []
    folder = os.path.dirname(os.path.abspath(path))
    while True:
        candidate = os.path.join(folder, ".clang-tidy")
        if os.path.isfile(candidate):
            found.append([candidate, file_hash(candidate)])
        parent = os.path.dirname(folder)
        if parent == folder:
            return found
        folder = parent


def read_dependencies(depfile, directory):
    """The files of a make rule as clang writes it (-MD): paths, absolute; None if there is none."""
    try:
        with open(depfile) as f:
            text = f.read()
    except OSError:
        return None
    # "target: first \<newline> second ...", a space in a name written "\ ".
    _, separator, rest = text.replace("\\\n", " ").partition(": ")
    if not separator:
        return None
    names = [name.replace("\\ ", " ") for name in re.findall(r"(?:\\ |[^\s])+", rest)]
    return sorted({os.path.normpath(os.path.join(directory, name)) for name in names}) or None


class VerdictCache:
    def __init__(self, folder, project_files, tools):
        """folder: where the records are kept; project_files: every file of the project, relative to its
        root; tools: the programs the verdicts come from (clang-tidy and the clang of the precompiled
        header)."""
        self.folder = folder
        self.by_name = {}
        for path in project_files:
            self.by_name.setdefault(os.path.basename(path), []).append(path)
        here = os.path.dirname(os.path.abspath(__file__))
        version = subprocess.run([tools[0], "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 text=True).stdout
        self.fixed = [FORMAT, version, [program_identity(tool) for tool in tools if tool],
                      [file_hash(os.path.join(here, name)) for name in ("source_style.py", "tidy_cache.py")]]
        self.hashes = {}  # path: (its size, time and inode when hashed, the hash)
        os.makedirs(folder, exist_ok=True)

    def key(self, unit_file, command):
        """The hash of what the verdict on the unit depends on, besides the files its parse read."""
        text = json.dumps([self.fixed, command, configurations(unit_file)])
        return hashlib.sha256(text.encode()).hexdigest()

    def record_path(self, unit):
        return os.path.join(self.folder, unit.replace(os.sep, "__") + ".json")

    def content(self, path):
        """The hash of the file's content now (None if there is no such file), hashed again only when
        its size, time or inode differ from when it was last hashed."""
        try:
            status = os.stat(path)
        except OSError:
            return None
        identity = (status.st_size, status.st_mtime_ns, status.st_ino)
        if path not in self.hashes or self.hashes[path][0] != identity:
            self.hashes[path] = (identity, file_hash(path))
        return self.hashes[path][1]

    def namesakes(self, dependencies):
        """The project's files named as one of the dependencies."""
        names = {os.path.basename(path) for path in dependencies}
        return sorted(path for name in names for path in self.by_name.get(name, []))

    def look_up(self, unit, key):
        """The warnings kept for the unit, or None when they may no longer hold."""
        try:
            with open(self.record_path(unit)) as f:
                record = json.load(f)
        except (OSError, ValueError):
            return None
        if record.get("unit") != unit or record.get("key") != key:
            return None
        dependencies = record.get("files", {})
        if record.get("namesakes") != self.namesakes(dependencies):
            return None
        if any(self.content(path) != digest for path, digest in dependencies.items()):
            return None
        return [tuple(warning) for warning in record.get("warnings", [])]

    def store(self, unit, key, dependencies, warnings, started):
        """Keeps the verdict of a lint begun at `started` (time.time()) on a parse that read `dependencies`,
        unless one of them changed since (or just before: file times may be coarse)."""
        if not dependencies:
            return
        files = {}
        for path in dependencies:
            try:
                if os.stat(path).st_mtime > started - 2.0:
                    return
            except OSError:
                return
            files[path] = self.content(path)
        record = {"unit": unit, "key": key, "namesakes": self.namesakes(files), "files": files,
                  "warnings": [list(warning) for warning in warnings], "made": time.strftime("%Y-%m-%d %H:%M:%S")}
        # Written whole, then put in place: a lint beside this one reads the old record or the new.
        try:
            with tempfile.NamedTemporaryFile("w", dir=self.folder, suffix=".new", delete=False) as f:
                json.dump(record, f)
            os.replace(f.name, self.record_path(unit))
        except OSError:
            pass  # not kept: the unit is linted again next time

    def forget_all_but(self, units):
        """Removes the records of units the build no longer has (and any record left half written)."""
        kept = {os.path.basename(self.record_path(unit)) for unit in units}
        for name in os.listdir(self.folder):
            if name not in kept:
                try:
                    os.remove(os.path.join(self.folder, name))
                except OSError:
                    pass
