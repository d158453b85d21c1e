#!/usr/bin/env python3
"""Checks that the folders of src/ include each other only downwards.

Reads every `#include "..."` of src/ that names a file of src/, counts the includes between folders,
and fails when a folder includes one that is not below it in LAYERS (which also rules out cycles) or
when a folder is missing from LAYERS. With --graph it prints the counts.
"""
import collections
import os
import re
import sys

# Bottom first. The README's layout table describes each folder.
LAYERS = [
    "base", "formats", "prefix", "hive", "paths", "wine", "desktop",  # the platform
    "inventory", "tools",                                                # the core of the program
    "controls", "details", "menus", "leftovers", "uninstall", "audit", "mainwindow",  # features and windows
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(relative_path):
    return relative_path.split(os.sep)[0]


def include_counts(src):
    counts = collections.Counter()
    for directory, _, names in os.walk(src):
        for name in names:
            if not name.endswith((".h", ".cpp", ".c")):
                continue
            path = os.path.join(directory, name)
            source_folder = folder_of(os.path.relpath(path, src))
            with open(path, encoding="utf-8") as source:
                included = INCLUDE.findall(source.read())
            for target in included:
                for candidate in (os.path.join(directory, target), os.path.join(src, target)):
                    if os.path.isfile(candidate):
                        target_folder = folder_of(os.path.relpath(candidate, src))
                        if target_folder != source_folder:
                            counts[(source_folder, target_folder)] += 1
                        break
    return counts


def main():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    counts = include_counts(src)
    rank = {folder: index for index, folder in enumerate(LAYERS)}
    faults = []
    folders = {entry for entry in os.listdir(src) if os.path.isdir(os.path.join(src, entry))}
    faults += [f"{folder}: not in LAYERS" for folder in sorted(folders - rank.keys())]
    for (source, target), count in sorted(counts.items()):
        if source in rank and target in rank and rank[target] >= rank[source]:
            faults.append(f"{source} includes {target} ({count}), which is not below it")
    if "--graph" in sys.argv:
        for folder in LAYERS:
            below = [f"{target}({count})" for (source, target), count in sorted(counts.items(),
                     key=lambda item: rank.get(item[0][1], -1)) if source == folder]
            print(f"{folder:>10} -> {' '.join(below) or '-'}")
    for fault in faults:
        print("layers: " + fault, file=sys.stderr)
    if faults:
        return 1
    print(f"layers: {len(LAYERS)} folders, {sum(counts.values())} includes between them, all downwards")
    return 0


if __name__ == "__main__":
    sys.exit(main())
