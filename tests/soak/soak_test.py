"""A soak of the real client against the real server with 20 simulated players, through
brassmoor-relay at 25% loss, 25% duplication, 10% reordering, 100 +- 50 ms each way, 2% truncation
and 2% corruption; the last CLEAN_SECONDS of the run the relay passes everything straight through.
The player holds W the whole time, so the title changes every few frames.

It checks that frames keep coming (the title keeps changing), that the client's memory stays flat,
that poses reach the server at the rate the loss and duplication leave, and that the title never
counts more than the 20 others, counts all 20 most of the time, and always once the network is
clean. Its figures are printed (pytest -s) and, with SOAK_REPORT set, written to that file.

SOAK_SECONDS (default 60) sets the length of the run: scripts/soak.sh 600 is a ten-minute one;
SOAK_SEED (default 1) the relay's seed."""

import math
import os
import re
import signal
import subprocess
import sys
import threading
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "robustness"))
from support import (ClientProcess, VirtualX, client_env, isolate_network, rss_kib, title_count,  # noqa: E402
                     wait_for)

# Before any thread or child exists: port 40123 and the server's port are this test's alone.
ISOLATED = isolate_network()

RELAY = os.environ.get("BRASSMOOR_RELAY", "brassmoor-relay")
SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
SOAK_SECONDS = float(os.environ.get("SOAK_SECONDS", "60"))
SOAK_SEED = int(os.environ.get("SOAK_SEED", "1"))  # the relay's: a seed repeats its choices
CLEAN_SECONDS = 10.0
SERVER_PORT = 40124
BOTS = 20
LOSS, DUPLICATE, REORDER, TRUNCATE, CORRUPT = 0.25, 0.25, 0.1, 0.02, 0.02
DELAY_MS, JITTER_MS = 100, 50
POSES_PER_SECOND = 30.0  # the client's send cadence: one pose per 0.033 s of frame time
TITLE_INTERVAL = 0.02  # seconds between title samples
RSS_INTERVAL = 0.5
RSS_BASELINE_SECOND = 10.0

# Generous bounds: the machine is shared, and a test that fails one run in twenty is a defect.
LONGEST_TITLE_GAP_LIMIT = 1.0  # seconds
RSS_GROWTH_LIMIT_KIB = 4 * 1024
SHARE_AT_20_LIMIT = 0.80
CLEAN_SETTLE_LIMIT = 1.0  # seconds after the network turns clean


class LoggedProcess:
    """A program whose output lines are gathered, each with the monotonic time it was read."""

    def __init__(self, command):
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lock = threading.Lock()
        self.lines = []  # (monotonic time, line)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.lines.append((time.monotonic(), line.rstrip("\n")))

    def matching(self, pattern):
        regex = re.compile(pattern)
        with self.lock:
            return [(t, line) for t, line in self.lines if regex.search(line)]

    def output(self):
        with self.lock:
            return "\n".join(line for _, line in self.lines)

    def stop(self):
        """SIGTERM, then the exit status; killed if it does not go."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = self.proc.wait()
        self.reader.join(timeout=10)
        self.proc.stdout.close()
        return status


def counters(line):
    """{"up": {...}, "down": {...}} from a relay status line, or the server's {"in": ..} from its own."""
    if " | " not in line:
        return {key: int(value) for key, value in re.findall(r"([a-z-]+)=(\d+)", line)}
    found = {}
    for part in line.split(" | ")[1:]:
        direction, *fields = part.split()
        found[direction] = {key: int(value) for key, value in (field.split("=") for field in fields)}
    return found


def rate(first, last, key, direction=None):
    """Per second between two (time, line) status lines."""
    (t0, l0), (t1, l1) = first, last
    a, b = counters(l0), counters(l1)
    if direction:
        a, b = a[direction], b[direction]
    return (b[key] - a[key]) / (t1 - t0) if t1 > t0 else 0.0


def spread(fraction, draws):
    """How far a fraction counted over `draws` chances may stray: five standard deviations, and a little."""
    return 5 * math.sqrt(fraction * (1 - fraction) / draws) + 0.01


def report(lines):
    text = "\n".join("[soak] " + line for line in lines)
    print("\n" + text, flush=True)
    if os.environ.get("SOAK_REPORT"):
        with open(os.environ["SOAK_REPORT"], "w") as f:
            f.write(text + "\n")


class Soak:
    """Every process of the run, ended by stop() whatever happened."""

    def __init__(self):
        self.xserver = self.server = self.relay = self.client = None
        self.holding = False
        self.statuses = None

    def start(self):
        self.xserver = VirtualX()
        self.server = LoggedProcess([SERVER, "--bind", "127.0.0.1", "--port", str(SERVER_PORT), "--bots", str(BOTS),
                                     "--arena", "10"])
        wait_for(lambda: self.server.matching("^listening on") or self.server.proc.poll() is not None,
                 what="the server")
        assert self.server.proc.poll() is None, self.server.output()
        self.relay = LoggedProcess([
            RELAY, "--listen", "127.0.0.1:40123", "--server", f"127.0.0.1:{SERVER_PORT}", "--seed", str(SOAK_SEED),
            "--loss", str(LOSS), "--duplicate", str(DUPLICATE), "--reorder", str(REORDER),
            "--truncate", str(TRUNCATE), "--corrupt", str(CORRUPT), "--delay", str(DELAY_MS),
            "--jitter", str(JITTER_MS), "--status-every", "1"])
        wait_for(lambda: self.relay.matching("^impairing ") or self.relay.proc.poll() is not None, what="the relay")
        assert self.relay.proc.poll() is None, self.relay.output()
        self.client = ClientProcess(env=client_env(self.xserver.name))

    def stop(self):
        """Ends everything still running; returns the exit statuses of the relay and the server."""
        if self.holding:
            self.xserver.key("w", False)
            self.holding = False
        if self.client is not None:
            self.client.stop()
        if self.statuses is None:
            self.statuses = [part.stop() if part is not None else None for part in (self.relay, self.server)]
        if self.xserver is not None:
            self.xserver.stop()
        return self.statuses


@pytest.fixture
def soak():
    run = Soak()
    try:
        run.start()
        yield run
    finally:
        run.stop()


def test_the_client_stays_well_through_a_bad_network(soak):
    assert SOAK_SECONDS >= 2 * CLEAN_SECONDS, "SOAK_SECONDS must leave time to impair before the clean end"
    xserver, client = soak.xserver, soak.client
    wait_for(lambda: title_count(xserver.title()) == BOTS, timeout=30, what=f"{BOTS} others in the title")

    xserver.key("w", True)
    soak.holding = True
    start = time.monotonic()
    clean_at = start + SOAK_SECONDS - CLEAN_SECONDS
    end = start + SOAK_SECONDS
    titles = []  # (monotonic time, title)
    rss = []  # (monotonic time, KiB)
    next_title = next_rss = start
    clean_signalled = False
    while True:
        now = time.monotonic()
        if now >= end:
            break
        if not clean_signalled and now >= clean_at:
            soak.relay.proc.send_signal(signal.SIGUSR1)
            clean_signalled = True
            clean_at = now
        if now >= next_rss:
            rss.append((now, rss_kib(client.process.pid)))
            next_rss += RSS_INTERVAL
        if now >= next_title:
            titles.append((now, xserver.title()))
            next_title += TITLE_INTERVAL
            if next_title <= now:
                next_title = now + TITLE_INTERVAL
        time.sleep(max(0.0, min(next_title, next_rss, end) - time.monotonic()))
    final_rss = rss_kib(client.process.pid)
    assert client.process.poll() is None, client.stderr()
    relay_status, server_status = soak.stop()

    # Titles: how often they changed, and the count of others in them. A sample taken while the X
    # server could not tell the title (None) is left out.
    titles = [(t, title) for t, title in titles if title]
    changes = [t for (t, title), (_, before) in zip(titles[1:], titles) if title != before]
    gaps = [b - a for a, b in zip([start] + changes, changes + [titles[-1][0]])]
    longest_gap = max(gaps)
    # A gap can also be this process's own: the longest wait between two samples tells.
    longest_sample_interval = max(b - a for (a, _), (b, _) in zip(titles, titles[1:]))
    counts = [(t, title_count(title)) for t, title in titles]
    impaired = [c for t, c in counts if t < clean_at]
    clean = [(t, c) for t, c in counts if t >= clean_at]
    share_at_20 = sum(1 for _, c in counts if c == BOTS) / len(counts)
    impaired_share = sum(1 for c in impaired if c == BOTS) / len(impaired)
    # From when on the count stayed at 20 in the clean phase.
    settled_at = clean_at
    for t, c in clean:
        if c != BOTS:
            settled_at = t + TITLE_INTERVAL
    baseline = [kib for t, kib in rss if t >= start + RSS_BASELINE_SECOND]
    rss_growth = final_rss - baseline[0]

    # Poses: the relay's status lines come every second; the one printed as the network turned
    # clean closes the impaired phase.
    relay_lines = soak.relay.matching(r"^status ")
    impaired_lines = [entry for entry in relay_lines if start <= entry[0] <= clean_at + 0.5]
    off = soak.relay.matching(r"^impairment off on SIGUSR1$")
    assert off, soak.relay.output()
    phase_end = [entry for entry in relay_lines if entry[0] >= off[0][0]][0]
    phase_start = impaired_lines[0]
    poses_in = rate(phase_start, phase_end, "in", "up")
    poses_out = rate(phase_start, phase_end, "out", "up")
    expected_ratio = (1 - LOSS) * (1 + DUPLICATE)
    server_lines = [entry for entry in soak.server.matching(r"^status ") if start <= entry[0] <= clean_at + 0.5]
    server_in = rate(server_lines[0], server_lines[-1], "in") if len(server_lines) >= 2 else None
    phase_up = counters(phase_end[1])["up"]
    phase_up0 = counters(phase_start[1])["up"]
    delta = {key: phase_up[key] - phase_up0[key] for key in phase_up}
    kept = delta["in"] - delta["lost"]
    final_relay = counters(soak.relay.matching(r"^status ")[-1][1])
    final_server = counters(soak.server.matching(r"^status ")[-1][1])

    server_rate_text = f"{server_in:.1f}/s" if server_in is not None else "n/a (fewer than two status lines)"
    report([
        f"duration {SOAK_SECONDS:.0f} s ({SOAK_SECONDS - CLEAN_SECONDS:.0f} s impaired, then {CLEAN_SECONDS:.0f} s "
        f"clean), relay seed {SOAK_SEED}, {len(titles)} title samples every {TITLE_INTERVAL * 1000:.0f} ms",
        f"others in the title: {BOTS} in {share_at_20:.1%} of samples ({impaired_share:.1%} while impaired), "
        f"most {max(c for _, c in counts)}, least {min(c for _, c in counts)}; "
        f"{BOTS} for good {settled_at - clean_at:.2f} s after the network turned clean",
        f"title changes: {len(changes)}, longest gap between two {longest_gap * 1000:.0f} ms "
        f"(longest between two samples {longest_sample_interval * 1000:.0f} ms)",
        f"client RSS: {baseline[0]} KiB at {RSS_BASELINE_SECOND:.0f} s, {final_rss} KiB at the end, "
        f"growth {rss_growth} KiB (peak {max(k for _, k in rss)} KiB)",
        f"poses while impaired: {poses_in:.1f}/s into the relay, {poses_out:.1f}/s out of it "
        f"({poses_out / poses_in:.3f} of in; (1 - {LOSS}) x (1 + {DUPLICATE}) = {expected_ratio:.3f}); "
        f"server in {server_rate_text}",
        f"relay, impaired phase, up: lost {delta['lost'] / delta['in']:.3f} of in, duplicated "
        f"{delta['duplicated'] / kept:.3f}, reordered {delta['reordered'] / kept:.3f}, truncated "
        f"{delta['truncated'] / kept:.3f}, corrupted {delta['corrupted'] / kept:.3f} of the rest",
        f"relay at the clean switch: {phase_end[1]}",
        f"relay at exit: {soak.relay.matching(r'^status ')[-1][1]}",
        f"server at exit: {soak.server.matching(r'^status ')[-1][1]}",
    ])

    assert relay_status == 0 and server_status == 0
    assert longest_gap < LONGEST_TITLE_GAP_LIMIT
    assert rss_growth < RSS_GROWTH_LIMIT_KIB
    assert max(c for _, c in counts) <= BOTS
    assert impaired_share >= SHARE_AT_20_LIMIT
    assert settled_at - clean_at <= CLEAN_SETTLE_LIMIT
    # The client's cadence, less what a busy machine's long frames cost it.
    assert 0.5 * POSES_PER_SECOND <= poses_in <= 1.15 * POSES_PER_SECOND
    # Rates drawn from a few hundred or thousand datagrams: within five standard deviations (one
    # pose in, 0, 1 or 2 out: a variance of 0.434 for these fractions), whatever the run's length.
    ratio_spread = 5 * math.sqrt(0.434 / delta["in"]) + 0.02
    assert abs(delta["out"] / delta["in"] - expected_ratio) < ratio_spread
    assert abs(delta["lost"] / delta["in"] - LOSS) < spread(LOSS, delta["in"])
    assert abs(delta["duplicated"] / kept - DUPLICATE) < spread(DUPLICATE, kept)
    assert abs(delta["reordered"] / kept - REORDER) < spread(REORDER, kept)
    if server_in is not None:
        assert 0.8 * poses_out <= server_in <= 1.2 * poses_out
    # Every datagram the relay sent the server arrived: the server was stopped after the relay.
    assert abs(final_server["in"] - final_relay["up"]["out"]) <= 2
