"""The server at scale: the load generator against brassmoor-server and against the bare reflector,
each pinned to a core of its own, for 64, 256, 1000 and 2000 clients (or those asked for), then
256 clients under a flood of garbage and forged poses. Prints one markdown table; with --metrics-cost,
also the server's CPU at 2000 clients with --metrics off and on (scraped once a second).

Run through scripts/bench-scale.sh, which builds the programs and gives this a network namespace
of its own; figures are measured and printed, never asserted."""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

PORT = 40200
METRICS_PORT = 40201


def cpu_pressure():
    """The share of the last minute some task waited for a CPU (Linux pressure stall information),
    as text; above a few percent the machine was busy and the figures are suspect."""
    try:
        with open("/proc/pressure/cpu") as f:
            return re.search(r"avg60=([0-9.]+)", f.readline()).group(1) + "%"
    except (OSError, AttributeError):
        return "unknown"


def pinned(core, command):
    return ["taskset", "-c", str(core), *command]


def fields(line):
    return dict(re.findall(r"([a-z0-9-]+)=(\S+)", line))


class Target:
    """The server or the reflector, started on its core. Its output goes to a file, never a pipe
    nobody reads: a server that logs a join line per client would otherwise block on a full pipe."""

    def __init__(self, command, core):
        self.output = tempfile.TemporaryFile(mode="w+")
        self.proc = subprocess.Popen(pinned(core, command), stdout=self.output, stderr=subprocess.STDOUT, text=True)
        deadline = time.monotonic() + 10
        while not self.lines() and self.proc.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        first = self.lines()[0] if self.lines() else ""
        if not first.startswith("listening on"):
            self.proc.kill()
            self.proc.wait()
            sys.exit(f"{command[0]} did not start: {''.join(self.lines())}")
        self.listening = first

    def lines(self):
        self.output.seek(0)
        return self.output.readlines()

    def stop(self):
        """Stops it with SIGINT; returns every line it wrote."""
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        lines = [line.rstrip("\n") for line in self.lines()]
        self.output.close()
        return lines


def generate(args, clients, core, pid, extra=()):
    command = [args.generator, "--server", f"127.0.0.1:{PORT}", "--clients", str(clients), "--seconds",
               str(args.seconds), "--warm-up", str(args.warm_up), "--watch-pid", str(pid), *extra]
    done = subprocess.run(pinned(core, command), capture_output=True, text=True,
                          timeout=args.seconds + args.warm_up + 120)
    result = [line for line in done.stdout.splitlines() if line.startswith("result ")]
    if done.returncode != 0 or not result:
        sys.exit(f"the load generator failed ({done.returncode}): {done.stderr}{done.stdout}")
    return fields(result[0])


class Scraper:
    """Fetches /metrics once a second, as Prometheus would, until stopped; counts the answers."""

    def __init__(self, url):
        self.url, self.scrapes, self.stopping = url, 0, threading.Event()
        self.thread = threading.Thread(target=self._scrape, daemon=True)
        self.thread.start()

    def _scrape(self):
        while not self.stopping.wait(1.0):
            try:
                with urllib.request.urlopen(self.url, timeout=5) as answer:
                    answer.read()
                    self.scrapes += 1
            except OSError:
                pass

    def stop(self):
        self.stopping.set()
        self.thread.join()
        return self.scrapes


def process_cpu(pid, thread_prefix=""):
    """CPU seconds the process's threads whose names start with `thread_prefix` have used so far."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        name, rest = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2:].split()
        if name.startswith(thread_prefix):
            total += int(rest[11]) + int(rest[12])  # utime, stime
    return total / os.sysconf("SC_CLK_TCK")


def run_server(args, clients, max_clients=4000, extra=(), metrics=False):
    watch = ["--metrics", f"127.0.0.1:{METRICS_PORT}"] if metrics else []
    server = Target([args.server, "--bind", "127.0.0.1", "--port", str(PORT), "--max-clients", str(max_clients),
                     "--status", "86400", *watch], args.target_core)
    scraper = Scraper(f"http://127.0.0.1:{METRICS_PORT}/metrics") if metrics else None
    measured = generate(args, clients, args.generator_core, server.proc.pid, extra)
    measured["scrapes"] = scraper.stop() if scraper else 0
    # The HTTP server's own threads, against the whole process: the scrapes' share of the CPU.
    measured["http-cpu"] = process_cpu(server.proc.pid, "civetweb")
    measured["all-cpu"] = process_cpu(server.proc.pid)
    status = [fields(line) for line in server.stop() if line.startswith("status ")]
    measured["status"] = status[-1] if status else {}
    measured["receive-buffer"] = fields(server.listening).get("receive-buffer", "?")
    return measured


def run_reflector(args, clients):
    reflector = Target([args.reflector, "--bind", "127.0.0.1", "--port", str(PORT), "--entries",
                        str(min(204, clients - 1))], args.target_core)
    measured = generate(args, clients, args.generator_core, reflector.proc.pid)
    reflector.stop()
    return measured


def served(m):
    return f"{float(m['snapshots-min']):.1f} / {float(m['snapshots-median']):.1f}"


def gaps(m):
    return f"{float(m['gap-p99-ms']):.0f} / {float(m['gap-max-ms']):.0f}"


def drops(m):
    return m["server-drops"]


def cpu(m):
    return m["watched-cpu"]


def ratio(a, b):
    try:
        return f"{float(a) / float(b):.2f}"
    except (ValueError, ZeroDivisionError):
        return "-"


def ticks(m):
    s = m["status"]
    return f"{s.get('tick-p50-ms', '?')} / {s.get('tick-p99-ms', '?')} / {s.get('tick-max-ms', '?')}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", required=True)
    parser.add_argument("--reflector", required=True)
    parser.add_argument("--generator", required=True)
    parser.add_argument("--clients", default="64 256 1000 2000", help="client counts, one row each")
    parser.add_argument("--seconds", type=float, default=60.0, help="measured seconds per run")
    parser.add_argument("--warm-up", type=float, default=3.0)
    parser.add_argument("--generator-core", type=int, default=0)
    parser.add_argument("--target-core", type=int, default=1)
    parser.add_argument("--no-flood", action="store_true", help="leave out the flood row")
    parser.add_argument("--metrics-cost", action="store_true",
                        help="only the server at 2000 clients with --metrics off, then on and scraped each second")
    parser.add_argument("--repeat", type=int, default=1, help="pairs of runs for --metrics-cost")
    args = parser.parse_args()
    if args.metrics_cost:
        metrics_cost(args)
        return

    print(f"Load: each client poses {30} times a second from a socket of its own (127.0.0.2 onwards); "
          f"{args.seconds:g} s measured after {args.warm_up:g} s. Generator on core {args.generator_core}, "
          f"server or reflector on core {args.target_core}. CPU in cores over the measured time. "
          f"Load average at the start: {os.getloadavg()[0]:.2f}; tasks waiting for a CPU over the last "
          f"minute: {cpu_pressure()}.")
    print()
    print("| clients | server: snapshots/s min / median | gap p99 / max ms | unanswered | kernel drops "
          "| server CPU | tick p50 / p99 / max ms | reflector: snapshots/s min / median | gap p99 / max ms "
          "| kernel drops | reflector CPU | CPU ratio | generator CPU |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    receive_buffer = "?"
    for clients in [int(c) for c in args.clients.split()]:
        s = run_server(args, clients)
        receive_buffer = s["receive-buffer"]
        r = run_reflector(args, clients)
        print(f"| {clients} | {served(s)} | {gaps(s)} | {float(s['unanswered-percent']):.2f}% | "
              f"{drops(s)} ({s['status'].get('kernel-drops', '?')}) | {cpu(s)} | {ticks(s)} | {served(r)} | {gaps(r)} | "
              f"{drops(r)} | {cpu(r)} | {ratio(cpu(s), cpu(r))} | {s['generator-cpu']} / {r['generator-cpu']} |",
              flush=True)
    print()
    print(f"Tasks waiting for a CPU over the last minute, at the end: {cpu_pressure()}. "
          f"The server's receive queue: {receive_buffer} bytes granted (asked for 8 MiB; Linux grants at most "
          f"net.core.rmem_max, doubled). Kernel drops: at the server's socket over the measured time (in brackets, "
          f"the server's own count over the whole run).")
    if args.no_flood:
        return
    flood = ["--garbage-rate", "100000", "--forged-rate", "20000", "--forged-ports", "4000"]
    f = run_server(args, 256, max_clients=1000, extra=flood)
    print()
    print("| 256 clients, server --max-clients 1000, under a flood | snapshots/s min / median | gap p99 / max ms "
          "| garbage sent | forged poses sent (from 4000 ports) | snapshots to forged ports | kernel drops "
          "| server CPU | generator CPU |")
    print("|---|---|---|---|---|---|---|---|---|")
    print(f"| 100 000 garbage datagrams/s + 20 000 forged poses/s | {served(f)} | {gaps(f)} | {f['garbage']} | "
          f"{f['forged']} | {f['forged-answered']} | {drops(f)} | {cpu(f)} | {f['generator-cpu']} |")


def cpu_per_snapshot(m, clients):
    """Server CPU in microseconds per snapshot delivered: a busy machine makes the server skip ticks,
    and a run that sends fewer snapshots uses less CPU for that alone."""
    try:
        return float(cpu(m)) / (clients * float(m["snapshots-median"])) * 1e6
    except (ValueError, ZeroDivisionError):
        return float("nan")


def metrics_cost(args):
    clients = 2000
    print(f"The server at {clients} clients, {args.seconds:g} s measured, with --metrics off and then on (its "
          f"/metrics fetched once a second), {args.repeat} pair(s). Load average at the start: "
          f"{os.getloadavg()[0]:.2f}; tasks waiting for a CPU over the last minute: {cpu_pressure()}.")
    print()
    print("| clients | server CPU off / on | change | µs of CPU per snapshot off / on | change | scrapes answered "
          "| HTTP threads' share of the server's CPU | snapshots/s min / median off / on | tick p99 ms off / on |")
    print("|---|---|---|---|---|---|---|---|---|")
    for _ in range(args.repeat):
        off = run_server(args, clients)
        on = run_server(args, clients, metrics=True)
        try:
            change = f"{(float(cpu(on)) / float(cpu(off)) - 1.0) * 100.0:+.1f}%"
        except (ValueError, ZeroDivisionError):
            change = "-"
        per_off, per_on = cpu_per_snapshot(off, clients), cpu_per_snapshot(on, clients)
        share = f"{on['http-cpu']:.2f} s of {on['all-cpu']:.1f} s"
        print(f"| {clients} | {cpu(off)} / {cpu(on)} | {change} | {per_off:.2f} / {per_on:.2f} | "
              f"{(per_on / per_off - 1.0) * 100.0:+.1f}% | {on['scrapes']} | {share} | {served(off)} / {served(on)} | "
              f"{off['status'].get('tick-p99-ms', '?')} / {on['status'].get('tick-p99-ms', '?')} |", flush=True)
    print()
    print(f"Tasks waiting for a CPU over the last minute, at the end: {cpu_pressure()}. The HTTP threads' CPU "
          f"is read from /proc in clock ticks of 0.01 s over the whole run.")


if __name__ == "__main__":
    main()
