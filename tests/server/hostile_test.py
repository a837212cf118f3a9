"""brassmoor-server under forged poses: a capped table of clients and no more snapshots than poses.

A steady client poses 30 times a second throughout, while 500 sources (one per UDP port, as forged
source addresses would be) each send one pose; every socket is then listened on for 6 s. Run pytest
with -s to see the figures: snapshots the one-shot sources drew, the amplification in bytes, the
steady client's rate."""

import os
import re
import selectors
import socket
import sys
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_test import DEADLINE, RunningServer, parse_snapshot, pose_bytes  # noqa: E402

ONE_SHOTS = 500
ONE_SHOT_INTERVAL = 0.002  # seconds between one-shot poses, so that no burst overflows a socket queue
LISTEN_SECONDS = 6.0
STEADY_RATE = 30.0  # poses a second, the client's own rate
LEAST_STEADY_RATE = 20.0  # snapshots a second the steady client must get at the server's default rate
DEFAULT_MAX_CLIENTS = 64
GARBAGE = [b"", b"KV01", b"KV01\x01" + bytes(19), b"KV01\x02" + bytes(20), bytes(300)]

STATUS = re.compile(r"^status players=\d+ clients=(?P<clients>\d+) bots=\d+ in=(?P<in>\d+) out=(?P<out>\d+) "
                    r"dropped=(?P<dropped>\d+) send-failures=(?P<failures>\d+) refused=(?P<refused>\d+) "
                    r"withheld=(?P<withheld>\d+)(?: [a-z0-9-]+=\S+)*$")


def bound_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.setblocking(False)
    return s


def all_lines(server):
    """Every line the server wrote, once it has exited and its reader has seen the end."""
    server.reader.join(timeout=DEADLINE)
    assert not server.reader.is_alive(), "the server's output did not end"
    while not server.lines.empty():
        server.seen.append(server.lines.get())
    return server.seen


def statuses(lines):
    found = [STATUS.match(line) for line in lines if line.startswith("status ")]
    assert all(found), [line for line in lines if line.startswith("status ")]
    return [{key: int(value) for key, value in m.groupdict().items()} for m in found]


class Traffic:
    """What each socket sent and received, kept apart for the steady client, the one-shot
    sources and the socket that sends garbage."""

    def __init__(self, port):
        self.port = port
        self.selector = selectors.DefaultSelector()
        self.steady = bound_socket()
        self.noisy = bound_socket()
        self.one_shots = []
        self.received = {}  # socket -> [datagrams, bytes]
        self.steady_poses = 0
        self.steady_poses_in_window = 0
        self.steady_snapshots_in_window = 0
        self.in_window = False
        try:
            for s in [self.steady, self.noisy]:
                self.watch(s)
            for _ in range(ONE_SHOTS):
                self.one_shots.append(bound_socket())
                self.watch(self.one_shots[-1])
        except BaseException:
            self.close()
            raise

    def watch(self, s):
        self.received[s] = [0, 0]
        self.selector.register(s, selectors.EVENT_READ)

    def close(self):
        self.selector.close()
        for s in [self.steady, self.noisy, *self.one_shots]:
            s.close()

    def send_steady(self):
        self.steady.sendto(pose_bytes(3.0, 4.0, 1.7, 0.5, 0.0), ("127.0.0.1", self.port))
        self.steady_poses += 1
        self.steady_poses_in_window += 1 if self.in_window else 0

    def read_ready(self, timeout):
        for key, _ in self.selector.select(timeout):
            while True:
                try:
                    data = key.fileobj.recv(8192)
                except BlockingIOError:
                    break
                parse_snapshot(data)
                self.received[key.fileobj][0] += 1
                self.received[key.fileobj][1] += len(data)
                if key.fileobj is self.steady and self.in_window:
                    self.steady_snapshots_in_window += 1

    def join_steady_client(self):
        """Poses now and then until the first snapshot comes back: the steady client is known."""
        end = time.monotonic() + DEADLINE
        while self.received[self.steady][0] == 0:
            assert time.monotonic() < end, "the steady client got no snapshot"
            self.send_steady()
            self.read_ready(0.2)

    def run_window(self):
        """The steady client's poses on schedule, the one-shot poses spread over the first second,
        and every socket read, for LISTEN_SECONDS."""
        for datagram in GARBAGE:
            self.noisy.sendto(datagram, ("127.0.0.1", self.port))
        self.in_window = True
        start = time.monotonic()
        end = start + LISTEN_SECONDS
        next_steady = start
        sent = 0
        while True:
            now = time.monotonic()
            if now >= end:
                break
            while next_steady <= now:
                self.send_steady()
                next_steady += 1.0 / STEADY_RATE
            while sent < ONE_SHOTS and start + sent * ONE_SHOT_INTERVAL <= now:
                pose = pose_bytes(float(sent), 1.0, 1.7, 0.0, 0.0)
                self.one_shots[sent].sendto(pose, ("127.0.0.1", self.port))
                sent += 1
            due = min(next_steady, start + sent * ONE_SHOT_INTERVAL if sent < ONE_SHOTS else end, end)
            self.read_ready(max(0.0, due - time.monotonic()))
        self.in_window = False
        assert sent == ONE_SHOTS
        return time.monotonic() - start


@pytest.mark.parametrize("cap", [None, 16], ids=["default_cap", "cap_16"])
def test_forged_poses_draw_at_most_one_snapshot_each_and_the_table_stays_capped(cap):
    limit = cap or DEFAULT_MAX_CLIENTS
    server = RunningServer("--status", "0.5", *(["--max-clients", str(cap)] if cap else []))
    traffic = None
    try:
        server.wait_for_line(r"^listening on 127\.0\.0\.1:%d .* max-clients=%d( |$)" % (server.port, limit))
        traffic = Traffic(server.port)
        traffic.join_steady_client()
        server.wait_for_line(r"^join id=\d+ from 127\.0\.0\.1:%d$" % traffic.steady.getsockname()[1])
        window = traffic.run_window()
        assert server.stop() == 0
        lines = all_lines(server)

        one_shot_counts = [traffic.received[s][0] for s in traffic.one_shots]
        one_shot_bytes = sum(traffic.received[s][1] for s in traffic.one_shots)
        steady_rate = traffic.steady_snapshots_in_window / window
        print(f"\ncap {limit}: the {ONE_SHOTS} one-shot sources drew {sum(one_shot_counts)} snapshots, "
              f"{one_shot_bytes} bytes for the {ONE_SHOTS * 25} they sent: amplification "
              f"{one_shot_bytes / (ONE_SHOTS * 25):.2f}x in bytes; the steady client got {steady_rate:.1f} "
              f"snapshots/s for {traffic.steady_poses_in_window / window:.1f} poses/s")

        # No source is sent more than its one pose earned; those beyond the cap are sent nothing.
        assert max(one_shot_counts) <= 1
        one_shot_ports = {s.getsockname()[1] for s in traffic.one_shots}
        joins = [re.match(r"^join id=\d+ from 127\.0\.0\.1:(\d+)$", line) for line in lines]
        joined = [m for m in joins if m and int(m[1]) in one_shot_ports]
        assert len(joined) == limit - 1, "the steady client holds one seat, the one-shot sources the rest"
        assert sum(one_shot_counts) == len(joined), "each admitted source is answered once"
        assert traffic.received[traffic.noisy][0] == 0, "garbage earns no snapshot"
        assert steady_rate >= LEAST_STEADY_RATE

        seen = statuses(lines)
        assert len(seen) >= 5
        assert max(s["clients"] for s in seen) == limit, "the table fills up to the cap and no further"
        last = seen[-1]
        assert last["dropped"] == len(GARBAGE)
        assert last["refused"] == ONE_SHOTS - (limit - 1)
        assert last["in"] == traffic.steady_poses + ONE_SHOTS + len(GARBAGE)
        accepted = last["in"] - last["dropped"] - last["refused"]
        assert last["out"] + last["failures"] <= accepted, "never more snapshots than accepted poses"
        # The admitted one-shot sources go on being ticked over until they time out: withheld.
        assert last["withheld"] > 0
    finally:
        if traffic is not None:
            traffic.close()
        server.close()
