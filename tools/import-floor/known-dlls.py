#!/usr/bin/env python3
"""Checks that the loader resolves nothing of a built exe from the program's folder.

    known-dlls.py program.exe [program.exe ...]

The program runs elevated from whatever folder it was unpacked to. Before its first line
runs, the loader resolves its imports; for a name that is neither one of the system's
KnownDLLs nor redirected by the manifest to the side-by-side store, it looks in the
program's folder first, where anyone who can write a file there plants a DLL. So each
imported DLL must be a KnownDLL on every Windows from XP on, or come side by side through
the manifest embedded in the exe. Fails (exit 1) on any other, and on an import table
that could not be read.

The lists are the defaults of each system's Session Manager KnownDLLs key, kept to the
names found on every edition of that system (a name missing here only makes the check
stricter). The session manager also maps the DLLs that the listed ones import; XP's key
does not name msvcrt.dll, which comes in that way (shell32, comdlg32 and ole32 import it).
"""
import re
import subprocess
import sys

KNOWN = {
    "XP and Server 2003": """advapi32 comdlg32 gdi32 imagehlp kernel32 lz32 ole32 oleaut32
        olecli32 olecnv32 olesvr32 olethk32 rpcrt4 shell32 url urlmon user32 version
        wininet wldap32 msvcrt""",
    "Vista": """advapi32 clbcatq comdlg32 gdi32 iertutil imagehlp imm32 kernel32 lpk msctf
        msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 setupapi shell32 shlwapi urlmon
        user32 usp10 wininet wldap32 ws2_32""",
    "7": """advapi32 clbcatq comdlg32 difxapi gdi32 iertutil imagehlp imm32 kernel32 lpk
        msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shell32
        shlwapi urlmon user32 usp10 wininet wldap32 ws2_32""",
    "8 and 8.1": """advapi32 clbcatq combase comdlg32 difxapi gdi32 gdiplus imagehlp imm32
        kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi
        shcore shell32 shlwapi user32 wldap32 ws2_32""",
    "10 and 11": """advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp
        imm32 kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost
        setupapi shcore shell32 shlwapi user32 wldap32 ws2_32""",
}

# Side by side from XP on, when the exe's manifest asks for the assembly (its identity as
# the manifest names it). NT 4 and 2000 have no side-by-side store, and 9x neither.
SIDE_BY_SIDE = {
    "comctl32": 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
}


def imported_dlls(exe):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], check=True,
                         capture_output=True, text=True).stdout
    return sorted({m.group(1).lower() for m in re.finditer(r"^\s*DLL Name: (\S+)", out, re.M)})


def manifest_asks_for(exe, identity):
    data = open(exe, "rb").read()
    # The manifest is embedded as it was written; its attributes may be spread over lines.
    text = re.sub(rb"\s+", b" ", data).decode("latin-1")
    name, version = identity.split(" ")
    return bool(re.search(re.escape(name) + r'[^>]*' + re.escape(version), text))


def check(exe):
    dlls = imported_dlls(exe)
    problems = []
    if "kernel32.dll" not in dlls:
        problems.append("no kernel32.dll import found: the import table was not read")
    for dll in dlls:
        stem = dll[:-4] if dll.endswith(".dll") else dll
        if stem in SIDE_BY_SIDE:
            if not manifest_asks_for(exe, SIDE_BY_SIDE[stem]):
                problems.append(f"imports {dll}, whose side-by-side assembly the manifest "
                                "does not ask for")
            continue
        missing = [system for system, names in KNOWN.items() if stem not in names.split()]
        if missing:
            problems.append(f"imports {dll}, which is no KnownDLL on Windows "
                            + ", ".join(missing) + ": the loader would look beside the exe first")
    for p in problems:
        print(f"{exe}: {p}")
    if not problems:
        print(f"{exe}: {len(dlls)} imported DLLs, each a KnownDLL from XP on or side by side")
    return not problems


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    return 0 if all([check(exe) for exe in sys.argv[1:]]) else 1


if __name__ == "__main__":
    sys.exit(main())
