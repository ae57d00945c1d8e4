#!/usr/bin/env python3
"""Writes the long seeds of fuzz/corpus/ (seed-group-*): inputs of several
whole groups of 64-byte blocks in each shape that a kernel weighs in its own
way, and lists that end at chosen blocks. The same seeds come out every run.

    fuzz/make_corpus.py [CORPUS_DIR]
"""
import os
import random
import sys

BLOCK = 64
GROUP = 8 * BLOCK
SIZE = 7 * GROUP  # seven groups and a bit: a steady state, not just its start


def header(mode, rng):
    """The fuzz target's two leading bytes: mode 3 reads up to the whole
    buffer, mode 2 up to a read size of 1000 to 4096 bytes."""
    if mode == 3:
        low = rng.randrange(64)
    else:
        low = rng.randrange(1000, 4096)
    value = mode | low << 2
    return bytes([value & 0xFF, value >> 8 & 0xFF])


SEPARATORS = [" ", ",", ", ", " ,", "\n", "\r\n", "\t", ",,, ", " ,\n\t"]


def integers(rng, digits, negative_share, size=SIZE, separators=SEPARATORS):
    """Integers of lengths drawn from `digits`, with a minus at the given
    share of them and a plus now and then, up to `size` bytes."""
    out = []
    length = 0
    while length < size:
        sign = ""
        roll = rng.random()
        if roll < negative_share:
            sign = "-"
        elif roll < negative_share + 0.05:
            sign = "+"
        n = rng.choice(digits)
        # A leading 0 now and then: it counts, as a digit of weight 0.
        text = sign + "".join(rng.choice("0123456789") for _ in range(n)) + rng.choice(separators)
        out.append(text)
        length += len(text)
    return "".join(out)[:size]


def shapes(rng):
    # No negatives and at most 3 digits: one weight byte, no sign work.
    yield "short", integers(rng, [1, 2, 3], 0.0)
    yield "short-negative", integers(rng, [1, 2, 3], 0.3)
    # Runs of 4 and 5: two weight bytes.
    yield "medium", integers(rng, [1, 3, 4, 5, 5], 0.0)
    yield "medium-negative", integers(rng, [2, 4, 5], 0.25)
    # Runs of 6 and more, in pairs of digits.
    yield "long", integers(rng, [6, 7, 9, 10, 12, 15], 0.0)
    yield "long-negative", integers(rng, [1, 6, 8, 10, 13, 15], 0.3)
    # 16 digits and more, across block ends: the rare exact path.
    yield "huge", integers(rng, [3, 10, 16, 17, 20, 31, 32, 33, 45, 70], 0.3)
    # Long runs of separators and white space between a few integers.
    runs = []
    length = 0
    while length < SIZE:
        run = rng.choice([" ", ",", " ,", "\t", "\n", "\r\n", "\n \t"]) * rng.randrange(20, 400)
        piece = str(rng.randrange(-99999, 99999)) + run
        # Spaces and commas after an integer, then white space: the
        # separator run may cross blocks and groups.
        if rng.random() < 0.5:
            piece = str(rng.randrange(1000)) + (" ," * rng.randrange(10, 200)) + "\n" * rng.randrange(1, 90)
        runs.append(piece)
        length += len(piece)
    yield "blank-runs", "".join(runs)[:SIZE]


# Where a list ends: (name, group, block in the group, byte in the block, what ends it).
ENDS = [
    ("end-g0-b3", 0, 3, 17, "x"),
    ("end-g1-b0", 1, 0, 0, "\n,"),
    ("end-g1-b7", 1, 7, 63, "-;"),
    ("end-g2-b5", 2, 5, 40, "\0"),
    ("end-g4-b2", 4, 2, 9, "\x80"),
    ("end-g6-b6", 6, 6, 30, "+ "),
]


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    rng = random.Random(20240611)
    seeds = {}
    for name, text in shapes(rng):
        for mode, suffix in ((3, "whole"), (2, "reads")):
            seeds[f"seed-group-{name}-{suffix}"] = header(mode, rng) + text.encode("latin-1")
    for name, group, block, byte, junk in ENDS:
        at = group * GROUP + block * BLOCK + byte
        text = integers(rng, [1, 2, 4, 6, 9, 17], 0.2)
        # The junk replaces the bytes at `at`, right after an integer's digit
        # for some, so that the end falls where it was asked.
        text = text[:at] + junk + text[at + len(junk):]
        seeds[f"seed-group-{name}"] = header(3, rng) + text.encode("latin-1")
    for name, data in seeds.items():
        with open(os.path.join(corpus, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
