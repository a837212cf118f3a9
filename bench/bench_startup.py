"""Start-up time of the real client under a private virtual X server: from process start to its
window, its first status title and its first pose at a small fake server on 127.0.0.1:40123.

Usage: /usr/bin/python3 bench/bench_startup.py --client BUILD/src/app/brassmoor [--runs N]
"""

import argparse
import os
import select
import statistics
import subprocess
import time

from Xlib import X, display as xdisplay

from bench_helpers import bind_fake_server, discard_queued, start_xvfb, stop_process, window_name
TITLE_PREFIX = "Brassmoor  |"
RUN_DEADLINE = 30.0  # seconds for one start-up; a run that takes longer is a failure


def one_run(client_path, display_name, connection, server):
    """Starts the client once; returns seconds from start to (window named, first status title, first pose)."""
    name_atoms = {connection.intern_atom("WM_NAME"), connection.intern_atom("_NET_WM_NAME")}
    root = connection.screen().root
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    connection.sync()
    discard_queued(server)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["DISPLAY"] = display_name

    start = time.monotonic()
    client = subprocess.Popen([client_path], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    created = titled = posed = None
    try:
        while titled is None or posed is None:
            now = time.monotonic()
            if now - start > RUN_DEADLINE:
                raise RuntimeError("timed out waiting for the first title and pose")
            if client.poll() is not None:
                raise RuntimeError(f"the client exited early with status {client.returncode}")
            # Events already read by an earlier request wait in the library, not on the socket.
            while connection.pending_events():
                event = connection.next_event()
                name = None
                if event.type == X.CreateNotify:
                    # Follow its title changes, then look once in case the first came before that.
                    event.window.change_attributes(event_mask=X.PropertyChangeMask)
                    name = window_name(connection, event.window)
                elif event.type == X.PropertyNotify and event.atom in name_atoms:
                    name = window_name(connection, event.window)
                if name and name.startswith("Brassmoor"):
                    seen = time.monotonic()
                    created = created if created is not None else seen
                    if name.startswith(TITLE_PREFIX) and titled is None:
                        titled = seen
            ready, _, _ = select.select([connection.fileno(), server], [], [], 0.05)
            if server in ready:
                try:
                    data = server.recv(65536)
                    if posed is None and len(data) == 25 and data[:5] == b"KV01\x01":
                        posed = time.monotonic()
                except BlockingIOError:
                    pass
    finally:
        stop_process(client)
    root.change_attributes(event_mask=X.NoEventMask)
    connection.sync()
    while connection.pending_events():
        connection.next_event()
    return created - start, titled - start, posed - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--client", required=True, help="path to the brassmoor executable")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()

    xvfb, display_name = start_xvfb()
    server = None
    try:
        connection = xdisplay.Display(display_name)
        server = bind_fake_server()
        one_run(args.client, display_name, connection, server)  # warms the file cache; not counted
        results = [one_run(args.client, display_name, connection, server) for _ in range(args.runs)]
        connection.close()
    finally:
        if server is not None:
            server.close()
        stop_process(xvfb)

    print(f"Start-up of {args.client} under Xvfb, {args.runs} runs (after one warm-up run), milliseconds:")
    labels = ("window titled \"Brassmoor\"", "first frame's title \"Brassmoor  |...\"",
              "first pose at 127.0.0.1:40123")
    for index, label in enumerate(labels):
        values = [r[index] * 1000 for r in results]
        print(f"  {label:40s} median {statistics.median(values):7.1f}   "
              f"min {min(values):7.1f}   max {max(values):7.1f}")


if __name__ == "__main__":
    main()
