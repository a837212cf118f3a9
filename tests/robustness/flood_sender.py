#!/usr/bin/python3
"""Floods a UDP port on the loopback interface with snapshots and garbage, as fast as it can,
for a bounded count and time, and prints what it sent as one line of JSON.

Usage: flood_sender.py PORT PROFILE [--count N] [--seconds S] [--self-id ID] [--avoid-count N] [--seed SEED]
Profiles: mixed (garbage, near misses, valid snapshots of every size, datagrams longer than the
client's 4096-byte buffer), full (valid snapshots of 204 players, the most one datagram can
carry), tiny (valid 11-byte snapshots).
The count of others in every valid snapshot sent differs from --avoid-count, so a later
snapshot with that count can be told apart from anything the flood left behind."""

import argparse
import json
import math
import random
import socket
import struct
import time

MOST_ENTRIES = 204


def snapshot(self_id, entries, announced=None):
    count = len(entries) if announced is None else announced
    body = b"".join(struct.pack("<I4f", *entry) for entry in entries)
    return b"KV01\x02" + struct.pack("<IH", self_id, count) + body


def players(rng, count, first_id=1000):
    return [(first_id + i, rng.uniform(-60, 60), rng.uniform(-60, 60), 1.7, rng.uniform(-4, 4))
            for i in range(count)]


def others_count(rng, avoid):
    while True:
        count = rng.randint(0, MOST_ENTRIES)
        if count != avoid:
            return count


def garbage(rng, self_id):
    kind = rng.randrange(8)
    if kind == 0:  # random bytes of any length the client can receive
        return rng.randbytes(rng.randint(1, 4096))
    if kind == 7:  # longer than the receive buffer: the client reads the first 4096 bytes
        return rng.choice([rng.randbytes(rng.randint(4097, 8192)), snapshot(self_id, players(rng, 300))])
    if kind == 1:  # a pose echoed back
        return b"KV01\x01" + struct.pack("<5f", 1.0, 2.0, 1.7, 0.5, 0.0)
    if kind == 2:  # an unknown type with a snapshot's body
        return b"KV01\x03" + snapshot(self_id, players(rng, 3))[5:]
    if kind == 3:  # the magic in the wrong case
        return b"kv01" + snapshot(self_id, players(rng, 3))[4:]
    if kind == 4:  # one byte short of a header
        return snapshot(self_id, [])[:10]
    if kind == 5:  # a header announcing the most entries, with bytes that look like floats
        entry = struct.pack("<5I", 5, 0x7FC00000, 0x7F800000, 0, 1)
        return snapshot(self_id, [], announced=0xFFFF) + entry * 3
    # Short and zero-filled. Never empty: an empty datagram ends the drain by design, which would
    # let the frame go on and hide what a flood can do to it.
    return bytes(rng.randint(1, 40))


def valid(rng, self_id, avoid):
    count = others_count(rng, avoid)
    entries = players(rng, count)
    shape = rng.randrange(4)
    if shape == 0 and count < MOST_ENTRIES:  # the receiver's own id among the others
        entries.insert(rng.randint(0, count), (self_id, 0.0, 0.0, 1.7, 0.0))
    elif shape == 1 and count > 0:  # NaN and infinities taken as they come
        entries[0] = (entries[0][0], math.nan, math.inf, -math.inf, math.nan)
    elif shape == 2 and 0 < count < MOST_ENTRIES:  # a trailing partial entry
        return snapshot(self_id, entries) + b"\x01" * rng.randint(1, 19)
    return snapshot(self_id, entries)


def build_pool(profile, rng, self_id, avoid):
    if profile == "tiny":
        return [snapshot(self_id, [])] if avoid != 0 else [snapshot(self_id, players(rng, 1))]
    if profile == "full":
        count = MOST_ENTRIES if avoid != MOST_ENTRIES else MOST_ENTRIES - 1
        return [snapshot(self_id, players(rng, count, first_id=1000 + 1000 * i)) for i in range(16)]
    pool = []
    for _ in range(512):
        pool.append(valid(rng, self_id, avoid) if rng.random() < 0.5 else garbage(rng, self_id))
    return pool


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("profile", choices=("mixed", "full", "tiny"))
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--count", type=int, default=200_000)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--self-id", type=int, default=77)
    parser.add_argument("--avoid-count", type=int, default=-1)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    pool = build_pool(args.profile, rng, args.self_id, args.avoid_count)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    target = (args.host, args.port)
    sent = failed = sent_bytes = 0
    start = time.monotonic()
    deadline = start + args.seconds
    size = len(pool)
    # Bounded both ways; the clock is read once per 256 sends to keep the loop tight.
    while sent + failed < args.count:
        if (sent + failed) % 256 == 0 and time.monotonic() >= deadline:
            break
        data = pool[(sent + failed) % size]
        try:
            sock.sendto(data, target)
            sent += 1
            sent_bytes += len(data)
        except OSError:
            failed += 1
    elapsed = time.monotonic() - start
    sock.close()
    print(json.dumps({"profile": args.profile, "sent": sent, "failed": failed, "bytes": sent_bytes,
                      "seconds": round(elapsed, 3), "rate": round(sent / elapsed) if elapsed > 0 else 0}))


if __name__ == "__main__":
    main()
