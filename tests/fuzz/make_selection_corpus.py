#!/usr/bin/python3
"""Writes the seed corpus of the selection fuzz target: one world per situation the grid meets.

The input format is described at the top of selection_fuzz.cpp: three set-up bytes (cap, players
per cell of the second grid, bots), then the players. Usage: make_selection_corpus.py [DIRECTORY]
(default: selection_corpus/ next to this)
"""

import os
import random
import struct
import sys

FINE, ONE, DEFAULT, COARSE = 0, 1, 2, 3


def setup(cap, density, bots=0):
    return bytes([cap, density, bots])


def lattice(x, y):
    """A lattice point, x from -6 to 5 and y from -5 to 5."""
    return bytes([(y + 5) * 12 + (x + 6)])


def at(x, y):
    return b"\x80" + struct.pack("<ff", x, y)


def at_bits(x_bits, y_bits):
    return b"\x80" + struct.pack("<II", x_bits, y_bits)


def worlds():
    rng = random.Random(5)
    spread = b"".join(at(rng.uniform(-60, 60), rng.uniform(-60, 60)) for _ in range(300))
    yield "spread_300_full_cap", setup(204, DEFAULT) + spread
    yield "spread_300_cap_5_fine", setup(5, FINE, 3) + spread
    yield "lattice_ties", setup(30, ONE) + bytes(range(0, 128, 1)) * 2
    yield "one_spot", setup(204, DEFAULT) + lattice(2, 3) * 400
    yield "far_outliers", setup(100, FINE) + spread[:9 * 150] + at(1e30, -1e30) + at(-3.4e38, 3.4e38) + \
        at(2e19, 0.0) + at(0.0, -2e19) + at(1e-40, 1e-40)
    yield "not_finite", setup(205, ONE) + b"".join(
        [at_bits(0x7FC00000, 0), at_bits(0x7F800000, 0xFF800000), at(1.0, 2.0), at_bits(0, 0x7FC00001)] * 60)
    yield "a_line", setup(50, COARSE) + b"".join(at(rng.uniform(-500, 500), 7.0) for _ in range(250))
    yield "crowd_beside_spread", setup(204, DEFAULT, 7) + spread + b"".join(
        at(40 + rng.gauss(0, 1), -20 + rng.gauss(0, 1)) for _ in range(200))
    yield "few_players", setup(204, DEFAULT) + lattice(0, 0) + lattice(1, 0)
    yield "cap_zero", setup(0, ONE) + spread[:9 * 20]


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 "selection_corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in worlds():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
