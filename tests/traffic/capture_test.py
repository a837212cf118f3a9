"""--capture when things go wrong, and the replayer on files it cannot use, over loopback on free
ports: an unwritable file and a full disk are one line each while the program goes on; a killed
server leaves every datagram it handled in its capture; a damaged capture is one clear line."""

import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "common"))
sys.path.insert(0, HERE)
from pcap_files import read_pcap, write_pcap  # noqa: E402
from program_lines import ProgramLines  # noqa: E402

SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
RELAY = os.environ.get("BRASSMOOR_RELAY", "brassmoor-relay")
REPLAY = os.environ.get("BRASSMOOR_REPLAY", "brassmoor-replay")
DEADLINE = 10.0
LOCAL = "127.0.0.1"
# Runs a program with files limited to FSIZE_LIMIT bytes, a write past it failing with EFBIG
# instead of killing the program: a disk that fills up.
FULL_DISK = ("import os, resource, signal, sys; signal.signal(signal.SIGXFSZ, signal.SIG_IGN); "
             "resource.setrlimit(resource.RLIMIT_FSIZE, (int(sys.argv[1]), int(sys.argv[1]))); "
             "os.execv(sys.argv[2], sys.argv[2:])")
FSIZE_LIMIT = 2048


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((LOCAL, 0))
        return s.getsockname()[1]


def pose(x):
    return b"KV01\x01" + struct.pack("<5f", x, 0.0, 1.7, 0.0, 0.0)


def receive_until_quiet(sock, quiet=0.5, timeout=DEADLINE):
    """Every datagram that arrives until none has for `quiet` seconds."""
    received, end = [], time.monotonic() + timeout
    while time.monotonic() < end:
        ready, _, _ = select.select([sock], [], [], quiet)
        if not ready:
            return received
        received.append(sock.recv(65536))
    raise AssertionError("datagrams kept coming")


@pytest.fixture
def workdir():
    with tempfile.TemporaryDirectory(prefix="brassmoor-capture-") as path:
        yield path


@pytest.fixture
def programs():
    started = []

    def start(command):
        program = ProgramLines(command, DEADLINE)
        started.append(program)
        return program

    yield start
    for program in started:
        program.close()


def test_an_unwritable_capture_is_one_line_and_the_server_serves_on(programs, workdir):
    port = free_udp_port()
    path = os.path.join(workdir, "no such folder", "game.pcap")
    server = programs([SERVER, "--bind", LOCAL, "--port", str(port), "--bots", "1", "--capture", path])
    server.wait_for_line(r"^listening on ")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.settimeout(DEADLINE)
        sock.sendto(pose(1.0), (LOCAL, port))
        assert sock.recv(65536)[:5] == b"KV01\x02"
    assert server.stop() == 0
    assert server.proc.stderr.read().splitlines() == [
        f"brassmoor-server: cannot capture to '{path}': No such file or directory; going on without capturing"]
    assert not any(line.startswith("capturing") for line in server.seen)


def test_a_full_disk_stops_the_capture_with_one_line_and_the_relay_relays_on(programs, workdir):
    echo = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        echo.bind((LOCAL, 0))
        client.bind((LOCAL, 0))
        path = os.path.join(workdir, "relay.pcap")
        relay = programs([sys.executable, "-c", FULL_DISK, str(FSIZE_LIMIT), RELAY, "--listen", f"{LOCAL}:0",
                          "--server", f"{LOCAL}:{echo.getsockname()[1]}", "--capture", path])
        relay.wait_for_line(rf"^capturing to '{re.escape(path)}'$")
        relay_port = int(re.search(r":(\d+) ", relay.wait_for_line(r"^listening on ")).group(1))
        sent = [b"datagram %03d " % i + bytes(90) for i in range(40)]
        for data in sent:
            client.sendto(data, (LOCAL, relay_port))
            echo.settimeout(DEADLINE)
            got, relay_side = echo.recvfrom(65536)
            echo.sendto(got, relay_side)
        client.settimeout(DEADLINE)
        assert [client.recv(65536) for _ in sent] == sent
        assert relay.stop() == 0
    finally:
        echo.close()
        client.close()
    errors = relay.proc.stderr.read().splitlines()
    assert len(errors) == 1, errors
    match = re.fullmatch(rf"brassmoor-relay: capture to '{re.escape(path)}' stopped after (\d+) datagrams: "
                         r"File too large; going on without capturing", errors[0])
    assert match, errors
    written = int(match.group(1))
    # Each datagram makes a 16 + 28 + 103 byte record: the disk took the header and `written` of them,
    # and part of the next.
    assert 24 + 147 * written < os.path.getsize(path) <= FSIZE_LIMIT < 24 + 147 * (written + 1)

    replay = programs([REPLAY, "--listen", f"{LOCAL}:0", "--server-port", str(relay_port), path])
    replay.wait_for_line(r"^listening on ")
    assert replay.stop() == 0
    assert replay.proc.stderr.read().splitlines() == [
        f"brassmoor-replay: '{path}' ends inside record {written + 1} (byte {24 + 147 * written}), as a capture "
        f"stopped by a full disk does: the {written} records before it are replayed"]
    replay.wait_for_line(rf"^capture '{re.escape(path)}': {written} records, {written} UDP datagrams$")


def test_a_killed_server_leaves_every_datagram_it_handled_in_its_capture(programs, workdir):
    port = free_udp_port()
    path = os.path.join(workdir, "server.pcap")
    server = programs([SERVER, "--bind", LOCAL, "--port", str(port), "--bots", "2", "--capture", path])
    server.wait_for_line(r"^listening on ")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.bind((LOCAL, 0))
        sent = [pose(0.5 * i) for i in range(20)] + [b"KV01\x03" + bytes(19)]
        for data in sent:
            sock.sendto(data, (LOCAL, port))
            time.sleep(0.03)  # the client's pace, so that every pose earns its snapshot
        received = receive_until_quiet(sock)
        client = sock.getsockname()
    server.proc.kill()
    server.proc.wait(timeout=DEADLINE)

    _, records = read_pcap(path)  # whole records only, or it fails
    assert [r.payload for r in records if r.source == client] == sent
    assert [r.payload for r in records if r.destination == client] == received
    assert sum(1 for data in received if data[:5] == b"KV01\x04") == 1
    assert sum(1 for data in received if data[:5] == b"KV01\x02") >= 10


# Only the server's own port, 40124, sent anything: a pose answered with a snapshot.
FROM_40124 = [(1.0, (LOCAL, 5000), (LOCAL, 40124), b"KV01\x01" + bytes(20)),
              (1.1, (LOCAL, 40124), (LOCAL, 5000), b"KV01\x02" + struct.pack("<IH", 1, 0))]


@pytest.mark.parametrize("content, error", [
    (None, "cannot read '{path}': No such file or directory"),
    (b"not a capture at all\n", "'{path}': not a pcap file (it starts with 6e 6f 74 20)"),
    (bytes([0x0a, 0x0d, 0x0d, 0x0a]) + bytes(40),
     "'{path}': a pcapng file, which is not read here: convert it with 'editcap -F pcap FILE NEW'"),
    (struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101) + struct.pack("<IIII", 0, 0, 1 << 30, 1 << 30),
     "'{path}': record 1 at byte 24 claims 1073741824 bytes, more than any capture holds: the file is damaged"),
    (FROM_40124, "'{path}' holds no datagram sent from port 40123; snapshots were sent from port 40124"),
])
def test_a_capture_the_replayer_cannot_use_is_one_clear_line(workdir, content, error):
    path = os.path.join(workdir, "capture.pcap")
    if isinstance(content, list):
        write_pcap(path, content)
    elif content is not None:
        with open(path, "wb") as f:
            f.write(content)
    result = subprocess.run([REPLAY, path], capture_output=True, text=True, timeout=DEADLINE)
    assert result.returncode == 1
    assert result.stderr.splitlines() == ["brassmoor-replay: " + error.format(path=path)]
