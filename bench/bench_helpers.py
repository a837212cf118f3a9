"""What the Python benchmarks share: a private virtual X server, stopping processes, the client's
server port on loopback, and reading window titles."""

import errno
import os
import select
import socket
import subprocess
import sys
import time

SERVER_PORT = 40123


def start_xvfb():
    """An Xvfb of our own on a display number it picks itself; returns (process, name)."""
    read_fd, write_fd = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_fd], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(read_fd, 16) if ready else b""
        if not chunk:
            stop_process(process)
            sys.exit("Xvfb did not start")
        number += chunk
    os.close(read_fd)
    return process, ":" + number.decode().strip()


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def bind_fake_server():
    """The client's server port on loopback. Another program (a black-box test run) may hold it
    for a while: wait for it rather than share it, so that neither steals the other's poses."""
    deadline = time.monotonic() + 120
    while True:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            sock.bind(("127.0.0.1", SERVER_PORT))
            sock.setblocking(False)
            return sock
        except OSError as error:
            sock.close()
            if error.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                sys.exit(f"cannot listen on 127.0.0.1:{SERVER_PORT}: {error}")
            time.sleep(0.5)


def discard_queued(sock):
    while True:
        try:
            sock.recv(65536)
        except BlockingIOError:
            return


def window_name(connection, window):
    """The window's title, or None if it has none (or is gone)."""
    try:
        prop = window.get_full_property(connection.intern_atom("_NET_WM_NAME"),
                                        connection.intern_atom("UTF8_STRING"))
        if prop is not None:
            return prop.value.decode("utf-8", "replace")
        name = window.get_wm_name()
    except Exception:  # the window went away between the event and the request
        return None
    if isinstance(name, bytes):
        name = name.decode("latin-1")
    return name


def client_title(connection):
    """The title of the top-level window whose name starts with Brassmoor, or None."""
    for window in connection.screen().root.query_tree().children:
        name = window_name(connection, window)
        if name and name.startswith("Brassmoor"):
            return name
    return None
