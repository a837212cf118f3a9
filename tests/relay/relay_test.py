"""Black-box tests of brassmoor-relay over loopback: a UDP echo "server" and plain "clients" on free
ports, the relay between them."""
import os
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from program_lines import ProgramLines  # noqa: E402

RELAY = os.environ.get("BRASSMOOR_RELAY", "brassmoor-relay")
DEADLINE = 10.0  # seconds allowed for anything the relay should do promptly


def parse_status(line):
    """{"clients": n, "up": {...}, "down": {...}} from a status line."""
    parts = line.split(" | ")
    status = {"clients": int(parts[0].split("clients=")[1])}
    for part in parts[1:]:
        direction, *fields = part.split()
        status[direction] = {key: int(value) for key, value in (field.split("=") for field in fields)}
    return status


def adds_up(counters):
    drops = sum(counters[k] for k in ("full", "too-long", "refused", "gone", "foreign", "send-failed"))
    return counters["in"] - counters["lost"] + counters["duplicated"] == counters["out"] + counters["held"] + drops


class EchoServer:
    """A UDP socket on a free port that records every datagram and sends it back where it came from."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.received = []  # (monotonic time, bytes, sender)
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _loop(self):
        while self.running:
            ready, _, _ = select.select([self.sock], [], [], 0.05)
            if not ready:
                continue
            data, sender = self.sock.recvfrom(65536)
            with self.lock:
                self.received.append((time.monotonic(), data, sender))
            self.sock.sendto(data, sender)

    def datagrams(self):
        with self.lock:
            return list(self.received)

    def stop(self):
        self.running = False
        self.thread.join(timeout=5)
        self.sock.close()


class Client:
    """A plain UDP socket that sends to the relay and gathers what comes back."""

    def __init__(self, relay_port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.address = self.sock.getsockname()
        self.relay = ("127.0.0.1", relay_port)
        self.received = []  # (monotonic time, bytes, sender)

    def send(self, data):
        self.sock.sendto(data, self.relay)

    def collect(self, until=lambda received: False, timeout=0.5):
        """Gathers replies until `until(received)` holds or nothing comes for `timeout` seconds."""
        while not until(self.received):
            ready, _, _ = select.select([self.sock], [], [], timeout)
            if not ready:
                break
            data, sender = self.sock.recvfrom(65536)
            self.received.append((time.monotonic(), data, sender))
        return self.received

    def close(self):
        self.sock.close()


class RunningRelay(ProgramLines):
    """The relay between a fresh echo server and its clients, with its output lines gathered."""

    def __init__(self, *args, server_port=None, listen="127.0.0.1:0"):
        self.echo = EchoServer() if server_port is None else None
        port = server_port if server_port is not None else self.echo.port
        super().__init__([RELAY, "--listen", listen, "--server", f"127.0.0.1:{port}", *args], DEADLINE)
        self.clients = []
        line = self.wait_for_line(r"^listening on 127\.0\.0\.1:\d+ ")
        self.port = int(re.search(r":(\d+) ", line).group(1))

    def client(self):
        client = Client(self.port)
        self.clients.append(client)
        return client

    def stop(self, sig=signal.SIGTERM):
        """Stops the relay; returns its exit status and its final counters."""
        status = super().stop(sig)
        self.reader.join(timeout=DEADLINE)
        stopping = self.wait_for_line(rf"^stopping on signal {int(sig)}$")
        return status, parse_status(self.wait_for_line(r"^status ", after=self.seen.index(stopping) + 1))

    def close(self):
        super().close()
        for client in self.clients:
            client.close()
        if self.echo is not None:
            self.echo.stop()


@pytest.fixture
def start_relay():
    started = []

    def start(*args, **kwargs):
        relay = RunningRelay(*args, **kwargs)
        started.append(relay)
        return relay

    yield start
    for relay in started:
        relay.close()


def wait_for(condition, timeout=DEADLINE, what="condition"):
    end = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.01)


def test_a_clean_relay_passes_both_ways_from_one_source_per_client(start_relay):
    relay = start_relay()
    alice, bob = relay.client(), relay.client()
    for i in range(20):
        alice.send(b"alice %d" % i)
        bob.send(b"bob %d" % i)
    for client, name in ((alice, b"alice"), (bob, b"bob")):
        replies = client.collect(until=lambda r: len(r) >= 20)
        assert [data for _, data, _ in replies] == [name + b" %d" % i for i in range(20)]
        # Replies come from where the client sends.
        assert {sender for _, _, sender in replies} == {("127.0.0.1", relay.port)}

    sources = {}
    for _, data, sender in relay.echo.datagrams():
        sources.setdefault(data.split()[0], set()).add(sender)
    assert len(sources[b"alice"]) == 1 and len(sources[b"bob"]) == 1
    alice_source, bob_source = sources[b"alice"].pop(), sources[b"bob"].pop()
    assert alice_source != bob_source
    assert alice_source not in (alice.address, bob.address) and alice_source[1] != relay.port
    # The relay names each client's own socket as it opens it.
    relay.wait_for_line(r"^client 127\.0\.0\.1:%d relayed from port %d$" % (alice.address[1], alice_source[1]))
    relay.wait_for_line(r"^client 127\.0\.0\.1:%d relayed from port %d$" % (bob.address[1], bob_source[1]))

    status, counters = relay.stop()
    assert status == 0
    assert counters["clients"] == 2
    assert counters["up"]["in"] == counters["up"]["out"] == 40
    assert counters["down"]["in"] == counters["down"]["out"] == 40


def test_loss_one_drops_every_datagram(start_relay):
    relay = start_relay("--loss", "1", "--status-every", "0.2")
    client = relay.client()
    for i in range(30):
        client.send(b"%d" % i)
    relay.wait_for_line(r"\| up in=30 ")
    assert client.collect(timeout=0.3) == []
    assert relay.echo.datagrams() == []
    status, counters = relay.stop()
    assert status == 0
    assert counters["up"]["in"] == counters["up"]["lost"] == 30
    assert counters["up"]["out"] == 0


def test_duplicate_one_doubles_every_datagram_each_way(start_relay):
    relay = start_relay("--duplicate", "1")
    client = relay.client()
    for i in range(10):
        client.send(b"%d" % i)
    replies = client.collect(until=lambda r: len(r) >= 40)
    assert len(replies) == 40
    assert sorted(data for _, data, _ in replies) == sorted(b"%d" % i for i in range(10) for _ in range(4))
    assert len(relay.echo.datagrams()) == 20
    assert client.collect(timeout=0.3) == replies  # and nothing more
    status, counters = relay.stop()
    assert status == 0
    assert (counters["up"]["duplicated"], counters["up"]["out"]) == (10, 20)
    assert (counters["down"]["in"], counters["down"]["duplicated"], counters["down"]["out"]) == (20, 20, 40)


def test_delay_holds_each_datagram_about_that_long(start_relay):
    relay = start_relay("--up-delay", "200", "--down-delay", "100")
    client = relay.client()
    for i in range(5):
        sent = time.monotonic()
        client.send(b"%d" % i)
        replies = client.collect(until=lambda r: len(r) > i, timeout=3.0)
        assert len(replies) == i + 1
        reached_server = [t for t, data, _ in relay.echo.datagrams() if data == b"%d" % i][0]
        # A datagram never leaves early; late only by scheduling (generously bounded).
        assert 0.195 <= reached_server - sent < 0.7
        assert 0.295 <= replies[-1][0] - sent < 1.2
    status, counters = relay.stop()
    assert status == 0
    assert counters["up"]["out"] == counters["down"]["out"] == 5


def test_counters_in_the_status_line_add_up(start_relay):
    relay = start_relay("--loss", "0.2", "--duplicate", "0.2", "--reorder", "0.2", "--truncate", "0.1",
                        "--corrupt", "0.1", "--delay", "20", "--jitter", "20", "--status-every", "0.1", "--seed", "7")
    clients = [relay.client(), relay.client()]
    for i in range(150):
        for client in clients:
            client.send(b"datagram %d of a few bytes" % i)
        time.sleep(0.001)
    for client in clients:
        client.collect(timeout=0.5)
    # Every status line along the way adds up; the last ones hold nothing back any more.
    mark = len(relay.seen)
    relay.wait_for_line(r"held=0 .* held=0 ", after=mark)
    for line in relay.seen:
        if line.startswith("status "):
            status = parse_status(line)
            assert adds_up(status["up"]) and adds_up(status["down"]), line
    status, counters = relay.stop()
    assert status == 0
    up, down = counters["up"], counters["down"]
    assert adds_up(up) and adds_up(down)
    assert up["in"] == 300
    assert up["out"] == len(relay.echo.datagrams()) == down["in"]
    assert down["out"] == sum(len(client.received) for client in clients)
    for counters_of_one_way in (up, down):
        kept = counters_of_one_way["in"] - counters_of_one_way["lost"]
        assert 0.1 < counters_of_one_way["lost"] / counters_of_one_way["in"] < 0.3
        assert 0.1 < counters_of_one_way["duplicated"] / kept < 0.3
        assert counters_of_one_way["reordered"] > 0
        assert counters_of_one_way["truncated"] > 0 and counters_of_one_way["corrupted"] > 0


@pytest.mark.parametrize("control", ["impair-for", "SIGUSR1"])
def test_impairment_stops_on_its_control(start_relay, control):
    args = ["--loss", "1", "--delay", "3000"] + (["--impair-for", "1"] if control == "impair-for" else [])
    started = time.monotonic()
    relay = start_relay(*args)
    client = relay.client()
    client.send(b"lost")
    if control == "SIGUSR1":
        time.sleep(0.2)  # long enough for the datagram to be lost, if it were not lost at once
        relay.proc.send_signal(signal.SIGUSR1)
        relay.wait_for_line(r"^impairment off on SIGUSR1$")
    else:
        line = relay.wait_for_line(r"^impairment off after [0-9.]+ s$")
        assert 0.95 <= float(line.split()[3]) < 2.0
        assert time.monotonic() - started >= 0.95
    # Straight through now: no loss and no delay.
    sent = time.monotonic()
    client.send(b"clean")
    replies = client.collect(until=lambda r: len(r) >= 1)
    assert [data for _, data, _ in replies] == [b"clean"]
    assert replies[0][0] - sent < 1.5
    status, counters = relay.stop()
    assert status == 0
    assert (counters["up"]["lost"], counters["up"]["out"]) == (1, 1)


def test_a_silent_client_frees_its_slot_for_a_new_one(start_relay):
    relay = start_relay("--max-clients", "1", "--idle", "0.5")
    alice, bob = relay.client(), relay.client()
    alice.send(b"alice")
    assert len(alice.collect(until=lambda r: len(r) >= 1)) == 1
    bob.send(b"bob refused")
    relay.wait_for_line(r"^forget client 127\.0\.0\.1:%d \(idle\)$" % alice.address[1])
    bob.send(b"bob")
    assert [data for _, data, _ in bob.collect(until=lambda r: len(r) >= 1)] == [b"bob"]
    relay.wait_for_line(r"^client 127\.0\.0\.1:%d relayed from port" % bob.address[1])
    assert [data for _, data, _ in relay.echo.datagrams()] == [b"alice", b"bob"]
    status, counters = relay.stop()
    assert status == 0
    assert counters["up"]["refused"] == 1
    assert counters["clients"] == 1


def test_a_datagram_longer_than_it_carries_is_dropped_and_counted(start_relay):
    relay = start_relay()
    client = relay.client()
    client.send(bytes(5000))
    client.send(bytes(4096))
    replies = client.collect(until=lambda r: len(r) >= 1)
    assert [len(data) for _, data, _ in replies] == [4096]
    status, counters = relay.stop()
    assert counters["up"]["too-long"] == 1
    assert counters["up"]["out"] == 1


def test_datagrams_from_anyone_but_the_server_are_dropped(start_relay):
    relay = start_relay("--status-every", "0.1")
    client = relay.client()
    client.send(b"hello")
    client.collect(until=lambda r: len(r) >= 1)
    relay_side = relay.echo.datagrams()[0][2]
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as stranger:
        stranger.sendto(b"not the server", relay_side)
    relay.wait_for_line(r"foreign=1 ")
    status, counters = relay.stop()
    assert counters["down"]["foreign"] == 1
    assert [data for _, data, _ in client.collect(timeout=0.2)] == [b"hello"]


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_a_stop_signal_ends_the_relay_with_status_zero_and_the_final_counters(start_relay, sig):
    relay = start_relay("--status-every", "3600")
    client = relay.client()
    client.send(b"one")
    client.collect(until=lambda r: len(r) >= 1)
    status, counters = relay.stop(sig)
    assert status == 0
    assert counters["up"]["out"] == counters["down"]["out"] == 1


def test_help_lists_every_option_with_its_default():
    done = subprocess.run([RELAY, "--help"], capture_output=True, text=True, timeout=DEADLINE)
    assert done.returncode == 0
    assert done.stdout.startswith("Usage: brassmoor-relay --server ADDRESS:PORT")
    for option in ("--listen", "--server", "--loss", "--duplicate", "--reorder", "--truncate", "--corrupt",
                   "--delay", "--jitter", "--up-", "--down-", "--seed", "--impair-for", "--status-every",
                   "--max-clients", "--idle", "--max-held"):
        assert option in done.stdout
    assert done.stdout.count("default") >= 8


@pytest.mark.parametrize("args", [["--loss", "2", "--server", "127.0.0.1:9"], ["--server", "nowhere:1"],
                                  ["--delay"], ["--what"], []])
def test_a_bad_command_line_fails_with_status_two_and_one_line(args):
    done = subprocess.run([RELAY, *args], capture_output=True, text=True, timeout=DEADLINE)
    assert done.returncode == 2
    assert done.stdout == ""
    assert len(done.stderr.splitlines()) == 1
    assert done.stderr.endswith(" (see 'brassmoor-relay --help')\n")
    assert done.stderr.startswith("brassmoor-relay: ")
    assert (args[0] if args else "--server") in done.stderr


def test_a_port_already_taken_fails_with_status_one_saying_so():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        done = subprocess.run([RELAY, "--listen", f"127.0.0.1:{port}", "--server", "127.0.0.1:9"],
                              capture_output=True, text=True, timeout=DEADLINE)
    assert done.returncode == 1
    assert done.stdout == ""
    assert done.stderr.startswith(f"brassmoor-relay: cannot listen on 127.0.0.1:{port}: ")
