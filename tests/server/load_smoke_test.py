"""Smoke run of the load generator: 64 simulated clients against brassmoor-server for a few seconds,
with a small flood of garbage and forged poses, then a moment against the bare reflector. It checks
that the generator, the server and the reflector work together and that the server's status line
reports its tick times; it does not judge speed."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from program_lines import ProgramLines  # noqa: E402

SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
GENERATOR = os.environ.get("BRASSMOOR_LOAD", "brassmoor-load")
REFLECTOR = os.environ.get("BRASSMOOR_REFLECTOR", "brassmoor-reflector")
DEADLINE = 10.0
CLIENTS = 64


def fields(line):
    return dict(re.findall(r"([a-z0-9-]+)=(\S+)", line))


def start(command):
    program = ProgramLines(command, DEADLINE)
    line = program.wait_for_line(r"^listening on 127\.0\.0\.1:(\d+)")
    return program, int(re.search(r":(\d+)", line).group(1))


def generate(port, pid, seconds, *extra):
    done = subprocess.run([GENERATOR, "--server", f"127.0.0.1:{port}", "--clients", str(CLIENTS), "--seconds",
                           str(seconds), "--warm-up", "1", "--watch-pid", str(pid), *extra],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    results = [line for line in done.stdout.splitlines() if line.startswith("result ")]
    assert len(results) == 1, done.stdout
    return fields(results[0])


def free_port():
    import socket
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def assert_on_schedule(result, seconds):
    """30 poses a second from each client; a generator starved of its core may fall short, never over."""
    scheduled = CLIENTS * 30 * seconds
    assert scheduled * 0.5 <= int(result["poses"]) <= scheduled * 1.05


def test_poses_keep_their_schedule_when_nobody_answers():
    result = generate(free_port(), os.getpid(), 1)
    assert_on_schedule(result, 1)
    assert result["snapshots"] == "0" and float(result["snapshots-min"]) == 0
    assert result["unanswered-percent"] == "100.00"
    # With nothing received, each client's gap is the whole measured second.
    assert float(result["gap-max-ms"]) >= 900


def test_the_generator_against_the_server_and_the_reflector():
    server, port = start([SERVER, "--bind", "127.0.0.1", "--port", str(free_port()), "--max-clients", "200",
                          "--status", "60"])
    try:
        # 100 forged ports fit beside the 64 clients, so no client is ever refused.
        result = generate(port, server.proc.pid, 3, "--garbage-rate", "300", "--forged-rate", "200",
                          "--forged-ports", "100")
        assert server.stop() == 0
        status = fields(server.wait_for_line(r"^status ", after=len(server.seen)))
    finally:
        server.close()

    # Every client was served, with snapshots that list the others and never the receiver.
    assert float(result["snapshots-min"]) > 0
    assert 63 <= int(result["entries-min"]) <= int(result["entries-max"]) <= 163
    assert result["malformed"] == result["self-listed"] == result["self-id-changed"] == "0"
    assert_on_schedule(result, 3)
    assert int(result["garbage"]) > 0 and int(result["forged"]) > 0
    # A forged pose draws at most one snapshot.
    assert int(result["forged-answered"]) <= int(result["forged"])
    assert float(result["watched-cpu"]) >= 0 and float(result["generator-cpu"]) > 0
    # The server saw the garbage, and reports its ticks and the system's drops.
    assert int(status["dropped"]) >= int(result["garbage"])
    p50, p99, longest = (float(status[k]) for k in ("tick-p50-ms", "tick-p99-ms", "tick-max-ms"))
    assert 0 < p50 <= p99 <= longest
    assert status["kernel-drops"].isdigit()

    reflector, port = start([REFLECTOR, "--bind", "127.0.0.1", "--port", str(free_port()), "--entries", "63"])
    try:
        result = generate(port, reflector.proc.pid, 1)
        assert reflector.stop() == 0
        answered = fields(reflector.wait_for_line(r"^stopping ", after=len(reflector.seen)))
    finally:
        reflector.close()
    assert float(result["snapshots-min"]) > 0
    assert result["entries-min"] == result["entries-max"] == "63"
    assert result["malformed"] == result["self-listed"] == result["self-id-changed"] == "0"
    assert int(answered["answered"]) >= int(result["snapshots"])
