"""The Windows installer under wine, in a fresh prefix: a silent update of an older version, what
it puts in place (programs, shortcuts, the Apps & features entry, the firewall commands), the
installed programs' resources, the installed launcher's window and games, a game it reads from a list
server through WinHTTP, and a silent uninstall that takes it all away. The tests run in file order, the uninstall last.

Run by scripts/check-windows.sh, which names what to test in the environment:
  BRASSMOOR_INSTALLER      the setup.exe to test
  BRASSMOOR_NSIS_SCRIPT    the script it was made from (the older version is made from it too)
  BRASSMOOR_STAGE_DIR      the files it should install
  BRASSMOOR_VERSION        the project's version
  BRASSMOOR_NETSH_RECORDER a netsh.exe that records its command lines (wine's does nothing)
  BRASSMOOR_SERVER         the Linux brassmoor-server, for a game the launcher reads from a list
  WINEPREFIX               where the fresh prefix goes; whatever is there is deleted first"""

import functools
import hashlib
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading

import pytest
from Xlib import X

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))
from conftest import VirtualX, wait_for  # noqa: E402
from shell_link import read_shell_link  # noqa: E402
from version_resource import extract_resource, read_icon_sizes, read_version  # noqa: E402

OLDER_VERSION = "0.1.0"
OLDER_README = b"The older version's README.\r\n"
INSTALL_FOLDER = "C:\\Program Files\\Brassmoor"
MENU_FOLDER = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Brassmoor"
UNINSTALL_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
PROGRAMS = ["brassmoor-play.exe", "brassmoor.exe", "brassmoor-server.exe", "brassmoor-relay.exe"]
DESCRIPTIONS = {
    "brassmoor-play.exe": "Brassmoor launcher: choose a game",
    "brassmoor.exe": "Brassmoor",
    "brassmoor-server.exe": "Brassmoor server",
    "brassmoor-relay.exe": "Brassmoor network impairment relay",
}
LAUNCHER_WINDOW = "Brassmoor: choose a game"
NETSH = '"C:\\windows\\system32\\netsh.exe" advfirewall firewall '


def add_rule(folder, program):
    return (NETSH + 'add rule name="Brassmoor LAN game" dir=in action=allow protocol=UDP localport=40123 '
            f'profile=private program="{folder}\\{program}"')


def delete_rule(folder, program):
    return NETSH + f'delete rule name="Brassmoor LAN game" program="{folder}\\{program}"'


class Prefix:
    """A wine prefix of its own, with commands run in it and its Windows paths mapped to this system's."""

    def __init__(self, path, netsh_log):
        self.path = path
        self.netsh_log = netsh_log
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update({
            "WINEPREFIX": path, "WINEARCH": "win64", "WINEDEBUG": "-all",
            # No Mono or Gecko; no desktop entries for the shortcuts on this machine; netsh is the recorder.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d;netsh.exe=n",
            "BRASSMOOR_NETSH_LOG": "Z:" + netsh_log.replace("/", "\\"),
        })

    def unix(self, windows_path):
        drive, rest = windows_path.split(":\\", 1)
        assert drive.upper() == "C", windows_path
        return os.path.join(self.path, "drive_c", *rest.split("\\"))

    def run(self, *args, timeout=120, display=None):
        env = dict(self.env, **({"DISPLAY": display} if display else {}))
        return subprocess.run(["wine", *args], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)

    def start(self, args, display=None, cwd=None):
        env = dict(self.env, **({"DISPLAY": display} if display else {}))
        output = tempfile.TemporaryFile()
        process = subprocess.Popen(["wine", *args], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=output, stderr=subprocess.STDOUT)
        process.output_file = output
        return process

    def stop_wine(self):
        """Ends every program in the prefix; the next one starts a wineserver for its own display."""
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)

    def keep_running(self):
        """Keeps the wineserver, and wine's services with it, up until stop_wine, so that each
        command starts in a moment instead of bringing them up again."""
        quiet = {"env": self.env, "stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
                 "stderr": subprocess.DEVNULL, "timeout": 120}
        subprocess.run(["wineserver", "-p"], **quiet)
        # The services outlive the program that brought them up and hold its output pipes open:
        # let that be a program whose output nobody waits for.
        subprocess.run(["wine", "cmd", "/c", "exit"], **quiet)

    def registry(self, key):
        """{key: {value name: text}} for `key` and every key under it; {} when there is no such key."""
        result = self.run("reg", "query", key, "/s")
        if result.returncode != 0:
            return {}
        keys = {}
        current = None
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            value = re.match(r"^ {4}(.*?) {4}REG_\w+ {4}(.*)$", line)
            if value and current is not None:
                keys[current][value.group(1)] = value.group(2)
            elif line.startswith("HKEY_"):
                current = line.strip()
                keys[current] = {}
        return keys

    def netsh_commands(self):
        if not os.path.exists(self.netsh_log):
            return []
        with open(self.netsh_log, encoding="utf-8") as log:
            return [line.rstrip("\n") for line in log]


def output_of(process):
    process.output_file.seek(0)
    return process.output_file.read().decode("utf-8", "replace").replace("\r\n", "\n")


def udp_listeners(port):
    lines = subprocess.run(["ss", "-uanH"], capture_output=True, text=True, check=True).stdout.splitlines()
    return [line for line in lines if re.search(rf":{port}\s", line)]


def build_older_installer(folder):
    """The same installer saying it is an older version, with a README of its own to tell its files by."""
    stage = os.path.join(folder, "older")
    shutil.copytree(os.environ["BRASSMOOR_STAGE_DIR"], stage)
    with open(os.path.join(stage, "README.txt"), "wb") as readme:
        readme.write(OLDER_README)
    path = os.path.join(folder, f"brassmoor-{OLDER_VERSION}-win64-setup.exe")
    subprocess.run(["makensis", "-V1", f"-DVERSION={OLDER_VERSION}", f"-DOUTFILE={path}", f"-DSTAGE_DIR={stage}",
                    os.environ["BRASSMOOR_NSIS_SCRIPT"]], check=True, capture_output=True, timeout=120)
    return path


@pytest.fixture(scope="module")
def prefix():
    """A fresh prefix with the older version installed silently, then the installer under test
    installed silently over it."""
    path = os.environ["WINEPREFIX"]
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    work = tempfile.mkdtemp(prefix="brassmoor-installer-")
    chosen = Prefix(path, os.path.join(work, "netsh-commands.txt"))
    try:
        assert chosen.run("wineboot", "--init", timeout=300).returncode == 0
        chosen.stop_wine()
        chosen.keep_running()
        shutil.copyfile(os.environ["BRASSMOOR_NETSH_RECORDER"], chosen.unix("C:\\windows\\system32\\netsh.exe"))
        older = build_older_installer(work)
        result = chosen.run(older, "/S")
        assert result.returncode == 0, result.stdout
        chosen.older_entry = chosen.registry(UNINSTALL_KEY + "\\Brassmoor")
        with open(chosen.unix(INSTALL_FOLDER + "\\README.txt"), "rb") as readme:
            chosen.older_readme = readme.read()
        result = chosen.run(os.environ["BRASSMOOR_INSTALLER"], "/S")
        assert result.returncode == 0, result.stdout
        yield chosen
    finally:
        chosen.stop_wine()
        shutil.rmtree(work, ignore_errors=True)


@pytest.fixture
def xserver(prefix):
    prefix.stop_wine()
    server = VirtualX()
    yield server
    prefix.stop_wine()
    server.stop()
    prefix.keep_running()


def brassmoor_entries(prefix):
    return {key: values for key, values in prefix.registry(UNINSTALL_KEY).items()
            if values.get("DisplayName") == "Brassmoor"}


def shortcut(prefix, name):
    with open(prefix.unix(MENU_FOLDER + "\\" + name), "rb") as link:
        return read_shell_link(link.read())


def test_newer_version_replaces_the_older_one_leaving_one_entry(prefix):
    assert prefix.older_entry[UNINSTALL_KEY + "\\Brassmoor"]["DisplayVersion"] == OLDER_VERSION
    assert prefix.older_readme == OLDER_README
    entries = brassmoor_entries(prefix)
    assert list(entries) == [UNINSTALL_KEY + "\\Brassmoor"]
    (entry,) = entries.values()
    assert entry["DisplayVersion"] == os.environ["BRASSMOOR_VERSION"]
    assert entry["InstallLocation"] == INSTALL_FOLDER
    with open(prefix.unix(INSTALL_FOLDER + "\\README.txt"), "rb") as readme:
        assert readme.read() != OLDER_README


def test_silent_install_puts_the_programs_shortcuts_and_entry_in_place(prefix):
    folder = prefix.unix(INSTALL_FOLDER)
    assert sorted(os.listdir(folder)) == sorted(PROGRAMS + ["README.txt", "uninstall.exe"])
    stage = os.environ["BRASSMOOR_STAGE_DIR"]
    for name in PROGRAMS + ["README.txt"]:
        with open(os.path.join(folder, name), "rb") as installed, open(os.path.join(stage, name), "rb") as built:
            assert hashlib.sha256(installed.read()).digest() == hashlib.sha256(built.read()).digest(), name
    with open(os.path.join(folder, "README.txt"), encoding="utf-8") as readme:
        assert readme.read().startswith("double-click brassmoor-play.exe")

    play = INSTALL_FOLDER + "\\brassmoor-play.exe"
    assert sorted(os.listdir(prefix.unix(MENU_FOLDER))) == [
        "Brassmoor - host a LAN game.lnk", "Brassmoor - quick play.lnk", "Brassmoor.lnk", "Uninstall Brassmoor.lnk"]
    game = shortcut(prefix, "Brassmoor.lnk")
    assert (game.target, game.arguments, game.working_dir) == (play, "", INSTALL_FOLDER)
    quick = shortcut(prefix, "Brassmoor - quick play.lnk")
    assert (quick.target, quick.arguments, quick.working_dir) == (play, "--quick", INSTALL_FOLDER)
    host = shortcut(prefix, "Brassmoor - host a LAN game.lnk")
    assert (host.target, host.arguments, host.working_dir) == (play, "--host", INSTALL_FOLDER)
    assert shortcut(prefix, "Uninstall Brassmoor.lnk").target == INSTALL_FOLDER + "\\uninstall.exe"

    (entry,) = brassmoor_entries(prefix).values()
    assert entry["Publisher"] == "The Brassmoor developers"
    assert entry["DisplayIcon"] == INSTALL_FOLDER + "\\brassmoor.exe,0"
    assert entry["UninstallString"] == f'"{INSTALL_FOLDER}\\uninstall.exe"'
    assert entry["QuietUninstallString"] == f'"{INSTALL_FOLDER}\\uninstall.exe" /S'
    # KiB, as Apps & features reads it: the programs are some hundreds of KiB each.
    assert 500 < int(entry["EstimatedSize"], 16) < 50000


def test_firewall_rule_lets_udp_40123_in_to_the_hosting_programs_on_private_networks(prefix):
    hosting = ["brassmoor-server.exe", "brassmoor-play.exe"]
    # The older version's rules, taken away by its uninstaller as the update starts, then the new ones.
    assert prefix.netsh_commands() == (
        [add_rule(INSTALL_FOLDER, program) for program in hosting]
        + [delete_rule(INSTALL_FOLDER, program) for program in hosting]
        + [add_rule(INSTALL_FOLDER, program) for program in hosting])


def test_every_program_carries_the_icon_and_its_version(prefix):
    version = tuple(int(part) for part in os.environ["BRASSMOOR_VERSION"].split(".")) + (0,)
    for program in PROGRAMS:
        exe = prefix.unix(INSTALL_FOLDER + "\\" + program)
        assert read_icon_sizes(extract_resource(exe, 14)) == [16, 20, 24, 32, 40, 48, 64, 256], program
        file_version, strings = read_version(extract_resource(exe, 16))
        assert file_version == version, program
        assert strings["ProductName"] == "Brassmoor"
        assert strings["ProductVersion"] == strings["FileVersion"] == os.environ["BRASSMOOR_VERSION"]
        assert strings["FileDescription"] == DESCRIPTIONS[program]
        assert strings["OriginalFilename"] == program
        assert strings["LegalCopyright"].startswith("Copyright (C) ")
        assert strings["CompanyName"] == "The Brassmoor developers"


def start_from_shortcut(prefix, name, display, extra=()):
    link = shortcut(prefix, name)
    return prefix.start([link.target, *link.arguments.split(), *extra], display=display,
                        cwd=prefix.unix(link.working_dir))


def test_installed_launcher_plays_a_practice_game_and_leaves_no_server(prefix, xserver):
    assert udp_listeners(40123) == []
    launcher = start_from_shortcut(prefix, "Brassmoor - quick play.lnk", xserver.name)
    try:
        wait_for(lambda: "others: 6" in (xserver.title() or "") or launcher.poll() is not None, timeout=90,
                 what="the practice game's 6 simulated players in the title")
        assert "others: 6" in (xserver.title() or ""), output_of(launcher)
        assert udp_listeners(40123), "the practice server is not listening"
        xserver.request_close()
        assert launcher.wait(timeout=60) == 0, output_of(launcher)
        # wineserver holds the sockets: give it a moment to close those of a process that has ended.
        wait_for(lambda: udp_listeners(40123) == [], timeout=10, what="nothing listening on UDP 40123")
        assert "practice game against 6 simulated players" in output_of(launcher)
    finally:
        if launcher.poll() is None:
            launcher.kill()
            launcher.wait()


def launcher_window_shown(xserver):
    """True while the launcher's window is mapped (it is hidden while a game runs)."""
    for window in xserver.connection.screen().root.query_tree().children:
        try:
            if window.get_wm_name() == LAUNCHER_WINDOW:
                return window.get_attributes().map_state == X.IsViewable
        except Exception:  # the window may go away between the calls
            continue
    return False


def running_games(prefix):
    """The game (brassmoor.exe, as wine names it in its command line) running in this prefix."""
    games = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as args, open(f"/proc/{pid}/environ", "rb") as environ:
                if re.search(rb'\\brassmoor\.exe"?[\0 ]127\.0\.0\.1', args.read().lower()) and \
                        b"WINEPREFIX=" + prefix.path.encode() + b"\0" in environ.read():
                    games.append(pid)
        except OSError:  # ended meanwhile
            continue
    return games


def press(xserver, key):
    xserver.key(key, True)
    xserver.key(key, False)


def test_installed_launcher_lists_a_running_server_and_its_window_joins_it(prefix, xserver):
    server = prefix.start([prefix.unix(INSTALL_FOLDER + "\\brassmoor-server.exe"), "--bots", "3"],
                          display=xserver.name)
    launcher = None
    try:
        wait_for(lambda: "listening on" in output_of(server) or server.poll() is not None, timeout=60,
                 what="the server to start")
        assert server.poll() is None, output_of(server)
        listing = prefix.run(prefix.unix(INSTALL_FOLDER + "\\brassmoor-play.exe"), "--list", display=xserver.name)
        lines = listing.stdout.decode("utf-8", "replace").splitlines()
        found = [line for line in lines if line.startswith("127.0.0.1 ")]
        assert listing.returncode == 0 and len(found) == 1, lines
        assert "bots=3" in found[0] and f"version={os.environ['BRASSMOOR_VERSION']}" in found[0], found

        # The Start menu's entry opens the window; the game is in its list, selected as the busiest.
        launcher = start_from_shortcut(prefix, "Brassmoor.lnk", xserver.name)
        wait_for(lambda: launcher_window_shown(xserver) or launcher.poll() is not None, timeout=60,
                 what="the launcher's window")
        assert not any("others:" in title for title in xserver.window_titles()), output_of(launcher)
        wait_for(lambda: "found 127.0.0.1" in output_of(launcher), timeout=30, what="the game in the list")
        press(xserver, "Return")
        wait_for(lambda: "others: 3" in " ".join(xserver.window_titles()) or launcher.poll() is not None,
                 timeout=90, what="the running server's 3 simulated players in the game's title")
        assert "others: 3" in " ".join(xserver.window_titles()), output_of(launcher)
        wait_for(lambda: not launcher_window_shown(xserver), timeout=30, what="the window to step aside")
        assert running_games(prefix)
        # The game looks at Escape once a frame: held until the launcher's window is back.
        xserver.key("Escape", True)
        try:
            wait_for(lambda: launcher_window_shown(xserver), timeout=60, what="the window back after the game")
        finally:
            xserver.key("Escape", False)
        # wine makes the window the foreground one a moment after it is back: a key before that is
        # lost, as a player's would be, who presses it again.
        wait_for(lambda: press(xserver, "Escape") or launcher.poll() is not None, timeout=60, interval=0.5,
                 what="the launcher to close on Escape")
        assert launcher.wait(timeout=60) == 0, output_of(launcher)
        assert "brassmoor-play:" not in output_of(launcher), "nothing went wrong"
        assert running_games(prefix) == []
        server.kill()
        server.wait()
        wait_for(lambda: udp_listeners(40123) == [], timeout=10, what="nothing listening on UDP 40123")
    finally:
        for process in (launcher, server):
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.mark.skipif(os.geteuid() != 0, reason="an address of the Internet's needs a network of its own (root)")
def test_installed_launcher_lists_a_game_a_list_names_over_http_with_the_game_s_own_answer(prefix):
    # 198.51.100.20 is this network's own. The Linux server bound to it hears no broadcast (a Windows one
    # would, as Windows' sockets do, and be found on the LAN): only the list leads the launcher there.
    subprocess.run(["ip", "link", "add", "bmnet0", "type", "veth", "peer", "name", "bmnet1"], check=True)
    for command in (["addr", "add", "198.51.100.20/24", "brd", "+", "dev", "bmnet0"], ["link", "set", "bmnet0", "up"]):
        subprocess.run(["ip", *command], check=True)
    listed = {"address": "198.51.100.20", "port": 40123, "name": "the list's word", "players": 9, "clients": 0,
              "bots": 9, "max_clients": 64, "version": os.environ["BRASSMOOR_VERSION"]}
    folder = tempfile.mkdtemp(prefix="brassmoor-list-")
    os.makedirs(os.path.join(folder, "v1"))
    with open(os.path.join(folder, "v1", "games"), "w") as games:
        json.dump({"games": [listed]}, games)
    stand_in = http.server.HTTPServer(("127.0.0.1", 0), functools.partial(QuietFiles, directory=folder))
    threading.Thread(target=stand_in.serve_forever, daemon=True).start()
    said = os.path.join(folder, "server.out")
    with open(said, "w") as out:
        server = subprocess.Popen([os.environ["BRASSMOOR_SERVER"], "--bind", "198.51.100.20", "--bots", "3", "--name",
                                   "Across the sea"], stdout=out)
    try:
        wait_for(lambda: "listening on" in open(said).read(), timeout=60, what="the server to start")
        listing = prefix.run(prefix.unix(INSTALL_FOLDER + "\\brassmoor-play.exe"), "--list", "--list-server",
                             f"http://127.0.0.1:{stand_in.server_port}")
        lines = listing.stdout.decode("utf-8", "replace").splitlines()
        game = (r"198\.51\.100\.20  players=3 clients=0 bots=3 max-clients=64 version=" +
                re.escape(os.environ["BRASSMOOR_VERSION"]) + r" ping=\d+ms name=Across the sea found=internet")
        assert listing.returncode == 0 and len(lines) == 1 and re.fullmatch(game, lines[0]), lines
        print("the Windows launcher's --list, the list read through WinHTTP:", lines[0])
    finally:
        server.kill()
        server.wait()
        stand_in.shutdown()
        shutil.rmtree(folder)
        subprocess.run(["ip", "link", "del", "bmnet0"], check=False)


def test_silent_uninstall_takes_away_everything_it_made(prefix):
    """Last: the installation is gone after it."""
    hosting = ["brassmoor-server.exe", "brassmoor-play.exe"]
    before = prefix.netsh_commands()
    prefix.run(prefix.unix(INSTALL_FOLDER + "\\uninstall.exe"), "/S")
    # The uninstaller returns at once and finishes from a copy of itself.
    wait_for(lambda: not os.path.exists(prefix.unix(INSTALL_FOLDER)), timeout=60, what="the folder to go")
    wait_for(lambda: not brassmoor_entries(prefix), timeout=30, interval=1, what="the uninstall entry to go")
    assert not os.path.exists(prefix.unix(MENU_FOLDER))
    assert prefix.netsh_commands() == before + [delete_rule(INSTALL_FOLDER, program) for program in hosting]
