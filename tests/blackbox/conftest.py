"""Fixtures for driving the real client: a private X server, a fake game server
on the client's fixed port, and the client process itself.

Tests that take the `launcher` fixture run once per launcher named in BRASSMOOR_LAUNCHERS
(comma-separated, default "linux"): "linux" starts the programs in BRASSMOOR_CLIENT and
BRASSMOOR_SERVER, "windows" starts BRASSMOOR_WINDOWS_CLIENT and BRASSMOOR_WINDOWS_SERVER under
wine (in the prefix WINEPREFIX). A run without "linux" leaves out the tests that have no launcher."""

import os
import select
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time

import pytest
from Xlib import X, Xatom, display as xdisplay
from Xlib.ext import xtest

SERVER_PORT = 40123


def wait_for(condition, timeout=10.0, interval=0.02, what="condition"):
    """Polls condition() until it returns a true value; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


class VirtualX:
    """An Xvfb of our own, on a display number it picks itself."""

    def __init__(self, extra_args=()):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
             *extra_args],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_fd], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                self.stop()
                raise AssertionError("Xvfb did not report its display")
            chunk = os.read(read_fd, 16)
            if not chunk:
                self.stop()
                raise AssertionError("Xvfb exited before reporting its display")
            number += chunk
        os.close(read_fd)
        self.name = ":" + number.decode().strip()
        self.connection = xdisplay.Display(self.name)

    def stop(self):
        if getattr(self, "connection", None) is not None:
            try:
                self.connection.close()
            except Exception:  # a connection the server already broke must not keep Xvfb alive
                pass
            self.connection = None
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    # Window and input helpers.

    def window_titles(self):
        """Titles of the top-level windows whose name starts with Brassmoor."""
        titles = []
        net_wm_name = self.connection.intern_atom("_NET_WM_NAME")
        utf8 = self.connection.intern_atom("UTF8_STRING")
        for window in self.connection.screen().root.query_tree().children:
            try:
                prop = window.get_full_property(net_wm_name, utf8)
                name = prop.value.decode("utf-8") if prop else window.get_wm_name()
            except Exception:  # the window may go away between the calls
                continue
            if isinstance(name, bytes):
                name = name.decode("latin-1")
            if name and name.startswith("Brassmoor"):
                titles.append(name)
        return titles

    def title(self):
        titles = self.window_titles()
        return titles[0] if titles else None

    def client_window(self):
        for window in self.connection.screen().root.query_tree().children:
            try:
                name = window.get_wm_name()
            except Exception:
                continue
            if name and str(name).startswith("Brassmoor"):
                return window
        return None

    def key(self, keysym_name, down):
        from Xlib import XK
        code = self.connection.keysym_to_keycode(XK.string_to_keysym(keysym_name))
        xtest.fake_input(self.connection, X.KeyPress if down else X.KeyRelease, code)
        self.connection.sync()

    def move_pointer_by(self, dx, dy):
        xtest.fake_input(self.connection, X.MotionNotify, detail=True, x=dx, y=dy)
        self.connection.sync()

    def request_close(self):
        """What the close button does: a WM_DELETE_WINDOW message from the window manager."""
        from Xlib.protocol import event
        window = self.client_window()
        protocols = self.connection.intern_atom("WM_PROTOCOLS")
        delete = self.connection.intern_atom("WM_DELETE_WINDOW")
        message = event.ClientMessage(window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(message, event_mask=X.NoEventMask)
        self.connection.sync()


class FakeServer:
    """A UDP socket on the client's fixed port that records poses and can answer."""

    def __init__(self, host="127.0.0.1"):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # No address reuse: if another run holds the port, fail loudly rather than share its datagrams.
        self.sock.bind((host, SERVER_PORT))
        self.sock.setblocking(False)
        self.received = []  # (monotonic time, bytes, sender)
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self._receive_loop, daemon=True)
        self.thread.start()

    def _receive_loop(self):
        while self.running:
            ready, _, _ = select.select([self.sock], [], [], 0.05)
            if not ready:
                continue
            try:
                data, sender = self.sock.recvfrom(65536)
            except (BlockingIOError, OSError):
                continue
            with self.lock:
                self.received.append((time.monotonic(), data, sender))

    def datagrams(self):
        with self.lock:
            return list(self.received)

    def count(self):
        with self.lock:
            return len(self.received)

    def client_address(self):
        datagrams = self.datagrams()
        return datagrams[0][2] if datagrams else None

    def send(self, data):
        self.sock.sendto(data, self.client_address())

    def stop(self):
        self.running = False
        self.thread.join(timeout=5)
        self.sock.close()


class Launcher:
    """Starts the client and the server: the Linux programs, or the Windows ones under wine."""

    def __init__(self, name):
        self.name = name
        self.windows = name == "windows"

    def console(self, *lines):
        """The exact console text of `lines`: a Windows console program ends each in CR LF."""
        return "".join(line + ("\r\n" if self.windows else "\n") for line in lines)

    def command(self, program, args=()):
        """The command line that starts `program` ("client" or "server") with `args`."""
        variable = {"client": "BRASSMOOR_CLIENT", "server": "BRASSMOOR_SERVER"}[program]
        if self.windows:
            return ["wine", os.environ[variable.replace("BRASSMOOR_", "BRASSMOOR_WINDOWS_")], *args]
        return [os.environ[variable], *args]

    def reset(self):
        """Ends every Windows program of the prefix, and the wineserver with them.

        A wineserver keeps serving the X display of its first client, so the next test's window
        would never appear; it also holds the sockets, which live in the network it started in."""
        if not self.windows:
            return
        subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run(["wineserver", "-w"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def keep_wine_running(self):
        """Keeps the wineserver up between programs until the next reset, so that each console
        program starts in a moment instead of bringing wine's services up again. Only for
        programs without a display: the wineserver stays with the display it started with."""
        if not self.windows:
            return
        quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL,
                 "timeout": 30, "env": client_env(None)}
        subprocess.run(["wineserver", "-p"], **quiet)
        # The first program brings up wine's services, which keep its output pipes open for as
        # long as they run: let a program whose output nobody reads be that one.
        subprocess.run(["wine", "cmd", "/c", "exit"], **quiet)


def selected_launchers():
    names = [n.strip() for n in os.environ.get("BRASSMOOR_LAUNCHERS", "linux").split(",") if n.strip()]
    unknown = set(names) - {"linux", "windows"}
    if unknown:
        raise pytest.UsageError(f"BRASSMOOR_LAUNCHERS names unknown launchers: {sorted(unknown)}")
    if "windows" in names and shutil.which("wine") is None:
        raise pytest.UsageError("the windows launcher needs wine")
    return names


def pytest_generate_tests(metafunc):
    selected = selected_launchers()
    if "launcher" in metafunc.fixturenames:
        metafunc.parametrize("launcher", selected, indirect=True)
    if "pairing" in metafunc.fixturenames:
        # Client and server launchers: the selected ones with each other; a Windows run also
        # plays each Windows program against the Linux one.
        pairs = [(c, s) for c in ("linux", "windows") for s in ("linux", "windows")
                 if (c in selected and s in selected) or ("windows" in selected and "windows" in (c, s))]
        metafunc.parametrize("pairing", pairs, indirect=True, ids=[f"{c}-client-{s}-server" for c, s in pairs])


def pytest_collection_modifyitems(config, items):
    if "linux" in selected_launchers():
        return
    # Tests without a launcher drive the Linux client only.
    kept = [item for item in items if "launcher" in item.fixturenames or "pairing" in item.fixturenames]
    config.hook.pytest_deselected(items=[item for item in items if item not in kept])
    items[:] = kept


@pytest.fixture
def launcher(request):
    chosen = Launcher(request.param)
    chosen.reset()
    yield chosen
    chosen.reset()


@pytest.fixture
def pairing(request):
    """(client launcher, server launcher)."""
    client, server = Launcher(request.param[0]), Launcher(request.param[1])
    windows = client if client.windows else server
    windows.reset()
    yield client, server
    windows.reset()


class ClientProcess:
    """The real client, with its output gathered as it comes."""

    def __init__(self, args=(), env=None, traced=False, launcher=None):
        if traced:
            command = list(args)
        else:
            command = (launcher or Launcher("linux")).command("client", args)
        self.stdout_file = tempfile.TemporaryFile()
        self.stderr_file = tempfile.TemporaryFile()
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                        stdout=self.stdout_file, stderr=self.stderr_file)

    def _read(self, f):
        f.seek(0)
        return f.read().decode("utf-8", "replace")

    def stdout(self):
        return self._read(self.stdout_file)

    def stderr(self):
        return self._read(self.stderr_file)

    def wait(self, timeout=15):
        return self.process.wait(timeout=timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)


def client_env(display_name=None):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    if display_name is not None:
        env["DISPLAY"] = display_name
    return env


@pytest.fixture
def xserver():
    server = VirtualX()
    yield server
    server.stop()


@pytest.fixture
def fake_server():
    server = FakeServer()
    yield server
    server.stop()


@pytest.fixture
def start_client():
    started = []

    def start(args=(), env=None, traced=False, launcher=None):
        client = ClientProcess(args, env, traced, launcher)
        started.append(client)
        return client

    yield start
    for client in started:
        client.stop()


# Datagram helpers, written from the byte layout rather than from the client's code.

def decode_pose(data):
    assert len(data) == 25 and data[:5] == b"KV01\x01", data
    return struct.unpack("<5f", data[5:])


def snapshot(self_id, entries, announced=None):
    count = len(entries) if announced is None else announced
    body = b"".join(struct.pack("<I4f", peer_id, x, y, z, yaw) for peer_id, x, y, z, yaw in entries)
    return b"KV01\x02" + struct.pack("<IH", self_id, count) + body


def screenshot(xserver):
    """The client window's pixels as (width, height, rows of (r, g, b)), as far as it is on screen.

    wine places its window where a frame would leave room for it, partly past the screen's edge,
    and X gives out only pixels on screen: so they are read from the root window."""
    window = xserver.client_window()
    geometry = window.get_geometry()
    screen = xserver.connection.screen()
    origin = screen.root.translate_coords(window, 0, 0)
    width = min(geometry.width, screen.width_in_pixels - origin.x)
    height = min(geometry.height, screen.height_in_pixels - origin.y)
    image = screen.root.get_image(origin.x, origin.y, width, height, X.ZPixmap, 0xFFFFFFFF)
    data = image.data
    stride = len(data) // height
    rows = []
    for y in range(height):
        row = data[y * stride:(y + 1) * stride]
        rows.append([(row[4 * x + 2], row[4 * x + 1], row[4 * x]) for x in range(width)])
    return width, height, rows


def is_orange(pixel):
    # The box colour (0.8, 0.45, 0.22) at any shade from 0.35 to 1: red well above blue.
    r, g, b = pixel
    return r >= 60 and r > 1.5 * g and g > 1.4 * b


def title_position(title):
    """(x, y) shown after "pos " in the title."""
    x, y = title.rsplit("pos ", 1)[1].split(",")
    return float(x), float(y)
