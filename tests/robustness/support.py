"""Helpers for the robustness checks: the black-box fixtures' classes, plus a frame counter,
the client's memory and its socket's queue as the kernel reports them."""

import ctypes
import fcntl
import importlib.util
import os
import select
import socket
import struct
import threading
import time

from Xlib import X, display as xdisplay

_BLACKBOX_CONFTEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox", "conftest.py")
_spec = importlib.util.spec_from_file_location("blackbox_support", _BLACKBOX_CONFTEST)
blackbox = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(blackbox)

VirtualX = blackbox.VirtualX
FakeServer = blackbox.FakeServer
ClientProcess = blackbox.ClientProcess
client_env = blackbox.client_env
decode_pose = blackbox.decode_pose
snapshot = blackbox.snapshot
title_position = blackbox.title_position
wait_for = blackbox.wait_for


CLONE_NEWNET = 0x40000000
CLONE_NEWNS = 0x00020000
MS_REC, MS_PRIVATE = 0x4000, 0x40000
SIOCGIFFLAGS = 0x8913
SIOCSIFFLAGS = 0x8914
IFF_UP = 0x1


def isolate_network():
    """Moves this process into a network namespace of its own, with only a loopback interface.

    The client's server port is fixed, so anything else on this machine that binds 40123 (another
    test run, a real server) would take the client's poses or answer it. In a namespace of its own
    the flood reaches nobody else and nobody else's datagrams reach this client. Child processes
    (Xvfb, the client, the senders) inherit the namespace, and a folder of X sockets of its own.
    Needs root; without it, or when BRASSMOOR_SHARED_NETWORK is set, nothing changes. Call it before any thread is started.
    Returns whether the process is isolated."""
    if os.environ.get("BRASSMOOR_SHARED_NETWORK") or os.geteuid() != 0:
        return False
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        return False
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as control:
        request = struct.pack("16sH22x", b"lo", 0)
        flags = struct.unpack("16sH22x", fcntl.ioctl(control, SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(control, SIOCSIFFLAGS, struct.pack("16sH22x", b"lo", flags | IFF_UP))
    isolate_x_sockets(libc)
    return True


def isolate_x_sockets(libc):
    """Gives this process (and its children) a folder of X sockets of its own.

    In a network namespace of its own every virtual X server is display :0, and each puts its
    socket file at /tmp/.X11-unix/X0, taking the name from any other. The client reaches its own
    server through the namespace's abstract socket, but python-xlib prefers the file: without this
    a test could read the titles of another test's X server."""
    if libc.unshare(CLONE_NEWNS) != 0:
        raise OSError(ctypes.get_errno(), "unshare of the mount namespace failed")
    if libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        raise OSError(ctypes.get_errno(), "making the mounts private failed")
    if not os.path.isdir("/tmp/.X11-unix"):  # a fresh machine: made as X servers want it
        os.mkdir("/tmp/.X11-unix")
        os.chmod("/tmp/.X11-unix", 0o1777)
    if libc.mount(b"tmpfs", b"/tmp/.X11-unix", b"tmpfs", 0, b"mode=1777") != 0:
        raise OSError(ctypes.get_errno(), "mounting a folder of X sockets failed")




def title_count(title):
    """The number after "others: " in the title, or None."""
    if not title or "others: " not in title:
        return None
    return int(title.split("others: ")[1].split(" ")[0])


class FrameCounter:
    """Counts the client's frames as they are presented.

    The client sets its title once a frame, and every setting of _NET_WM_NAME is a
    PropertyNotify event even when the text is unchanged. The events carry the X
    server's millisecond clock, so gaps between frames do not depend on how quickly
    this process gets to read them."""

    def __init__(self, display_name, window_id):
        self.connection = xdisplay.Display(display_name)
        self.atom = self.connection.intern_atom("_NET_WM_NAME")
        window = self.connection.create_resource_object("window", window_id)
        window.change_attributes(event_mask=X.PropertyChangeMask)
        self.connection.sync()
        self.lock = threading.Lock()
        self.frames = []  # (monotonic time when read, X server time in ms)
        self.running = True
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _loop(self):
        while self.running:
            select.select([self.connection.fileno()], [], [], 0.05)
            while self.connection.pending_events():
                event = self.connection.next_event()
                if event.type == X.PropertyNotify and event.atom == self.atom:
                    with self.lock:
                        self.frames.append((time.monotonic(), event.time))

    def count(self):
        with self.lock:
            return len(self.frames)

    def server_times_between(self, start, end):
        """X server times (ms) of the frames read between two monotonic instants."""
        with self.lock:
            return [server for seen, server in self.frames if start <= seen < end]

    def stop(self):
        self.running = False
        self.thread.join(timeout=5)
        self.connection.close()


def frame_figures(server_times):
    """(frames per second, longest gap in ms) of a run of frames, by the X server's clock."""
    if len(server_times) < 2:
        return 0.0, None
    span = (server_times[-1] - server_times[0]) / 1000.0
    gaps = [b - a for a, b in zip(server_times, server_times[1:])]
    return (len(server_times) - 1) / span if span > 0 else 0.0, max(gaps)


def rss_kib(pid):
    """VmRSS of a process in KiB."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError(f"no VmRSS for process {pid}")


def udp_port_of(pid):
    """The local port of a process's UDP socket, or None while it has none (before its first send)."""
    inodes = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:  # closed meanwhile
            continue
        if target.startswith("socket:["):
            inodes.add(target[len("socket:["):-1])
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            fields = line.split()
            port = int(fields[1].split(":")[1], 16)
            if fields[9] in inodes and port != 0:
                return port
    return None


def udp_socket_state(port):
    """(queued bytes, datagrams dropped) of the local UDP socket on `port`, from /proc/net/udp."""
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            fields = line.split()
            local_port = int(fields[1].split(":")[1], 16)
            if local_port == port:
                rx_queue = int(fields[4].split(":")[1], 16)
                return rx_queue, int(fields[12])
    return None
