"""Records the GL calls of the real client with apitrace, once for each number of other players the
frame benchmark draws, for that benchmark to replay with glretrace --benchmark.

For each count N the client runs under a private virtual X server against a small fake server on
127.0.0.1:40123 that answers every pose with a snapshot of N players standing where the frame
benchmark puts them (bench_support.cpp, entriesInView), so both draw the same scene. Once the title
shows N others the client runs on for a few seconds and is then ended with Escape.

Two traces are written per count: DIR/client-N.trace, every whole frame, and
DIR/client-N-start.trace, the frames up to and a little past the first one that drew N boxes (start-up,
shader compilation, the first frames). Replaying both and subtracting leaves the cost of the
steady frames alone.

Usage: /usr/bin/python3 bench/record_gl_traces.py --client BUILD/src/app/brassmoor --out DIR
"""

import argparse
import os
import select
import struct
import subprocess
import sys
import time

from Xlib import X, XK, display as xdisplay
from Xlib.ext import xtest

from bench_helpers import bind_fake_server, client_title, discard_queued, start_xvfb, stop_process

COUNTS = (0, 16, 204)
PLAYERS_PER_ROW = 17
EYE_HEIGHT = 1.7
SELF_ID = 7
STEADY_SECONDS = 2.5  # recorded after the title first shows the count
# Frames past the first one with every box that still count as start-up: the caches warm up.
WARM_UP_FRAMES = 10
DEADLINE = 60.0


def f32(value):
    """The nearest binary32 value. A product of two binary32 values is exact in a double, so
    rounding it afterwards gives the same bits as a binary32 multiplication."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def entries_in_view(count):
    """The same players as bench_support.cpp's entriesInView, in the same order, to the bit."""
    entries = []
    for i in range(count):
        row, column = divmod(i, PLAYERS_PER_ROW)
        x = f32((column - PLAYERS_PER_ROW // 2) * f32(0.9))
        entries.append((1000 + i, x, 6.0 + 2.0 * row, EYE_HEIGHT, f32(f32(0.3) * i)))
    return entries


def snapshot_in_view(count):
    entries = entries_in_view(count)
    return b"KV01\x02" + struct.pack("<IH", SELF_ID, count) + b"".join(
        struct.pack("<Iffff", *entry) for entry in entries)


def record(client, trace, count, display_name, server):
    """Runs the traced client until it has shown `count` others for a while, then presses Escape."""
    connection = xdisplay.Display(display_name)
    snapshot = snapshot_in_view(count)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["DISPLAY"] = display_name
    discard_queued(server)
    process = subprocess.Popen(["apitrace", "trace", "--output", trace, client], env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wanted = f"  |  others: {count}  |"
    start = time.monotonic()
    steady_since = None
    try:
        while steady_since is None or time.monotonic() - steady_since < STEADY_SECONDS:
            if time.monotonic() - start > DEADLINE:
                sys.exit(f"record_gl_traces: the client did not show {count} others in time")
            if process.poll() is not None:
                sys.exit(f"record_gl_traces: the traced client exited early: {process.stderr.read().decode()}")
            ready, _, _ = select.select([server], [], [], 0.02)
            if ready:
                try:
                    _, sender = server.recvfrom(65536)
                    server.sendto(snapshot, sender)
                except BlockingIOError:
                    pass
            if steady_since is None and wanted in (client_title(connection) or ""):
                steady_since = time.monotonic()
        escape = connection.keysym_to_keycode(XK.string_to_keysym("Escape"))
        xtest.fake_input(connection, X.KeyPress, escape)
        connection.sync()
        process.wait(timeout=20)
        xtest.fake_input(connection, X.KeyRelease, escape)
        connection.sync()
    finally:
        stop_process(process)
        connection.close()
    if process.returncode != 0:
        sys.exit(f"record_gl_traces: the traced client ended with status {process.returncode}")


def boxes_per_frame(trace):
    """The number of boxes drawn in each whole frame of the trace."""
    dump = subprocess.run(["apitrace", "dump", "--color=never", trace], check=True, capture_output=True,
                          text=True).stdout
    frames = []
    boxes = 0
    for line in dump.splitlines():
        if "glDrawArrays(mode = GL_TRIANGLES" in line:
            boxes += 1
        elif "glXSwapBuffers(" in line and "// incomplete" not in line:
            frames.append(boxes)
            boxes = 0
    return frames


def trim(trace, output, frames):
    result = subprocess.run(["apitrace", "trim", f"--frames=0-{frames - 1}", "--output", output, trace],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"record_gl_traces: apitrace trim failed: {result.stdout}{result.stderr}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--client", required=True, help="path to the brassmoor executable")
    parser.add_argument("--out", required=True, help="folder for the traces")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    xvfb, display_name = start_xvfb()
    server = bind_fake_server()
    try:
        for count in COUNTS:
            raw = os.path.join(args.out, f"client-{count}-raw.trace")
            record(args.client, raw, count, display_name, server)
            boxes = boxes_per_frame(raw)
            first_full = next((i for i, drawn in enumerate(boxes) if drawn == count and
                               all(later == count for later in boxes[i:])), None)
            if first_full is None:
                sys.exit(f"record_gl_traces: no steady run of frames with {count} boxes")
            start_frames = first_full + 1 + WARM_UP_FRAMES
            if len(boxes) < start_frames + 100:
                sys.exit(f"record_gl_traces: only {len(boxes)} frames recorded with {count} others")
            trim(raw, os.path.join(args.out, f"client-{count}.trace"), len(boxes))
            trim(raw, os.path.join(args.out, f"client-{count}-start.trace"), start_frames)
            os.remove(raw)
            print(f"  {count:3d} others: {len(boxes)} frames recorded, the first {start_frames} counted as start-up")
    finally:
        server.close()
        stop_process(xvfb)


if __name__ == "__main__":
    main()
