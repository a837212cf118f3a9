"""What the package tests share: the packages under test, a player's environment, unpacking a package,
starting a program with its output kept, and the black-box tests' virtual X server."""

import os
import signal
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "robustness"))
from support import VirtualX, wait_for  # noqa: E402,F401

# The packages scripts/package-deb.sh built.
CLIENT_DEB = os.environ.get("BRASSMOOR_DEB", "")
SERVER_DEB = os.environ.get("BRASSMOOR_SERVER_DEB", "")


def require_packages():
    for variable, path in (("BRASSMOOR_DEB", CLIENT_DEB), ("BRASSMOOR_SERVER_DEB", SERVER_DEB)):
        if not path or not os.path.isfile(path):
            pytest.fail(f"{variable} must name a package built by scripts/package-deb.sh, not {path!r}")


def player_path():
    """The PATH a login gives a player on this system (root's own lacks the games folders)."""
    try:
        with open("/etc/login.defs") as defs:
            for line in defs:
                fields = line.split()
                if len(fields) == 2 and fields[0] == "ENV_PATH" and fields[1].startswith("PATH="):
                    return fields[1][len("PATH="):]
    except OSError:
        pass
    return "/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games"


def player_env(**extra):
    """A plain environment: the player's PATH and nothing pointing into the build tree."""
    env = {"PATH": player_path(), "HOME": os.environ.get("HOME", "/root"), "LC_ALL": "C.UTF-8"}
    env.update(extra)
    return env


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def package_field(deb, name):
    return run(["dpkg-deb", "--field", deb, name]).stdout.strip()


def package_paths(deb):
    """Files of a package, as absolute paths (from its data archive)."""
    paths = set()
    for line in run(["dpkg-deb", "--contents", deb]).stdout.splitlines():
        kind, path = line[0], line.split()[5]
        if kind != "d":
            paths.add(path[1:] if path.startswith("./") else path)
    return paths


class Unpacked:
    """A package's files unpacked into a folder of their own, without installing them."""

    def __init__(self, deb):
        self.folder = tempfile.TemporaryDirectory(prefix="brassmoor-unpacked-")
        subprocess.run(["dpkg-deb", "--extract", deb, self.folder.name], check=True)

    def path(self, absolute):
        return os.path.join(self.folder.name, absolute.lstrip("/"))

    def cleanup(self):
        self.folder.cleanup()


def start_logged(command, env, cwd=None):
    """Starts a program with its output in a file; returns the process and a reader of the output."""
    log = tempfile.TemporaryFile()
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log,
                               stderr=subprocess.STDOUT)

    def output():
        log.seek(0)
        return log.read().decode("utf-8", "replace")

    return process, output


def end(process, sig=signal.SIGTERM):
    if process.poll() is None:
        process.send_signal(sig)
        try:
            return process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


def play_until_others(command, others, env_extra=None, cwd=None, while_running=None):
    """Starts a client-side program under a virtual X server of its own, waits for the title to count
    `others` other players, calls while_running(process) if given, closes the window as a player
    would, and returns the exit status, the title seen and the program's output."""
    xserver = VirtualX()
    process = None
    try:
        process, output = start_logged(command, player_env(DISPLAY=xserver.name, **(env_extra or {})), cwd)
        wait_for(lambda: f"others: {others}" in (xserver.title() or "") or process.poll() is not None,
                 timeout=30, what=f"{others} others in the title")
        assert process.poll() is None, output()
        title = xserver.title()
        if while_running is not None:
            while_running(process)
        xserver.request_close()
        status = process.wait(timeout=15)
        return status, title, output()
    finally:
        if process is not None:
            end(process, signal.SIGKILL)
        xserver.stop()
