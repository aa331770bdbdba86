#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes N small text files of 1 to 3 KB into OUT_DIR, a thousand to a
folder, the same ones every time: a tree of many files, where the cost per
file sets the pace rather than deflating."""
import os
import random
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_small_files.py N OUT_DIR")
    count, root = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(1)
    words = ["w%d" % i for i in range(2000)]
    for i in range(count):
        folder = os.path.join(root, "d%04d" % (i // 1000))
        if i % 1000 == 0:
            os.makedirs(folder, exist_ok=True)
        size = rng.randint(1000, 3000)
        text = " ".join(rng.choice(words) for _ in range(size // 4))[:size]
        with open(os.path.join(folder, "f%07d.txt" % i), "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
