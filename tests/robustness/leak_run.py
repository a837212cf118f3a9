#!/usr/bin/python3
"""Runs the sanitizer-built client for a few seconds under its own Xvfb while a fake server sends it
snapshots, ends it with Escape and reads LeakSanitizer's report from its standard error.

Fails when the sanitizers report a memory error or undefined behaviour, or a leak whose stack
passes through the project's own sources; leaks wholly inside third-party libraries are shown
but do not fail the check (the suppressions file is where they belong).

Usage: leak_run.py --client PATH --source-root DIR [--seconds S]"""

import argparse
import os
import random
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import (ClientProcess, FakeServer, VirtualX, client_env, isolate_network, snapshot,  # noqa: E402
                     title_count, wait_for)

SELF_ID = 41
FRAME = re.compile(r"^\s*#\d+ 0x[0-9a-f]+ in (.*?) (/\S+?)(?::\d+)*$")


def leak_reports(stderr):
    """The blocks of a LeakSanitizer report, one per leaked allocation site."""
    blocks, current = [], None
    for line in stderr.splitlines():
        if line.startswith(("Direct leak", "Indirect leak")):
            current = [line]
            blocks.append(current)
        elif current is not None and line.strip().startswith("#"):
            current.append(line)
        else:
            current = None
    return blocks


def is_ours(block, source_root):
    for line in block[1:]:
        match = FRAME.match(line)
        if match and os.path.realpath(match.group(2)).startswith(source_root + os.sep):
            return True
    return False


def exercise(xserver, fake_server, seconds):
    """Walks, turns and receives snapshots of every size; returns the number of datagrams sent."""
    rng = random.Random(7)
    sent = 0
    keys = ["w", "d", "s", "a"]
    end = time.monotonic() + seconds
    step = 0
    while time.monotonic() < end:
        key = keys[step % len(keys)]
        xserver.key(key, True)
        xserver.move_pointer_by(rng.randint(-30, 30), rng.randint(-20, 20))
        count = rng.choice([0, 1, 2, 50, 204])
        entries = [(100 + i, rng.uniform(-50, 50), rng.uniform(-50, 50), 1.7, rng.uniform(-3, 3))
                   for i in range(count)]
        fake_server.send(snapshot(SELF_ID, entries))
        fake_server.send(bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 64))))
        sent += 2
        time.sleep(0.05)
        xserver.key(key, False)
        step += 1
    return sent


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--source-root", required=True)
    parser.add_argument("--seconds", type=float, default=4.0)
    args = parser.parse_args()
    source_root = os.path.realpath(args.source_root)
    os.environ["BRASSMOOR_CLIENT"] = args.client
    # Nothing else on this machine that uses the server port can then disturb the run, or be disturbed.
    isolated = isolate_network()

    xserver = VirtualX()
    fake_server = client = None
    try:
        fake_server = FakeServer()
        client = ClientProcess(env=client_env(xserver.name))
        wait_for(fake_server.client_address, timeout=60, what="the client's first pose")
        sent = exercise(xserver, fake_server, args.seconds)
        fake_server.send(snapshot(SELF_ID, [(SELF_ID, 0, 0, 1.7, 0), (1, 1, 1, 1.7, 0), (2, 2, 2, 1.7, 0)]))
        wait_for(lambda: title_count(xserver.title()) == 2, timeout=30, what="the last snapshot in the title")
        poses = fake_server.count()
        xserver.key("Escape", True)
        try:
            status = client.wait(timeout=120)  # the leak scan runs at exit
        finally:
            xserver.key("Escape", False)
        stderr = client.stderr()
    finally:
        if client is not None:
            client.stop()
        if fake_server is not None:
            fake_server.stop()
        xserver.stop()

    network = "own network" if isolated else "shared network"
    print(f"leak check ({network}): ran {args.seconds} s, sent {sent} datagrams, received {poses} poses, "
          f"exit status {status}")
    if "ERROR: AddressSanitizer" in stderr or "runtime error:" in stderr:
        print(stderr)
        print("leak check: FAILED, the sanitizers reported an error")
        return 1
    blocks = leak_reports(stderr)
    ours = [block for block in blocks if is_ours(block, source_root)]
    if "Suppressions used:" in stderr:
        print(stderr[stderr.index("Suppressions used:"):].split("\n\n")[0])
    if ours:
        print("\n\n".join("\n".join(block) for block in ours))
        print(f"leak check: FAILED, {len(ours)} leak(s) through {source_root}")
        return 1
    if blocks:
        print("\n\n".join("\n".join(block) for block in blocks))
        print(f"leak check: {len(blocks)} leak(s) inside third-party libraries only (not ours); "
              "consider a suppression")
        return 0
    if status != 0:
        print(stderr)
        print(f"leak check: FAILED, the client exited with status {status}")
        return 1
    print("leak check: no leaks")
    return 0


if __name__ == "__main__":
    sys.exit(main())
