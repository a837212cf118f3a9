#!/usr/bin/env python3
"""Writes the ranges of combining marks (general categories Mn and Me) from Debian's UnicodeData.txt
as a C++ table, so that a server's name made of marks with nothing to sit on is never shown blank.

Usage: combining_marks.py UnicodeData.txt OUTPUT.inc"""
import sys


def mark_ranges(lines):
    ranges = []
    for line in lines:
        fields = line.split(";")
        if len(fields) < 3 or fields[2] not in ("Mn", "Me"):
            continue
        code = int(fields[0], 16)
        if ranges and ranges[-1][1] == code - 1:
            ranges[-1][1] = code
        else:
            ranges.append([code, code])
    return ranges


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as data:
        ranges = mark_ranges(data)
    if len(ranges) < 100:
        sys.exit(f"combining_marks.py: {sys.argv[1]} lists only {len(ranges)} ranges of marks: not UnicodeData.txt?")
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write("// Generated from UnicodeData.txt by tools/common/combining_marks.py: the combining marks\n"
                  "// (Mn, Me) as sorted, disjoint ranges of code points.\n")
        for first, last in ranges:
            out.write(f"{{0x{first:X}u, 0x{last:X}u}},\n")


if __name__ == "__main__":
    main()
