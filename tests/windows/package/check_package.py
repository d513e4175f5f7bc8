#!/usr/bin/env python3
"""Checks the release package as it ships.

    check_package.py unpack ZIP FOLDER
        unpacks ZIP into FOLDER (emptied first); the ZIP holds one folder named as itself
    check_package.py files PACKAGE SOURCE FILE...
        PACKAGE (the unpacked folder) holds exactly the FILEs; SHA256SUMS gives the
        SHA-256 of every other one; README.md and docs/ are those of the SOURCE tree
    check_package.py debug-links PACKAGE DEBUG OBJDUMP OBJCOPY BINARY...
        each BINARY is stripped, and its debug link names BINARY.debug, which is in
        the folder DEBUG, holds the debug information, and has the CRC the link gives
    check_package.py version-resources PACKAGE WINE VERSION_INFO VERSION PRODUCT BINARY...
        each BINARY's version resource, as Windows reads it, names PRODUCT and VERSION
    check_package.py no-system-calls PACKAGE OBJDUMP BINARY...
        no BINARY holds a syscall instruction: a Windows program reaches the system
        through Windows' own DLLs, never past them (each must disassemble to code)

Prints one line per failed check and exits 1 if there is any.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
import zlib

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
    return condition


def unpack(archive, folder):
    name = os.path.basename(archive)[:-len(".zip")]
    if not expect(os.path.isfile(archive), "no package %s: the release preset makes it "
                  "(cmake --workflow --preset release)" % archive):
        return
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(archive) as package:
        tops = {entry.split("/", 1)[0] for entry in package.namelist()}
        if expect(tops == {name}, "the package holds %s, not one folder %s" % (sorted(tops), name)):
            package.extractall(folder)


def files_under(folder):
    found = set()
    for directory, _, names in os.walk(folder):
        for name in names:
            found.add(os.path.relpath(os.path.join(directory, name), folder).replace(os.sep, "/"))
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_files(package, source, expected):
    found = files_under(package)
    expect(found == set(expected), "files missing: %s; files not expected: %s"
           % (sorted(set(expected) - found), sorted(found - set(expected))))
    sums = {}
    if not expect(os.path.isfile(os.path.join(package, "SHA256SUMS")), "no SHA256SUMS"):
        return
    for line in read(os.path.join(package, "SHA256SUMS")).decode("ascii").splitlines():
        digest, _, name = line.partition("  ")
        expect(name not in sums, "SHA256SUMS names %s twice" % name)
        sums[name] = digest
    expect(set(sums) == found - {"SHA256SUMS"}, "SHA256SUMS covers %s, not %s"
           % (sorted(sums), sorted(found - {"SHA256SUMS"})))
    for name, digest in sums.items():
        path = os.path.join(package, name)
        if os.path.isfile(path):
            expect(hashlib.sha256(read(path)).hexdigest() == digest, "%s: not the SHA-256 of SHA256SUMS" % name)
    for name in found:
        if name == "README.md" or name.startswith("docs/"):
            expect(read(os.path.join(package, name)) == read(os.path.join(source, name)),
                   "%s differs from the source tree's" % name)


def sections(objdump, path):
    """The section names of a PE file, as objdump -h lists them."""
    listing = subprocess.run([objdump, "-h", path], check=True, stdout=subprocess.PIPE, text=True).stdout
    return {fields[1] for fields in (line.split() for line in listing.splitlines())
            if len(fields) > 2 and fields[0].isdigit()}


def check_debug_links(package, debug_folder, objdump, objcopy, binaries):
    for binary in binaries:
        path = os.path.join(package, binary)
        debug_sections = sorted(s for s in sections(objdump, path) if s.startswith(".debug"))
        expect(not debug_sections, "%s: not stripped, holds %s" % (binary, debug_sections))
        with tempfile.TemporaryDirectory() as scratch:
            link_file = os.path.join(scratch, "link")
            dumped = subprocess.run([objcopy, "--dump-section", ".gnu_debuglink=" + link_file, path,
                                     os.path.join(scratch, "copy")], stderr=subprocess.PIPE, text=True)
            if not expect(dumped.returncode == 0 and os.path.isfile(link_file),
                          "%s: no debug link %s" % (binary, dumped.stderr.strip())):
                continue
            link = read(link_file)
        # The debug file's name, NUL-padded to four bytes, then its CRC-32, little-endian.
        name = link.split(b"\0", 1)[0].decode("ascii", "replace")
        crc = int.from_bytes(link[-4:], "little")
        if not expect(name == binary + ".debug", "%s: debug link names %r, not %s.debug" % (binary, name, binary)):
            continue
        debug = os.path.join(debug_folder, name)
        if not expect(os.path.isfile(debug), "%s: its debug file %s is missing" % (binary, debug)):
            continue
        expect(zlib.crc32(read(debug)) == crc, "%s: the CRC of %s is not the one its debug link gives" % (binary, name))
        expect(".debug_info" in sections(objdump, debug), "%s: holds no debug information" % name)
        print("%s: %d bytes, its debug information %d bytes" % (binary, os.path.getsize(path), os.path.getsize(debug)))


def version_resource(package, wine, version_info, binary):
    run = subprocess.run([wine, version_info, binary], cwd=package, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, errors="replace", timeout=60)
    if not expect(run.returncode == 0, "%s: version_info exited %d: %s" % (binary, run.returncode, run.stderr.strip())):
        return {}
    return dict(line.split("=", 1) for line in run.stdout.replace("\r", "").splitlines() if "=" in line)


def check_version_resources(package, wine, version_info, version, product, binaries):
    fixed = ".".join((version.split(".") + ["0", "0", "0"])[:4])
    for binary in binaries:
        found = version_resource(package, wine, version_info, binary)
        if not found:
            continue
        wanted = {
            "FixedFileVersion": fixed,
            "FixedProductVersion": fixed,
            "FileType": "dll" if binary.endswith(".dll") else "app",
            "ProductName": product,
            "ProductVersion": version,
            "FileVersion": version,
            "InternalName": os.path.splitext(binary)[0],
            "OriginalFilename": binary,
        }
        for key, value in wanted.items():
            expect(found.get(key) == value, "%s: %s is %r, not %r" % (binary, key, found.get(key), value))
        description = found.get("FileDescription", "")
        expect(description.startswith(product + ": ") and len(description) > len(product) + 2,
               "%s: FileDescription %r does not describe it" % (binary, description))
        print("%s: %s %s, \"%s\"" % (binary, found.get("ProductName"), found.get("FileVersion"), description))


def check_no_system_calls(package, objdump, binaries):
    for binary in binaries:
        listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", os.path.join(package, binary)],
                                 check=True, stdout=subprocess.PIPE, text=True).stdout
        instructions = [line.split("\t", 1)[1].split() for line in listing.splitlines()
                        if line.startswith(" ") and ":\t" in line]
        mnemonics = [fields[0] for fields in instructions if fields]
        if not expect(mnemonics.count("call") > 0, "%s: objdump found no code" % binary):
            continue
        found = [line.strip() for line in listing.splitlines() if line.split("\t")[-1].split()[:1] == ["syscall"]]
        if expect(not found, "%s: %d syscall instruction(s), the first at %s" % (binary, len(found), found[:1])):
            print("%s: %d instructions, no syscall" % (binary, len(mnemonics)))


def main():
    mode, args = sys.argv[1], sys.argv[2:]
    if mode == "unpack":
        unpack(*args)
    elif mode == "files":
        check_files(args[0], args[1], args[2:])
    elif mode == "debug-links":
        check_debug_links(args[0], args[1], args[2], args[3], args[4:])
    elif mode == "version-resources":
        check_version_resources(args[0], args[1], args[2], args[3], args[4], args[5:])
    elif mode == "no-system-calls":
        check_no_system_calls(args[0], args[1], args[2:])
    else:
        sys.exit("unknown mode " + mode)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
