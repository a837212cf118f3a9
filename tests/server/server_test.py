"""Black-box tests of brassmoor-server over loopback: joining, snapshots, garbage, timeouts, signals."""
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from program_lines import ProgramLines  # noqa: E402

SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
DEADLINE = 10.0  # seconds allowed for anything the server should do promptly


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def pose_bytes(x, y, z, yaw, pitch):
    return b"KV01" + bytes([1]) + struct.pack("<5f", x, y, z, yaw, pitch)


def parse_snapshot(data):
    assert data[:5] == b"KV01\x02"
    self_id, count = struct.unpack_from("<IH", data, 5)
    assert len(data) == 11 + 20 * count
    entries = {}
    for i in range(count):
        peer_id, x, y, z, yaw = struct.unpack_from("<I4f", data, 11 + 20 * i)
        entries[peer_id] = (x, y, z, yaw)
    return self_id, entries


class RunningServer(ProgramLines):
    """The server process with its output lines gathered by a reader thread."""

    def __init__(self, *args):
        self.port = free_udp_port()
        super().__init__([SERVER, "--bind", "127.0.0.1", "--port", str(self.port), *args], DEADLINE)


@pytest.fixture
def start_server():
    started = []

    def start(*args):
        server = RunningServer(*args)
        started.append(server)
        server.wait_for_line(r"^listening on 127\.0\.0\.1:%d" % server.port)
        return server

    yield start
    for server in started:
        server.close()


@pytest.fixture
def client():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    yield s
    s.close()


def drain(sock):
    """Throws away every datagram already queued on the socket."""
    sock.settimeout(0.0)
    try:
        while True:
            sock.recvfrom(8192)
    except BlockingIOError:
        pass


def exchange(sock, port, pose, timeout=DEADLINE):
    """Sends the pose now and then until a snapshot comes back; returns (selfId, entries)."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        sock.sendto(pose, ("127.0.0.1", port))
        sock.settimeout(0.2)
        try:
            data, _ = sock.recvfrom(8192)
        except socket.timeout:
            continue
        return parse_snapshot(data)
    raise AssertionError("no snapshot arrived")


def test_a_client_sees_the_bots_but_never_itself(start_server, client):
    server = start_server("--bots", "3")
    pose = pose_bytes(12.5, -3.25, 1.7, 0.75, 0.1)
    self_id, entries = exchange(client, server.port, pose)

    # Bots take the first ids; selfId names the client, whose own entry is left out.
    assert self_id == 4
    assert sorted(entries) == [1, 2, 3]
    for peer_id in (1, 2, 3):
        x, y, z, _ = entries[peer_id]
        assert -60.0 <= x <= 60.0 and -60.0 <= y <= 60.0
        assert struct.pack("<f", z) == bytes.fromhex("9a99d93f")
    port = client.getsockname()[1]
    server.wait_for_line(r"^join id=4 from 127\.0\.0\.1:%d$" % port)
    assert server.stop() == 0


def test_bots_move_between_snapshots(start_server, client):
    server = start_server("--bots", "2")
    pose = pose_bytes(0.0, 0.0, 1.7, 0.0, 0.0)
    _, first = exchange(client, server.port, pose)
    end = time.monotonic() + DEADLINE
    while True:
        _, later = exchange(client, server.port, pose)
        if later[1][:2] != first[1][:2] and later[2][:2] != first[2][:2]:
            break
        assert time.monotonic() < end, "the bots did not move"
    assert server.stop() == 0


def test_two_clients_see_each_other_under_distinct_ids(start_server, client):
    server = start_server()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as other:
        other.bind(("127.0.0.1", 0))
        pose_a = pose_bytes(1.0, 1.0, 1.7, 0.0, 0.0)
        pose_b = pose_bytes(12.5, -3.25, 1.7, 0.75, 0.1)
        id_a, _ = exchange(client, server.port, pose_a)
        id_b, _ = exchange(other, server.port, pose_b)
        assert id_a != id_b
        # Once both are known, each is sent the other alone, its pose exactly as received.
        end = time.monotonic() + DEADLINE
        while True:
            self_id, entries = exchange(client, server.port, pose_a)
            if entries:
                break
            assert time.monotonic() < end
        assert self_id == id_a
        assert entries == {id_b: struct.unpack("<4f", pose_b[5:21])}
        drain(other)
        self_id, entries = exchange(other, server.port, pose_b)
        assert self_id == id_b
        assert entries == {id_a: struct.unpack("<4f", pose_a[5:21])}
    assert server.stop() == 0


def test_garbage_is_dropped_and_the_server_goes_on(start_server, client):
    server = start_server("--bots", "1")
    good = pose_bytes(5.0, 5.0, 1.7, 0.0, 0.0)
    garbage = [b"", b"hello", good[:24], good + b"\x00", b"KV02" + good[4:], b"KV01\x02" + good[5:],
               bytes(4096), bytes(range(256)) * 20]
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as noisy:
        noisy.bind(("127.0.0.1", 0))
        for datagram in garbage:
            noisy.sendto(datagram, ("127.0.0.1", server.port))
        # Garbage alone makes nobody a client: the noisy socket is sent nothing.
        self_id, entries = exchange(client, server.port, good)
        assert len(entries) == 1 and self_id not in entries
        noisy.settimeout(0.0)
        with pytest.raises(BlockingIOError):
            noisy.recvfrom(8192)
    assert server.proc.poll() is None
    assert server.stop() == 0
    server.wait_for_line(r"dropped=%d\b" % len(garbage))


def test_a_silent_client_is_forgotten(start_server, client):
    server = start_server("--timeout", "0.5")
    self_id, _ = exchange(client, server.port, pose_bytes(0.0, 0.0, 1.7, 0.0, 0.0))
    server.wait_for_line(r"^leave id=%d \(silent\)$" % self_id)
    drain(client)  # snapshots sent before the server forgot the client
    # Coming back is joining again, under a new id.
    new_id, _ = exchange(client, server.port, pose_bytes(0.0, 0.0, 1.7, 0.0, 0.0))
    assert new_id != self_id
    assert server.stop() == 0


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_a_stop_signal_ends_the_server_with_status_zero(start_server, sig):
    server = start_server("--bots", "2")
    assert server.stop(sig) == 0


def test_help_prints_usage_and_succeeds():
    done = subprocess.run([SERVER, "--help"], capture_output=True, text=True, timeout=DEADLINE)
    assert done.returncode == 0
    assert done.stdout.startswith("Usage: brassmoor-server")
    assert "--bots" in done.stdout


def test_version_prints_the_project_version_and_succeeds():
    done = subprocess.run([SERVER, "--version"], capture_output=True, text=True, timeout=DEADLINE)
    assert done.returncode == 0
    assert re.fullmatch(r"brassmoor-server [0-9]+\.[0-9]+\.[0-9]+\n", done.stdout), done.stdout
    if "BRASSMOOR_VERSION" in os.environ:
        assert done.stdout == f"brassmoor-server {os.environ['BRASSMOOR_VERSION']}\n"
    assert done.stderr == ""


@pytest.mark.parametrize("args", [["--port", "0"], ["--rate", "fast"], ["--bind", "nowhere"], ["--what"]])
def test_a_bad_option_fails_with_status_two(args):
    done = subprocess.run([SERVER, *args], capture_output=True, text=True, timeout=DEADLINE)
    assert done.returncode == 2
    assert done.stderr.startswith("brassmoor-server: ")
    assert args[0] in done.stderr
    assert done.stdout == ""


QUERY_SIZE = 24  # the answer's length, to which a query is padded
ANSWER = struct.Struct("<4sBIIHHHHBBB")


def query_bytes(nonce, length=QUERY_SIZE):
    head = b"KV01" + bytes([3]) + struct.pack("<I", nonce)
    return (head + bytes(max(0, length - len(head))))[:length]


def answers_within(sock, seconds):
    """Every datagram that reaches `sock` within `seconds`."""
    got = []
    end = time.monotonic() + seconds
    while (left := end - time.monotonic()) > 0:
        sock.settimeout(left)
        try:
            got.append(sock.recvfrom(8192)[0])
        except socket.timeout:
            break
    return got


def test_a_query_is_answered_with_the_counts_and_makes_nobody_a_client(start_server, client):
    server = start_server("--bots", "3", "--max-clients", "17", "--status", "0.2")
    client.sendto(query_bytes(0xA1B2C3D4), ("127.0.0.1", server.port))
    client.settimeout(DEADLINE)
    data, _ = client.recvfrom(8192)
    magic, kind, nonce, _instance, players, clients, bots, cap, *version = ANSWER.unpack(data)
    assert (magic, kind, nonce) == (b"KV01", 4, 0xA1B2C3D4)
    assert (players, clients, bots, cap) == (3, 0, 3, 17)
    if "BRASSMOOR_VERSION" in os.environ:
        assert ".".join(map(str, version)) == os.environ["BRASSMOOR_VERSION"]
    line = server.wait_for_line(r"queries=1 ")
    assert "clients=0" in line and "queries-refused=0" in line
    assert not [seen for seen in server.seen if seen.startswith("join")]
    # Nothing but the answer reaches the querier: no snapshot follows.
    assert answers_within(client, 0.5) == []


def test_no_answer_is_longer_than_its_query(start_server, client):
    server = start_server("--status", "0.2")
    for length in range(0, 64):
        client.sendto(query_bytes(length, length), ("127.0.0.1", server.port))
        for answer in answers_within(client, 0.05):
            assert len(answer) <= length
            assert length >= QUERY_SIZE
    # Each length is heard once; 40 of them were long enough to be answered. The allowance holds 50.
    server.wait_for_line(r"queries=40 queries-refused=0 ")


def test_a_burst_of_queries_is_answered_at_most_at_the_cap(start_server, client):
    server = start_server("--status", "0.2")
    started = time.monotonic()
    for nonce in range(2000):
        client.sendto(query_bytes(nonce), ("127.0.0.1", server.port))
    answers = answers_within(client, 1.0)
    elapsed = time.monotonic() - started
    # A bucket of 50 refilled at 50 a second: never more than that bound in any stretch.
    assert 50 <= len(answers) <= 50 + 50 * elapsed + 1
    assert server.stop() == 0
    server.wait_for_line(r"^stopping on signal")
    final = server.wait_for_line(r"^status ", after=len(server.seen))
    # The server counts what it sent, and the rest of what the kernel let through as refused.
    assert f" queries={len(answers)} " in final
    assert int(re.search(r"queries-refused=(\d+)", final).group(1)) >= 1


def test_max_entries_lists_only_the_nearest_players(start_server):
    server = start_server("--max-entries", "4")
    # Eleven clients in a row along x; the one at x = 3 must be sent the four nearest others, those
    # at x = 1, 2, 4 and 5 (x = 0 and 6 are three away).
    sockets = []
    try:
        for x in range(11):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind(("127.0.0.1", 0))
            sockets.append(s)
        ids = [exchange(s, server.port, pose_bytes(float(x), 0.0, 1.7, 0.0, 0.0))[0] for x, s in enumerate(sockets)]
        receiver = sockets[3]
        end = time.monotonic() + DEADLINE
        while True:
            drain(receiver)
            for x, s in enumerate(sockets):
                s.sendto(pose_bytes(float(x), 0.0, 1.7, 0.0, 0.0), ("127.0.0.1", server.port))
            self_id, entries = exchange(receiver, server.port, pose_bytes(3.0, 0.0, 1.7, 0.0, 0.0))
            if len(entries) == 4 or time.monotonic() > end:
                break
        assert self_id == ids[3]
        assert sorted(entries) == sorted(ids[x] for x in (1, 2, 4, 5))
    finally:
        for s in sockets:
            s.close()
    assert server.stop() == 0


def status_counts(line):
    return {key: value for key, value in re.findall(r"([a-z0-9-]+)=(\S+)", line)}


def test_datagrams_the_system_drops_are_counted(start_server, client):
    server = start_server("--status", "0.2")
    sent = 60000  # more than any receive queue the system grants holds while the server is stopped
    os.kill(server.proc.pid, signal.SIGSTOP)
    try:
        for i in range(sent):
            client.sendto(b"KV01\x09" + struct.pack("<I", i), ("127.0.0.1", server.port))
    finally:
        os.kill(server.proc.pid, signal.SIGCONT)
    # Every datagram is either read (and dropped as not a pose) or dropped by the system.
    end = time.monotonic() + DEADLINE
    while True:
        counts = status_counts(server.wait_for_line(r"^status ", after=len(server.seen)))
        if int(counts["in"]) + int(counts["kernel-drops"]) == sent or time.monotonic() > end:
            break
    assert int(counts["kernel-drops"]) > 0
    assert int(counts["in"]) == int(counts["dropped"]) > 0
    assert int(counts["in"]) + int(counts["kernel-drops"]) == sent
    line = server.wait_for_line(r"^listening ")
    assert int(status_counts(line)["receive-buffer"]) > 0
    assert server.stop() == 0
