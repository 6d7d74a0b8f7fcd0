#!/usr/bin/env python3
"""Counts non-blank, non-comment lines of C++ and CMake sources.

Usage: scripts/count-lines.py [--per-folder] PATH...
A line counts when, after removing // and /* */ comments (and # comments in
CMake files), anything but whitespace is left. Tests/Data is always skipped.
"""
import os
import re
import sys

SOURCE_EXT = {".cpp", ".h", ".hpp", ".cc", ".cxx", ".hh", ".txt", ".cmake"}


def count_file(path):
    cmake = path.endswith((".txt", ".cmake"))
    if path.endswith(".txt") and os.path.basename(path) != "CMakeLists.txt":
        return 0
    n = 0
    in_block = False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if cmake:
                if line.split("#", 1)[0].strip():
                    n += 1
                continue
            code = []
            i = 0
            in_str = None
            while i < len(line):
                if in_block:
                    end = line.find("*/", i)
                    if end < 0:
                        i = len(line)
                    else:
                        in_block = False
                        i = end + 2
                    continue
                c = line[i]
                if in_str:
                    code.append(c)
                    if c == "\\":
                        code.append(line[i + 1:i + 2])
                        i += 2
                        continue
                    if c == in_str:
                        in_str = None
                    i += 1
                    continue
                if line.startswith("//", i):
                    break
                if line.startswith("/*", i):
                    in_block = True
                    i += 2
                    continue
                if c in "\"'":
                    in_str = c
                code.append(c)
                i += 1
            if "".join(code).strip():
                n += 1
    return n


def count_tree(root):
    total = 0
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames
                       if os.path.normpath(os.path.join(dirpath, d)) != os.path.normpath("Tests/Data")
                       and not os.path.normpath(os.path.join(dirpath, d)).endswith("Tests/Data")]
        for name in filenames:
            if os.path.splitext(name)[1] in SOURCE_EXT:
                total += count_file(os.path.join(dirpath, name))
    return total


def main(args):
    per_folder = "--per-folder" in args
    paths = [a for a in args if a != "--per-folder"]
    grand = 0
    for p in paths:
        if per_folder and os.path.isdir(p):
            for sub in sorted(os.listdir(p)):
                full = os.path.join(p, sub)
                if os.path.isdir(full) and not full.rstrip("/").endswith("Tests/Data"):
                    print(f"{count_tree(full):8d}  {full}")
        n = count_tree(p) if os.path.isdir(p) else count_file(p)
        grand += n
        print(f"{n:8d}  {p}")
    if len(paths) > 1:
        print(f"{grand:8d}  total")


if __name__ == "__main__":
    main(sys.argv[1:])
