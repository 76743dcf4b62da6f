#!/usr/bin/env python3
"""Fails on any printf conversion the msvcrt.dll of Windows 98 and NT 4 lacks.

    check.py [FILE ...]     (no FILE: every C and C++ source of the shipped program)

The i686 program's snprintf is the system's msvcrt (runtime/PentiumRuntime.cpp), and the
msvcrt of Windows 98 knows none of C99's lengths (hh, ll, j, z, t), nor L, %a or %F: it
prints them wrongly or takes the wrong argument. The compiler checks formats against MinGW's
own printf, which has them all, so it cannot warn. Every string literal is read as a format (adjacent literals joined); a text with a
lone percent sign that happens to spell one of these is renamed or doubled (%%).
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
PRODUCT = ["app", "controls", "drive", "engine", "framework", "runtime", "system"]
SOURCES = {".c", ".cpp", ".h"}

LITERAL = re.compile(r'//[^\n]*|/\*.*?\*/|\'(?:\\.|[^\'\\\n])*\'|"((?:\\.|[^"\\\n])*)"', re.S)
# flags, width, precision, length, conversion
CONVERSION = re.compile(r"%([-+ #0]*)(\*|\d+)?(\.(?:\*|\d+))?(hh|h|ll|l|L|z|j|t|I64|I32|I)?"
                        r"([diouxXeEfFgGaAcCsSpn%])")
MISSING_LENGTHS = {"hh", "ll", "L", "z", "j", "t"}
MISSING_CONVERSIONS = {"a", "A", "F"}
# Checked at every run: a pattern that lets one of these through fails at once, not only
# on the day a source uses it.
KNOWN = [('"%F"', ["%F"]), ('"%.2f %a %zu %lld"', ["%a", "%zu", "%lld"]),
         ('"%5.1f %ld %I64u %%F"', [])]


def literals(text):
    """(line, joined text) of each run of adjacent string literals outside comments."""
    run, start, end = None, 0, -1
    for match in LITERAL.finditer(text):
        if match.group(1) is None:
            continue
        line = text.count("\n", 0, match.start()) + 1
        if run is not None and text[end:match.start()].strip() == "":
            run += match.group(1)
        else:
            if run is not None:
                yield start, run
            run, start = match.group(1), line
        end = match.end()
    if run is not None:
        yield start, run


def faults(text):
    for line, literal in literals(text):
        for spec in CONVERSION.finditer(literal):
            length, conversion = spec.group(4), spec.group(5)
            if length in MISSING_LENGTHS or conversion in MISSING_CONVERSIONS:
                yield line, spec.group(0)


def main():
    for text, expected in KNOWN:
        found = [spec for _, spec in faults(text)]
        if found != expected:
            print(f"format-check: {text} gives {found}, not {expected}", file=sys.stderr)
            return 2
    files = [pathlib.Path(a) for a in sys.argv[1:]]
    if not files:
        files = sorted(p for folder in PRODUCT for p in (ROOT / folder).rglob("*")
                       if p.suffix in SOURCES)
    bad = 0
    for path in files:
        for line, spec in faults(path.read_text(encoding="utf-8", errors="replace")):
            print(f"{path}:{line}: {spec}: not in the msvcrt of Windows 98", file=sys.stderr)
            bad += 1
    if bad:
        return 1
    print(f"format-check: {len(files)} files, every printf conversion within msvcrt 6.0")
    return 0


if __name__ == "__main__":
    sys.exit(main())
