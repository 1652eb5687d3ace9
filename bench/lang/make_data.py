#!/usr/bin/env python3
"""Writes the inputs of the language benchmarks into DIR:
strings.txt  100000 lines of 30 random letters (seeded, the same on every run)
lines.txt    about 100 MB of text lines of 79 characters and a line feed
"""
import os
import random
import sys

out = sys.argv[1] if len(sys.argv) > 1 else "/tmp/qz-bench"
os.makedirs(out, exist_ok=True)
rng = random.Random(1)
letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
with open(os.path.join(out, "strings.txt"), "w", newline="\n") as f:
    f.write("\n".join("".join(rng.choice(letters) for _ in range(30)) for _ in range(100000)))
line = ("0123456789abcdefghijklmnopqrstuvwxyz" * 3)[:79] + "\n"
with open(os.path.join(out, "lines.txt"), "w", newline="\n") as f:
    block = line * 10000
    for _ in range(100 * 1000 * 1000 // len(block) + 1):
        f.write(block)
