#!/usr/bin/env python3
"""Checks a built exe against the oldest Windows it must load on.

    check.py program.exe list.allow [--os-version 4.0]

Fails (exit 1) on any imported function that the allow-list does not name for its DLL,
on an import by ordinal (nothing can vouch for it), and on an OS or subsystem version in
the PE header above the one given. Windows refuses to load a program whose import is
missing, and Wine provides every function whatever version it reports, so this is the
one check that sees a call the oldest system lacks.
"""
import argparse
import re
import subprocess
import sys


def read_imports(exe):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], check=True,
                         capture_output=True, text=True).stdout
    imports, header = [], {}
    dll, in_table = None, False
    for line in out.splitlines():
        m = re.match(r"^(Major|Minor)(OSystem|Subsystem)Version\s+(\d+)", line)
        if m:
            header[m.group(1) + m.group(2)] = int(m.group(3))
        if line.startswith("The Import Tables"):
            in_table = True
            continue
        if not in_table:
            continue
        if re.match(r"^(The |PE File Base Relocations)", line):
            break
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\s*[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if dll and m:
            imports.append((dll, m.group(2)))
            continue
        m = re.match(r"\s*[0-9a-f]+\s+<none>\s+([0-9a-f]+)", line)
        if dll and m:
            imports.append((dll, "#ordinal " + str(int(m.group(1), 16))))
    return imports, header


def read_allowed(path):
    allowed = set()
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, function = line.split()[:2]
                allowed.add((dll.lower(), function))
    return allowed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("allow")
    parser.add_argument("--os-version", help="highest OS and subsystem version, e.g. 4.0")
    args = parser.parse_args()

    imports, header = read_imports(args.exe)
    allowed = read_allowed(args.allow)
    problems = []
    # A parse that found nothing would pass anything: every program imports kernel32.
    if not any(dll == "kernel32.dll" for dll, _ in imports):
        problems.append("no kernel32.dll import found: the import table was not read")
    for dll, function in imports:
        if (dll, function) not in allowed:
            problems.append(f"imports {dll} {function}, which {args.allow} does not allow")
    if args.os_version:
        want = tuple(int(x) for x in args.os_version.split("."))
        for kind in ("OSystem", "Subsystem"):
            got = (header.get("Major" + kind, 99), header.get("Minor" + kind, 99))
            if got > want:
                problems.append(f"{kind} version {got[0]}.{got[1]} is above {args.os_version}")
    for p in problems:
        print(f"{args.exe}: {p}")
    if problems:
        return 1
    print(f"{args.exe}: {len(imports)} imports, all on {args.allow}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
