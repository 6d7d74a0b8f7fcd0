#!/usr/bin/env python3
"""Writes a perf script text as a longer recording of the same program: the input repeated until
the output holds at least the given number of bytes, each copy's times moved to follow the copy
before (its span plus one second later), so that an importer sees one long recording rather than
several that overlap in time.

    repeat-recording.py INPUT MIN_BYTES > OUTPUT

A header's time is its first field of the form SECONDS.FRACTION: that ends in a colon; headers
without one (texts recorded without time) are copied as they are.
"""
import re
import sys

TIME = re.compile(rb"(?<=\s)(\d+)\.(\d+):")


def main():
    path, minBytes = sys.argv[1], int(sys.argv[2])
    with open(path, "rb") as f:
        lines = f.read().splitlines(keepends=True)
    # Times as integer ticks of the finest fraction the text uses.
    digits = 0
    times = []
    for line in lines:
        if line[:1] in (b" ", b"\t", b"#", b"\n") or not line.strip():
            continue
        m = TIME.search(line)
        if m:
            digits = max(digits, len(m.group(2)))
            times.append((m.group(1), m.group(2)))
    scale = 10 ** digits

    def ticks(whole, fraction):
        return int(whole) * scale + int(fraction.ljust(digits, b"0"))

    span = (max(ticks(*t) for t in times) - min(ticks(*t) for t in times)) if times else 0
    step = span + scale  # one second between copies
    size = sum(len(line) for line in lines)
    copies = max(1, -(-minBytes // max(size, 1)))
    out = sys.stdout.buffer
    for copy in range(copies):
        offset = copy * step

        def shift(m):
            value = ticks(m.group(1), m.group(2)) + offset
            width = len(m.group(2))
            value //= 10 ** (digits - width)
            return b"%d.%0*d:" % (value // 10**width, width, value % 10**width)

        for line in lines:
            if copy and line[:1] not in (b" ", b"\t", b"#") and line.strip():
                line = TIME.sub(shift, line, count=1)
            out.write(line)
        if lines and not lines[-1].endswith(b"\n"):
            out.write(b"\n")
        # A copy whose last record has no blank line after it would run into the next copy.
        if lines and lines[-1].strip():
            out.write(b"\n")


if __name__ == "__main__":
    main()
