#!/usr/bin/python3
"""Writes the seed corpus of the snapshot fuzz target: one file per edge case of the datagram format.

Usage: make_corpus.py [DIRECTORY]   (default: the corpus/ folder next to this script)
"""

import math
import os
import struct
import sys


def snapshot(self_id, entries, announced=None):
    count = len(entries) if announced is None else announced
    body = b"".join(struct.pack("<I4f", *entry) for entry in entries)
    return b"KV01\x02" + struct.pack("<IH", self_id, count) + body


def players(count, first_id=100):
    return [(first_id + i, float(i), float(-i), 1.7, 0.01 * i) for i in range(count)]


SEEDS = {
    # The worked example: one entry, id 9 at (1, 2, 1.7), yaw 0.
    "one_entry_31_bytes": bytes.fromhex("4b56303102070000000100090000000000803f000000409a99d93f00000000"),
    "header_only_announcing_none": snapshot(7, []),
    "header_only_announcing_65535": snapshot(7, [], announced=0xFFFF),
    "ten_bytes_rejected": snapshot(7, [])[:10],
    "fifty_bytes_announcing_three": snapshot(7, players(3))[:50],
    "none_announced_forty_bytes_carried": snapshot(7, players(2), announced=0),
    "echoed_pose_type_1": bytes.fromhex("4b5630310100000000000000009a99d93ff90fc93f00000000"),
    "unknown_type_3": b"KV01\x03" + snapshot(7, players(1))[5:],
    "magic_in_lower_case": b"kv01" + snapshot(7, players(1))[4:],
    "same_id_twice": snapshot(7, [(9, 1.0, 2.0, 1.7, 0.0), (9, 3.0, 4.0, 1.7, 1.0)]),
    "self_id_listed_with_others": snapshot(7, [(7, 0.0, 0.0, 1.7, 0.0), (9, 1.0, 2.0, 1.7, 0.0)]),
    "only_self_id": snapshot(7, [(7, 0.0, 0.0, 1.7, 0.0)]),
    "id_zero_as_self_and_peer": snapshot(0, [(0, 1.0, 1.0, 1.7, 0.0), (1, 2.0, 2.0, 1.7, 0.0)]),
    "three_announced_two_whole": snapshot(7, players(3))[:-1],
    "more_entries_than_announced": snapshot(7, players(5), announced=2),
    "odd_floats": snapshot(7, [(1, math.nan, math.inf, -math.inf, -0.0), (2, 1e-45, -3.4e38, 0.0, math.nan)]),
    "largest_that_fits_204_entries": snapshot(7, players(204)),
    "full_buffer_announcing_65535": snapshot(0xFFFFFFFF, players(204), announced=0xFFFF) + b"\xAA" * 5,
    "two_hundred_five_cut_to_4096": snapshot(7, players(205))[:4096],
    "magic_only": b"KV01",
    "empty": b"",
}


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(directory, exist_ok=True)
    for name, data in SEEDS.items():
        assert len(data) <= 4096, name
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(SEEDS)} seeds to {directory}")


if __name__ == "__main__":
    main()
