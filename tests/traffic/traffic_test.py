"""A real game captured, read by tshark with the dissector, and replayed.

The real client plays under a virtual X server against brassmoor-server's three simulated players,
through brassmoor-relay while it loses, duplicates, reorders, delays, cuts and damages datagrams;
a visitor (plain poses from this test) joins for a while, so the client's count of others goes
3, 4, 3. The relay and the server both capture. Then:
- each capture parses as pcap and holds exactly the datagrams the program's counters say it received
  and sent, on both of the relay's sides;
- tshark with brassmoor.lua reads every datagram of the protocol as Brassmoor, without a Lua error,
  and shows the client's poses with the values of the bytes it sent;
- brassmoor-replay of the relay's capture makes a fresh client show the counts of others the
  recording showed, in the recorded order; and sends a plain client the recorded bytes, never ahead
  of their (sped-up) schedule, round after round with --loop."""

import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "robustness"))
sys.path.insert(0, os.path.join(HERE, "..", "common"))
from support import ClientProcess, VirtualX, client_env, isolate_network, title_count, wait_for  # noqa: E402
from program_lines import ProgramLines  # noqa: E402
from pcap_files import read_pcap  # noqa: E402

# Before any thread or child exists: port 40123 and the server's port are this test's alone.
ISOLATED = isolate_network()
if ISOLATED:
    # Wireshark gives a few ports in the system's ephemeral range to other protocols, which would
    # then be tried before the Brassmoor heuristic on the relay's server side; ports from this
    # range belong to none, so every run decodes the same way.
    with open("/proc/sys/net/ipv4/ip_local_port_range", "w") as f:
        f.write("40200 40999")

CLIENT_PORT = 40123
SERVER_PORT = 40124
BOTS = 3
SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
RELAY = os.environ.get("BRASSMOOR_RELAY", "brassmoor-relay")
REPLAY = os.environ.get("BRASSMOOR_REPLAY", "brassmoor-replay")
TSHARK = os.environ.get("TSHARK", "tshark")
DISSECTOR = os.environ.get("BRASSMOOR_DISSECTOR", os.path.join(HERE, "..", "..", "tools", "dissector",
                                                                "brassmoor.lua"))
DEADLINE = 20.0
LOCAL = "127.0.0.1"


def stop_x_server(xserver):
    """Ends the X server even when its connection is already broken (which stop() raises on)."""
    try:
        xserver.stop()
    finally:
        if xserver.process.poll() is None:
            xserver.process.kill()
            xserver.process.wait()


def pose(x, y, yaw=0.0, pitch=0.0):
    return b"KV01\x01" + struct.pack("<5f", x, y, 1.7, yaw, pitch)


def counters(line):
    """{"up": {...}, "down": {...}} from a relay status line, or {"in": ...} from the server's."""
    if " | " not in line:
        return {key: int(value) for key, value in re.findall(r"([a-z-]+)=(\d+)", line)}
    found = {}
    for part in line.split(" | ")[1:]:
        direction, *fields = part.split()
        found[direction] = {key: int(value) for key, value in (field.split("=") for field in fields)}
    return found


def final_status(program):
    """Stops a program with SIGTERM; its exit status and the status line it printed on stopping."""
    status = program.stop()
    program.reader.join(timeout=DEADLINE)
    stopping = program.wait_for_line(r"^stopping on signal 15$")
    return status, program.wait_for_line(r"^status ", after=program.seen.index(stopping) + 1)


def others_seen_by_client(payloads):
    """The count of others the client shows after each datagram, by its acceptance rules: a
    snapshot (at least 11 bytes, "KV01", type 2) replaces the table with its usable entries, less
    its receiver; anything else changes nothing."""
    shown, counts = 0, []
    for data in payloads:
        if len(data) >= 11 and data[:5] == b"KV01\x02":
            self_id, announced = struct.unpack_from("<IH", data, 5)
            usable = min(announced, (len(data) - 11) // 20)
            ids = {struct.unpack_from("<I", data, 11 + 20 * i)[0] for i in range(usable)}
            shown = len(ids - {self_id})
        counts.append(shown)
    return counts


def runs(values):
    """The values with repeats in a row taken out: [3, 3, 4, 3] -> [3, 4, 3]."""
    return [v for i, v in enumerate(values) if i == 0 or v != values[i - 1]]


def is_subsequence(short, long):
    remaining = iter(long)
    return all(any(item == other for other in remaining) for item in short)


class TitleWatch:
    """The client's count of others, sampled from its title every few milliseconds by whoever
    waits on it (the X connection is used from one thread only)."""

    def __init__(self, xserver, client):
        self.xserver = xserver
        self.client = client
        self.counts = []  # (monotonic time, count)

    def sample(self):
        try:
            title = self.xserver.title()
        except Exception as error:  # the X connection is gone
            raise AssertionError(f"lost the X server ({error!r}); its exit status {self.xserver.process.poll()}, "
                                 f"the client's {self.client.process.poll()}") from error
        count = title_count(title)
        if count is not None:
            self.counts.append((time.monotonic(), count))
        return count

    def until(self, condition, timeout, what):
        end = time.monotonic() + timeout
        while not condition(self.sample()):
            if time.monotonic() > end:
                raise AssertionError(f"timed out after {timeout}s waiting for {what}; "
                                     f"counts seen {runs([c for _, c in self.counts])}; client exit status "
                                     f"{self.client.process.poll()}, its errors {self.client.stderr()!r}; "
                                     f"the X server's {self.xserver.process.poll()}")
            time.sleep(0.01)


class Visitor:
    """Poses from a plain socket through the relay for two seconds, with one info query: another
    player the server counts while it is there."""

    POSES = 40

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((LOCAL, 0))
        self.port = self.sock.getsockname()[1]
        self.stop_flag = threading.Event()
        self.thread = threading.Thread(target=self._send, daemon=True)

    def _send(self):
        self.sock.sendto(b"KV01\x03" + struct.pack("<I", 0xC0FFEE) + bytes(15), (LOCAL, CLIENT_PORT))
        for step in range(self.POSES):
            if self.stop_flag.wait(0.05):
                return
            self.sock.sendto(pose(2.0 + 0.01 * step, -3.0), (LOCAL, CLIENT_PORT))

    def start(self):
        self.thread.start()

    def stop(self):
        self.stop_flag.set()
        self.thread.join(timeout=5)
        self.sock.close()


class Game:
    """What the recorded game left: the captures, the programs' last counters, the ports."""


@pytest.fixture(scope="module")
def game():
    workdir = tempfile.TemporaryDirectory(prefix="brassmoor-traffic-")
    recorded = Game()
    recorded.workdir = workdir.name
    recorded.relay_capture = os.path.join(workdir.name, "relay.pcap")
    recorded.server_capture = os.path.join(workdir.name, "server.pcap")
    xserver = server = relay = client = visitor = None
    try:
        xserver = VirtualX()
        server = ProgramLines([SERVER, "--bind", LOCAL, "--port", str(SERVER_PORT), "--bots", str(BOTS),
                               "--arena", "10", "--timeout", "1", "--capture", recorded.server_capture], DEADLINE)
        server.wait_for_line(r"^listening on ")
        relay = ProgramLines([RELAY, "--listen", f"{LOCAL}:{CLIENT_PORT}", "--server", f"{LOCAL}:{SERVER_PORT}",
                              "--loss", "0.1", "--duplicate", "0.1", "--reorder", "0.1", "--truncate", "0.1",
                              "--corrupt", "0.05", "--delay", "30", "--jitter", "20", "--seed", "7",
                              "--capture", recorded.relay_capture], DEADLINE)
        relay.wait_for_line(r"^listening on ")
        client = ClientProcess(env=client_env(xserver.name))
        watch = TitleWatch(xserver, client)
        watch.until(lambda n: n == BOTS, DEADLINE, f"{BOTS} others")
        recorded.client_port = int(relay.wait_for_line(r"^client 127\.0\.0\.1:\d+ relayed").split(":")[1].split()[0])

        visitor = Visitor()
        visitor.start()
        watch.until(lambda n: n == BOTS + 1, DEADLINE, "the visitor among the others")
        watch.until(lambda n: not visitor.thread.is_alive(), DEADLINE, "the visitor's last pose")
        visitor.stop()
        recorded.visitor_port = visitor.port
        # The server forgets the visitor a second after its last pose.
        watch.until(lambda n: n == BOTS, DEADLINE, "the visitor gone")
        recorded.counts_shown = [c for _, c in watch.counts]

        status, line = final_status(relay)
        assert status == 0
        recorded.relay_counters = counters(line)
        status, line = final_status(server)
        assert status == 0
        recorded.server_counters = counters(line)
    finally:
        # Nothing of the game may go on posing to the replayer's port.
        for program in (relay, server):
            if program is not None:
                program.close()
        if client is not None:
            client.stop()
        if visitor is not None and visitor.thread.is_alive():
            visitor.stop()
        if xserver is not None:
            stop_x_server(xserver)
    yield recorded
    workdir.cleanup()


def test_the_relay_capture_holds_every_datagram_of_both_sides(game):
    link, records = read_pcap(game.relay_capture)
    assert link == 101
    client_side, server_side = (LOCAL, CLIENT_PORT), (LOCAL, SERVER_PORT)
    sides = {"up in": 0, "up out": 0, "down in": 0, "down out": 0}
    for record in records:
        if record.destination == client_side:
            sides["up in"] += 1
        elif record.source == client_side:
            sides["down out"] += 1
        elif record.destination == server_side:
            sides["up out"] += 1
        elif record.source == server_side:
            sides["down in"] += 1
        else:
            raise AssertionError(f"a datagram on neither side: {record}")
    up, down = game.relay_counters["up"], game.relay_counters["down"]
    assert sides == {"up in": up["in"], "up out": up["out"], "down in": down["in"], "down out": down["out"]}
    assert up["lost"] > 0 and up["truncated"] + down["truncated"] > 0 and down["corrupted"] + up["corrupted"] > 0
    # Records are written as things happen.
    times = [record.seconds for record in records]
    assert times == sorted(times)
    assert abs(times[0] - time.time()) < 600

    # What arrived from the client is what it sent: whole poses, before the relay damaged any.
    from_client = [r.payload for r in records if r.source == (LOCAL, game.client_port)]
    assert len(from_client) > 30 and all(len(p) == 25 and p[:5] == b"KV01\x01" for p in from_client)
    assert any(r.source == (LOCAL, game.visitor_port) and r.payload[:5] == b"KV01\x03" for r in records)


def test_the_server_capture_matches_its_counters(game):
    link, records = read_pcap(game.server_capture)
    assert link == 101
    received = [r for r in records if r.destination == (LOCAL, SERVER_PORT)]
    sent = [r for r in records if r.source == (LOCAL, SERVER_PORT)]
    assert len(received) + len(sent) == len(records)
    counted = game.server_counters
    assert len(received) == counted["in"]
    assert len(sent) == counted["out"] + counted["queries"]
    assert sum(1 for r in sent if r.payload[:5] == b"KV01\x04") == counted["queries"]


def tshark(capture, *fields):
    """Rows of the fields tshark shows for each frame, read with the dissector; fails on a Lua error."""
    command = [TSHARK, "-X", f"lua_script:{DISSECTOR}", "-r", capture, "-T", "fields", "-E", "occurrence=a"]
    for field in fields:
        command += ["-e", field]
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    # tshark exits 0 even when the script failed to load or threw.
    assert "Lua Error" not in result.stderr and "Lua Error" not in result.stdout, result.stderr
    assert result.returncode == 0, result.stderr
    return [line.split("\t") for line in result.stdout.splitlines()]


def test_tshark_reads_every_datagram_of_the_protocol_and_the_poses_as_sent(game):
    _, records = read_pcap(game.relay_capture)
    rows = tshark(game.relay_capture, "frame.protocols", "brassmoor.type", "brassmoor.pose.x", "brassmoor.pose.y",
                  "brassmoor.pose.z", "brassmoor.pose.yaw", "brassmoor.pose.pitch", "brassmoor.snapshot.self_id",
                  "brassmoor.snapshot.peer_count")
    assert len(rows) == len(records)
    poses = 0
    known_conversations = set()
    for record, (protocols, kind, *values) in zip(records, rows):
        data = record.payload
        ports = {record.source[1], record.destination[1]}
        conversation = frozenset((record.source, record.destination))
        if data[:4] == b"KV01":
            known_conversations.add(conversation)
        # Port 40123 is the protocol's; on the server's side a datagram is known by its "KV01", and
        # so is the rest of its conversation from then on. UDP hands no empty datagram to any
        # dissector.
        expected = len(data) > 0 and (CLIENT_PORT in ports or conversation in known_conversations)
        assert protocols.endswith(":brassmoor") == expected, (record, protocols, data.hex())
        if len(data) == 25 and data[:5] == b"KV01\x01":
            assert kind == "1"
            # tshark shows a binary32 with six significant digits.
            assert values[:5] == ["%.6g" % v for v in struct.unpack_from("<5f", data, 5)], (record, values)
            poses += 1
        if len(data) >= 11 and data[:5] == b"KV01\x02":
            assert kind == "2"
            assert values[5:7] == [str(v) for v in struct.unpack_from("<IH", data, 5)]
    assert poses >= sum(1 for r in records if r.source == (LOCAL, game.client_port))


def test_the_replay_makes_a_fresh_client_show_the_recorded_counts(game):
    _, records = read_pcap(game.relay_capture)
    stream = [r.payload for r in records if r.source == (LOCAL, CLIENT_PORT)
              and r.destination == (LOCAL, game.client_port)]
    recorded = runs([0] + others_seen_by_client(stream))
    assert is_subsequence(runs(game.counts_shown), recorded)
    assert {BOTS, BOTS + 1} <= set(recorded)

    xserver = VirtualX()
    replay = ProgramLines([REPLAY, game.relay_capture, "--client", f"{LOCAL}:{game.client_port}"], DEADLINE)
    client = None
    try:
        replay.wait_for_line(r"^listening on 0\.0\.0\.0:40123 ")
        client = ClientProcess(env=client_env(xserver.name))
        watch = TitleWatch(xserver, client)
        replay.wait_for_line(r"^client 127\.0\.0\.1:\d+ posed; replaying$")
        ended = []

        def replay_done(_count):
            if not ended:
                try:
                    ended.append(replay.wait_for_line(r"^sent \d+ datagrams in ", timeout=0.001))
                except AssertionError:
                    pass
            return bool(ended)

        watch.until(replay_done, 60, "the end of the replay")
        # The client shows the last datagram in its next frame; a sample taken before then would
        # still show the one before.
        watch.until(lambda n: n == recorded[-1], DEADLINE, "the recording's last count")
        assert replay.proc.wait(timeout=DEADLINE) == 0
    finally:
        replay.close()
        if client is not None:
            client.stop()
        stop_x_server(xserver)

    sent = [line for line in replay.seen if line.startswith("sent ") and " at " in line]
    assert len(sent) == len(stream)
    assert int(ended[0].split()[1]) == len(stream)
    shown = runs([c for _, c in watch.counts])
    assert is_subsequence(shown, recorded), (shown, recorded)
    assert {BOTS, BOTS + 1} <= set(shown)


def test_the_replay_sends_the_recorded_bytes_on_schedule_and_loops(game):
    _, records = read_pcap(game.relay_capture)
    stream = [r for r in records if r.source == (LOCAL, CLIENT_PORT) and r.destination == (LOCAL, game.client_port)]
    speed = 4.0
    replay = ProgramLines([REPLAY, "--speed", str(speed), "--loop", game.relay_capture], DEADLINE)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        replay.wait_for_line(r"^listening on ")
        # Without --client the first client the server sent to is replayed: the real client.
        replay.wait_for_line(r"^replaying 127\.0\.0\.1:40123 -> 127\.0\.0\.1:%d: %d datagrams" %
                             (game.client_port, len(stream)))
        sock.bind((LOCAL, 0))
        sock.settimeout(DEADLINE)
        posed = time.monotonic()  # the replay starts after this, when the pose arrives
        sock.sendto(pose(0.0, 0.0), (LOCAL, CLIENT_PORT))
        arrivals = []
        while len(arrivals) < 2 * len(stream) + 1:
            data = sock.recv(65536)
            arrivals.append((time.monotonic(), data))
        assert replay.stop() == 0
        replay.reader.join(timeout=DEADLINE)
        replay.wait_for_line(r"^stopping on signal 15$")
    finally:
        replay.close()
        sock.close()

    # Byte for byte, damaged ones included, round after round.
    n = len(stream)
    assert [data for _, data in arrivals] == [r.payload for r in stream] * 2 + [stream[0].payload]
    assert any(len(r.payload) != 25 and (len(r.payload) - 11) % 20 != 0 for r in stream)
    # Never ahead of the recorded schedule, sped up; the whole round at about its recorded length.
    start = stream[0].seconds
    for (arrived, _), record in zip(arrivals, stream):
        assert arrived - posed >= (record.seconds - start) / speed
    span = (stream[-1].seconds - start) / speed
    assert span <= arrivals[n - 1][0] - posed < span + 5.0
    assert arrivals[n][0] - posed > span
