#!/usr/bin/env python3
"""Checks that the runtime's folders include each other one way only, bottom to top.

Usage: check_layers.py [ROOT] [--matrix]

Every `#include` in runtime/ and shell/ is read. An include of another runtime folder's header
("vm/program.h") or of the public header (<qzbase.h>) must name a folder the including folder may
use: one of its lower layers (LAYERS below). A same-folder include ("charset.h") is always fine,
and so are the few upward includes listed in REMAINING, each with the interface meant to carry it.
A folder that is not in LAYERS fails the check, so that a new folder gets its place first.
--matrix prints how often each folder includes each other one, and checks nothing.

Exit status 0 when every include goes downwards, 1 otherwise (each offending line is listed).
"""
import os
import re
import sys

# The layers, bottom first: a folder may include the folders listed before it, never those after.
# `include` is the public header (qzbase.h); `external` holds third-party code (fcvt); `dynload`
# opens the libraries used only by some programs (ODBC, libcrypto) when first called.
# Where a lower layer must call a higher one it declares a narrow interface (a hook, a function
# pointer or an abstract class) and the higher one installs it.
LAYERS = [
    "include",
    "external",
    "dynload",
    "values",
    "platform",
    "vm",
    "frontend",
    "compiler",
    "objects",
    "tables",
    "indexes",
    "builtins",
    "host",
]

# shell/ sits above the whole library.
TOP = "shell"

# Includes that still go upwards, each with what it reaches and the interface that is to carry it.
# The check passes them; any other upward include fails. Keep it empty: a lower folder that must
# call a higher one declares a narrow interface that the higher one installs.
REMAINING = {}


def allowed_lower(folder):
    return LAYERS[: LAYERS.index(folder)]


INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".y", ".inc")


def scan(root):
    """Yields (file relative to root, line number, source folder, target folder, include text)."""
    runtime = os.path.join(root, "runtime")
    folders = {d for d in os.listdir(runtime) if os.path.isdir(os.path.join(runtime, d))}
    for base, source_of in ((runtime, None), (os.path.join(root, TOP), TOP)):
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                source = source_of or os.path.relpath(path, runtime).split(os.sep)[0]
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        text = m.group(2)
                        first = text.split("/")[0]
                        if text == "qzbase.h":
                            target = "include"
                        elif "/" in text and first in folders:
                            target = first
                        elif os.path.exists(os.path.join(dirpath, text)):
                            target = source
                        else:
                            continue  # a system or third-party header
                        yield rel, number, source, target, text


def matrix(root):
    counts = {}
    for _, _, source, target, _ in scan(root):
        if source != target:
            counts[(source, target)] = counts.get((source, target), 0) + 1
    names = [f for f in LAYERS if any(f in k for k in counts)] + [TOP]
    width = max(len(n) for n in names) + 1
    print("from \\ to".ljust(width) + "".join(n[:8].rjust(9) for n in names))
    for a in names:
        row = "".join((str(counts[(a, b)]) if (a, b) in counts else ".").rjust(9) for b in names)
        print(a.ljust(width) + row)


def check(root):
    faults = []
    used = set()
    for rel, number, source, target, text in scan(root):
        if source == target:
            continue
        if source == TOP:
            continue
        if source not in LAYERS:
            faults.append(f"{rel}:{number}: folder runtime/{source}/ has no place in the layer table")
            continue
        if target not in allowed_lower(source):
            if (rel.replace(os.sep, "/"), text) in REMAINING:
                used.add((rel.replace(os.sep, "/"), text))
                continue
            faults.append(f"{rel}:{number}: {source} may not include {text} ({target} is not below {source})")
    for f in faults:
        print(f)
    for rel, text in sorted(set(REMAINING) - used):
        print(f"note: {rel} no longer includes {text}: drop it from REMAINING")
    if faults:
        print(f"{len(faults)} include(s) against the layer order: " + " -> ".join(LAYERS) + f" -> {TOP}")
        return 1
    print(f"layers: every include goes downwards but the {len(used)} listed in REMAINING")
    return 0


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    if "--matrix" in argv:
        matrix(root)
        return 0
    return check(root)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
