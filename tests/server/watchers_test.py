"""brassmoor-server's watchers, end to end: Debian's Prometheus scraping --metrics, /healthz beside idle
connections, the calls to a stand-in for the orchestrator's SDK sidecar (a recorder, not the real
sidecar) through a session, and the announcements to a stand-in list server."""
import http.server
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_test import DEADLINE, RunningServer, pose_bytes, query_bytes  # noqa: E402


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http_get(url):
    try:
        with urllib.request.urlopen(url, timeout=DEADLINE) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()


def until(condition, what, seconds=DEADLINE * 2):
    end = time.monotonic() + seconds
    while not (value := condition()):
        assert time.monotonic() < end, f"timed out waiting for {what}"
        time.sleep(0.1)
    return value


class PoseSenders:
    """`count` clients, each on its own socket, posing ten times a second until stopped."""

    def __init__(self, port, count):
        self.sockets = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(count)]
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._send, args=(port,), daemon=True)
        self.thread.start()

    def _send(self, port):
        while not self.stopping.wait(0.1):
            for s in self.sockets:
                s.sendto(pose_bytes(1.0, 2.0, 1.7, 0.0, 0.0), ("127.0.0.1", port))

    def stop(self):
        self.stopping.set()
        self.thread.join()
        for s in self.sockets:
            s.close()


def test_prometheus_scrapes_the_clients_connected():
    metrics_port, web = free_tcp_port(), free_tcp_port()
    server = RunningServer("--bots", "2", "--metrics", f"127.0.0.1:{metrics_port}")
    senders = PoseSenders(server.port, 3)
    with tempfile.TemporaryDirectory() as folder:
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: brassmoor\n"
                    f"    static_configs:\n      - targets: ['127.0.0.1:{metrics_port}']\n")
        prometheus = None
        try:
            server.wait_for_line(r"^metrics on http://127\.0\.0\.1:%d/metrics" % metrics_port)
            assert http_get(f"http://127.0.0.1:{metrics_port}/healthz")[0] == 200
            prometheus = subprocess.Popen(
                ["prometheus", "--config.file", config, "--storage.tsdb.path", os.path.join(folder, "data"),
                 "--web.listen-address", f"127.0.0.1:{web}"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

            def clients_seen():
                try:
                    status, body = http_get(f"http://127.0.0.1:{web}/api/v1/query?query=brassmoor_clients")
                except OSError:
                    return None
                if status != 200:  # Prometheus answers 503 until its storage is open
                    return False
                result = json.loads(body)["data"]["result"]
                if result and result[0]["value"][1] == "3":
                    print("Prometheus: brassmoor_clients ->", result)
                    return True
                return False

            until(clients_seen, "Prometheus to see brassmoor_clients 3")
            status, text = http_get(f"http://127.0.0.1:{metrics_port}/metrics")
            assert status == 200 and "brassmoor_bots 2\n" in text and 'brassmoor_build_info{version="' in text
            lint = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
            assert lint.returncode == 0, lint.stdout + lint.stderr
        finally:
            if prometheus:
                prometheus.terminate()
                prometheus.wait(timeout=DEADLINE)
            senders.stop()
            server.close()


def test_healthz_answers_in_the_probes_time_beside_twelve_idle_connections():
    manifest = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "kubernetes",
                            "brassmoor-server.yaml")
    with open(manifest) as f:
        probe_timeout = float(re.search(r"^ +timeoutSeconds: (\d+)$", f.read(), re.M)[1])
    metrics_port = free_tcp_port()
    server = RunningServer("--metrics", f"127.0.0.1:{metrics_port}")
    idle = []
    try:
        server.wait_for_line(r"^metrics on http://127\.0\.0\.1:%d/" % metrics_port)
        # Connected and silent, as a scanner or a stalled client leaves them.
        idle = [socket.create_connection(("127.0.0.1", metrics_port)) for _ in range(12)]
        asked = time.monotonic()
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{metrics_port}/healthz", timeout=probe_timeout) as answer:
                status = answer.status
        except OSError as error:  # the probe's time ran out
            status = error
        answered = time.monotonic() - asked
        print(f"/healthz beside 12 idle connections: {status} after {answered:.3f} s (probe allows {probe_timeout:g})")
        assert status == 200 and answered < probe_timeout
        # Every stalled client is let go soon: the server closes its end.
        for s in idle:
            s.settimeout(max(0.1, asked + DEADLINE - time.monotonic()))
            assert s.recv(1) == b""
        print(f"the 12 idle connections were closed within {time.monotonic() - asked:.3f} s")
    finally:
        for s in idle:
            s.close()
        server.close()


class StandInSidecar(http.server.BaseHTTPRequestHandler):
    """Records each POST with its time; on /ready, also whether the game server answered on its UDP port."""

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        ok = body == b"{}" and self.headers.get("Content-Type") == "application/json"
        answered = None
        if self.path == "/ready":
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                s.settimeout(DEADLINE)
                s.sendto(query_bytes(7), ("127.0.0.1", self.server.game_port))
                answered = len(s.recvfrom(64)[0]) > 0
        self.server.calls.append((time.monotonic(), self.path, answered))
        self.send_response(200 if ok else 400)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"{}")

    def log_message(self, *args):
        pass


def test_the_sidecar_hears_ready_health_allocate_and_shutdown_through_a_session():
    sidecar_port = free_tcp_port()
    os.environ["AGONES_SDK_HTTP_PORT"] = str(sidecar_port)
    started = time.monotonic()
    try:
        server = RunningServer("--timeout", "0.5", "--end-when-empty", "1")
    finally:
        del os.environ["AGONES_SDK_HTTP_PORT"]
    sidecar = None
    try:
        # The sidecar starts late: the server keeps trying, saying so once.
        server.wait_for_line(r"^agones: the sidecar does not take /ready \(.*\); trying again each second$")
        time.sleep(1.5)
        sidecar = http.server.HTTPServer(("127.0.0.1", sidecar_port), StandInSidecar)
        sidecar.calls, sidecar.game_port = [], server.port
        threading.Thread(target=sidecar.serve_forever, daemon=True).start()
        server.wait_for_line(r"^agones: ready$")
        until(lambda: sum(path == "/health" for _, path, _ in sidecar.calls) >= 3, "three health calls")
        posing = time.monotonic()
        senders = PoseSenders(server.port, 1)
        server.wait_for_line(r"^join id=1 ")
        server.wait_for_line(r"^agones: allocated$")
        senders.stop()
        server.wait_for_line(r"^session over: no client heard for 1 s$")
        assert server.proc.wait(timeout=DEADLINE) == 0
        assert sum("sidecar does not take" in line for line in server.seen) == 1
        print("sidecar calls, seconds after the server started:",
              [(round(t - started, 2), path) for t, path, _ in sidecar.calls])
        paths = [path for _, path, _ in sidecar.calls]
        assert paths[0] == "/ready" and sidecar.calls[0][2] is True
        # Allocated once, after the first pose (players join by address: nothing else allocates it).
        allocated = paths.index("/allocate")
        assert paths.count("/allocate") == 1 and sidecar.calls[allocated][0] > posing
        assert paths[-1] == "/shutdown" and set(paths[1:-1]) == {"/health", "/allocate"}
        healths = [t for t, path, _ in sidecar.calls if path == "/health"]
        assert all(later - earlier >= 1.9 for earlier, later in zip(healths, healths[1:]))
    finally:
        if sidecar:
            sidecar.shutdown()
            sidecar.server_close()
        server.close()


NO_ANSWER = "no answer on UDP 40123 at 127.0.0.1 within 2 s: forward UDP port 40123 to this server"


class StandInList(http.server.BaseHTTPRequestHandler):
    """Records each request; refuses the first announcement as the real list does when its check goes unanswered."""

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.server.calls.append((time.monotonic(), "POST", self.path, body, self.headers.get("Content-Type")))
        first = len(self.server.calls) == 1
        self.answer(422 if first else 200, {"listed": False, "reason": NO_ANSWER} if first else
                    {"listed": True, "address": "127.0.0.1", "port": 40123, "name": "box", "players": 0})

    def do_DELETE(self):
        self.server.calls.append((time.monotonic(), "DELETE", self.path, b"", None))
        self.answer(200, {"listed": False, "removed": True})

    def answer(self, status, reply):
        data = json.dumps(reply).encode()
        self.send_response(status)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


def test_a_list_hears_the_game_again_after_30_s_and_its_withdrawal_on_sigterm():
    listing = http.server.ThreadingHTTPServer(("127.0.0.1", 0), StandInList)
    listing.calls = []
    threading.Thread(target=listing.serve_forever, daemon=True).start()
    url, dead = f"http://127.0.0.1:{listing.server_port}/", f"http://127.0.0.1:{free_tcp_port()}"
    server = RunningServer("--list-server", url, "--list-server", dead)
    try:
        server.wait_for_line(rf"^list {re.escape(url)}: not listed: {re.escape(NO_ANSWER)}$")
        server.wait_for_line(rf"^list {re.escape(dead)}: not listed: cannot connect: Connection refused$")
        server.wait_for_line(rf"^list {re.escape(url)}: listed as 127\.0\.0\.1$", timeout=DEADLINE + 30)
        stopping = time.monotonic()
        assert server.stop() == 0
        server.wait_for_line(rf"^list {re.escape(url)}: removed$")
        print("the server's lines:", *server.seen, sep="\n  ")
        print("the list's requests, seconds after the first:",
              [(round(t - listing.calls[0][0], 2), method) for t, method, *_ in listing.calls])
        posted = ("POST", "/v1/announce", b"{}", "application/json")
        assert [call[1:] for call in listing.calls] == [posted, posted, ("DELETE", "/v1/announce", b"", None)]
        assert listing.calls[1][0] - listing.calls[0][0] >= 29.5 and listing.calls[2][0] > stopping
        # One line per change: the dead list's second refusal, like its first, said nothing new.
        assert sum(line.startswith("list ") for line in server.seen) == 4
    finally:
        listing.shutdown()
        listing.server_close()
        server.close()
