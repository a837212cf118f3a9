"""The list server at 10 000 games, once with the games in memory and once in Redis: announcements a
second from brassmoor-list-load's games on 127.x (each from its own address, many at once), the list's
CPU while it rechecks every game every 10 s (from /proc), and GET /v1/games under wrk beside nginx
serving the same JSON bytes from a file. Figures are measured and printed, never asserted.

Run by scripts/bench-list.sh, as root, in a network namespace of its own."""

import argparse
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

LIST_URL = "http://127.0.0.1:8080"
NGINX_URL = "http://127.0.0.1:8081"
TICKS = os.sysconf("SC_CLK_TCK")

NGINX_CONF = """daemon off;
worker_processes auto;
pid {dir}/nginx.pid;
error_log {dir}/nginx-error.log;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path {dir}/body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    server {{
        listen 127.0.0.1:8081;
        location = /v1/games {{
            default_type application/json;
            alias {dir}/games.json;
        }}
    }}
}}
"""


def cpu_seconds(pid):
    """User and system time of a process (all its threads), in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def resident_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M).group(1)) / 1024


def get(url):
    with urllib.request.urlopen(url, timeout=30) as answer:
        return answer.read()


def metric(name):
    text = get(LIST_URL + "/metrics").decode()
    return sum(float(line.split()[-1]) for line in text.splitlines() if line.startswith(name))


def until(condition, what, seconds=120):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            sys.exit(f"bench_list: timed out waiting for {what}")
        time.sleep(0.1)


def read_line(process, pattern, what):
    """The first line of the process's output that matches, printed; the others are passed over."""
    for line in process.stdout:
        if re.search(pattern, line):
            return line.rstrip("\n")
    sys.exit(f"bench_list: {what} ended before saying it ({process.wait()})")


def stop(process, sig=signal.SIGTERM):
    if process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wrk(url, args):
    """Requests a second of one wrk run; exits when any answer was not a 2xx."""
    done = subprocess.run(["wrk", "-t", str(args.wrk_threads), "-c", str(args.wrk_connections), "-d",
                           f"{args.wrk_seconds}s", url], capture_output=True, text=True, check=True)
    if "Non-2xx" in done.stdout or "Socket errors" in done.stdout:
        sys.exit(f"bench_list: wrk saw failures against {url}:\n{done.stdout}")
    return float(re.search(r"^Requests/sec:\s+([\d.]+)", done.stdout, re.M).group(1))


def measure(store, args, folder):
    print(f"\n== {args.games} games kept in {store}")
    started = []
    try:
        command = [args.list, "--listen", "127.0.0.1:8080"]
        redis = None
        if store == "redis":
            socket = os.path.join(folder, "redis.sock")
            redis = subprocess.Popen(["redis-server", "--port", "0", "--unixsocket", socket, "--save", "",
                                      "--appendonly", "no", "--dir", folder], stdout=subprocess.DEVNULL)
            started.append(redis)
            until(lambda: os.path.exists(socket), "Redis's socket")
            command += ["--redis", "unix:" + socket]
        with open(os.path.join(folder, f"list-{store}.log"), "w") as log:
            listing = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT)
        started.append(listing)
        until(healthy, "the list to answer")

        games = subprocess.Popen([args.load, "--list", LIST_URL, "--games", str(args.games), "--rounds",
                                  str(args.rounds), "--concurrency", str(args.concurrency), "--hold"],
                                 stdout=subprocess.PIPE, text=True)
        started.append(games)
        rates = []
        for round_number in range(1, args.rounds + 1):
            line = read_line(games, rf"^round {round_number}: ", "brassmoor-list-load")
            print("announcements,", line)
            rates.append(float(re.search(r", (\d+) a second", line).group(1)))
        until(lambda: metric("brassmoor_list_games") == args.games, f"{args.games} games listed")

        # Rechecks alone: nothing else asks anything of the list meanwhile.
        sent_before, cpu_before = metric('brassmoor_list_checks_sent_total{kind="recheck"}'), cpu_seconds(listing.pid)
        redis_before = cpu_seconds(redis.pid) if redis else 0.0
        start = time.monotonic()
        time.sleep(args.seconds)
        elapsed = time.monotonic() - start
        share = (cpu_seconds(listing.pid) - cpu_before) / elapsed
        sent = metric('brassmoor_list_checks_sent_total{kind="recheck"}') - sent_before
        line = (f"rechecks: {sent / elapsed:.0f} a second for {elapsed:.0f} s; the list's CPU {100 * share:.1f}% of "
                f"a core, resident {resident_mib(listing.pid):.0f} MiB")
        if redis:
            line += f"; redis-server's CPU {100 * (cpu_seconds(redis.pid) - redis_before) / elapsed:.1f}%"
        print(line)
        listed = metric("brassmoor_list_games")

        # The same bytes from nginx, from a file; list and nginx in turn, so that a busy moment of the
        # machine falls on both.
        body = get(LIST_URL + "/v1/games")
        with open(os.path.join(folder, "games.json"), "wb") as f:
            f.write(body)
        os.chmod(os.path.join(folder, "games.json"), 0o644)
        assert get(NGINX_URL + "/v1/games") == body
        ours, theirs = [], []
        for _ in range(args.repeat):
            ours.append(wrk(LIST_URL + "/v1/games", args))
            theirs.append(wrk(NGINX_URL + "/v1/games", args))
        print(f"GET /v1/games ({len(body)} bytes, {listed:.0f} games), wrk -t{args.wrk_threads} "
              f"-c{args.wrk_connections} -d{args.wrk_seconds}s, {args.repeat} runs each:")
        print("  brassmoor-list: " + ", ".join(f"{r:.0f}" for r in ours) + " requests/s")
        print("  nginx:          " + ", ".join(f"{r:.0f}" for r in theirs) + " requests/s")
        median_ours, median_theirs = statistics.median(ours), statistics.median(theirs)
        print(f"  medians {median_ours:.0f} / {median_theirs:.0f}: ratio {median_ours / median_theirs:.2f}")
        return {"store": store, "announce": rates, "cpu": share, "get": median_ours, "nginx": median_theirs}
    finally:
        for process in reversed(started):
            stop(process)


def healthy():
    try:
        return get(LIST_URL + "/healthz") == b"ok\n"
    except OSError:
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", required=True, help="the brassmoor-list program")
    parser.add_argument("--load", required=True, help="the brassmoor-list-load program")
    parser.add_argument("--games", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=2, help="announcements of every game (at most 4)")
    parser.add_argument("--concurrency", type=int, default=128, help="announcements under way at once")
    parser.add_argument("--seconds", type=float, default=30, help="time the rechecks' CPU is measured over")
    parser.add_argument("--wrk-seconds", type=int, default=10)
    parser.add_argument("--wrk-threads", type=int, default=2)
    parser.add_argument("--wrk-connections", type=int, default=32)
    parser.add_argument("--repeat", type=int, default=3, help="wrk runs of each server")
    parser.add_argument("--stores", default="memory,redis")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="brassmoor-bench-list-") as folder:
        os.chmod(folder, 0o755)  # nginx's workers run as nobody
        with open(os.path.join(folder, "nginx.conf"), "w") as f:
            f.write(NGINX_CONF.format(dir=folder))
        with open(os.path.join(folder, "games.json"), "w") as f:
            f.write("{}")
        nginx = subprocess.Popen(["nginx", "-c", os.path.join(folder, "nginx.conf"), "-p", folder],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        try:
            until(lambda: os.path.exists(os.path.join(folder, "nginx.pid")), "nginx to start")
            results = [measure(store, args, folder) for store in args.stores.split(",")]
        finally:
            stop(nginx, signal.SIGQUIT)
    print("\n| store | announcements a second (rounds) | rechecks' CPU | GET /v1/games, list / nginx | ratio |")
    print("|---|---|---|---|---|")
    for r in results:
        print(f"| {r['store']} | {' / '.join(f'{a:.0f}' for a in r['announce'])} | {100 * r['cpu']:.1f}% of a core "
              f"| {r['get']:.0f} / {r['nginx']:.0f} requests/s | {r['get'] / r['nginx']:.2f} |")


if __name__ == "__main__":
    main()
