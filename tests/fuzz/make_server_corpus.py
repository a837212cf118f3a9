#!/usr/bin/python3
"""Writes the seed corpus of the server fuzz target: one script per situation the server meets.

The script format is described at the top of server_fuzz.cpp: three set-up bytes (cap, timeout,
bots), then steps. Usage: make_server_corpus.py [DIRECTORY]   (default: server_corpus/ next to this)
"""

import math
import os
import struct
import sys


def setup(cap, timeout_seconds, bots=0):
    """Cap on clients 1 to 8, the silence timeout (0.1 + 0.05 * n seconds) and ids taken by bots."""
    return bytes([cap - 1, round((timeout_seconds - 0.1) / 0.05), bots])


def near(host, port=0):
    """One of the 16 nearby sources: 10.0.0.(1 + host):(50000 + port)."""
    return bytes([(port << 2) | host])


def raw(ipv4, port):
    """Any source, written out in full."""
    return b"\x80" + struct.pack(">IH", ipv4, port)


def pose(source, x=0.0, y=0.0, z=1.7, yaw=0.0, pitch=0.0):
    return b"\x00" + source + struct.pack("<5f", x, y, z, yaw, pitch)


def datagram(source, data):
    assert len(data) <= 255
    return b"\x01" + source + bytes([len(data)]) + data


def wait(seconds):
    """The clock moves on by b*b/4096 seconds, b the nearest byte."""
    return b"\x02" + bytes([min(255, round(math.sqrt(seconds * 4096)))])


TICK = b"\x03"
FORGET = b"\x04"


def again(source):
    return b"\x05" + source


A, B, C, D = near(0), near(1), near(2), near(3, 3)
WELL_FORMED = b"KV01\x01" + struct.pack("<5f", 1.0, 2.0, 1.7, -0.5, 0.25)

SEEDS = {
    "steady_client_thirty_poses_a_second":
        setup(8, 5.0, bots=3) + (pose(A, 1.0, 2.0) + wait(1 / 30) + TICK) * 60 + FORGET,
    "table_full_newcomer_refused_then_seated":
        setup(2, 5.0) + pose(A) + pose(B) + pose(C) + TICK + wait(6.0) + pose(B) + FORGET + pose(C) + TICK,
    "poses_bank_up_to_three_snapshots": setup(1, 5.0) + pose(A) * 6 + TICK * 5,
    "a_late_pose_answered_on_the_next_tick":
        setup(4, 5.0) + pose(A) + TICK + TICK + pose(A) + pose(A) + TICK + TICK + TICK,
    "duplicate_pose_from_the_same_and_another_source": setup(4, 5.0) + pose(A) + again(A) + again(B) + TICK * 3,
    "malformed_datagrams_from_a_client_and_a_stranger":
        setup(2, 5.0) + pose(A) + datagram(A, WELL_FORMED[:24]) + datagram(A, WELL_FORMED + b"\x00")
        + datagram(B, b"KV02" + WELL_FORMED[4:]) + datagram(B, b"kV01" + WELL_FORMED[4:])
        + datagram(C, b"KV01\x02" + WELL_FORMED[5:]) + datagram(C, b"") + datagram(D, bytes(range(255)))
        + datagram(D, WELL_FORMED) + TICK + TICK,
    "addresses_at_the_edges":
        setup(8, 5.0) + pose(raw(0, 0)) + pose(raw(0xFFFFFFFF, 65535)) + pose(raw(1, 0)) + pose(raw(0, 1))
        + pose(raw(0x00010000, 0)) + pose(raw(0, 1)) + TICK + FORGET,
    "silent_client_comes_back_under_a_new_id":
        setup(4, 0.5, bots=2) + pose(A) + TICK + wait(1.0) + FORGET + pose(A) + TICK,
    "kept_right_up_to_the_timeout": setup(4, 1.0) + pose(A) + wait(0.99) + FORGET + TICK + wait(0.05) + FORGET,
    "forged_poses_one_per_source":
        setup(4, 5.0) + b"".join(pose(raw(0xC0000200 + i, 40000 + i)) for i in range(40)) + TICK * 10,
    "odd_floats_in_a_pose": setup(2, 5.0) + pose(A, math.nan, math.inf, -math.inf, -0.0, math.nan) + TICK,
    "clock_in_small_steps_and_long_jumps":
        setup(3, 2.0) + pose(A) + (wait(0.01) + TICK) * 5 + wait(15.9) + TICK + FORGET + pose(B) + TICK,
    "a_short_script_cut_mid_step": setup(2, 5.0) + pose(A)[:9],
    "empty": b"",
}


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "server_corpus")
    os.makedirs(directory, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(SEEDS)} seeds to {directory}")


if __name__ == "__main__":
    main()
