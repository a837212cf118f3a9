"""Black-box tests of brassmoor-play: its window joining a game and coming back after it, the practice
game, joining a running server, hosting and finding a game across a LAN by broadcast, a neighbour
flooding the list, a game across a router read from a real list server, its failures, and the start every
helper program shares.

The module moves into a network namespace of its own, so UDP 40123 here is nobody else's; the LAN
tests make two more, joined by a veth pair."""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pytest
from Xlib import X

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "robustness"))
from support import VirtualX, isolate_network, title_count, wait_for  # noqa: E402

ISOLATED = isolate_network()

LAUNCHER = os.environ.get("BRASSMOOR_PLAY", "brassmoor-play")
CLIENT = os.environ.get("BRASSMOOR_CLIENT", "brassmoor")
SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
RELAY = os.environ.get("BRASSMOOR_RELAY", "brassmoor-relay")
GAME_PORT = 40123
DEADLINE = 20.0
FOUND_LINE = re.compile(r"^(\S+)  players=(\d+) clients=(\d+) bots=(\d+) max-clients=(\d+) version=(\S+)"
                        r" ping=\d+ms name=(.+) found=(\w+)$")
WINDOW_TITLE = "Brassmoor: choose a game"

needs_isolation = pytest.mark.skipif(not ISOLATED, reason="needs a network namespace of its own (root)")


def game_env(display=None, path=None):
    """The launcher's environment: the client's folder on PATH, the given X display."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["PATH"] = path if path is not None else os.path.dirname(os.path.abspath(CLIENT)) + ":" + env["PATH"]
    if display is not None:
        env["DISPLAY"] = display
    return env


def udp_sockets_on_game_port(netns=None):
    """Sockets of this network namespace (or the named one) bound to UDP 40123, as the kernel lists them."""
    command = ["cat", "/proc/net/udp"]
    if netns:
        command = ["ip", "netns", "exec", netns] + command
    table = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    return [line for line in table.splitlines()[1:] if line.split()[1].endswith(":%04X" % GAME_PORT)]


def children_of(pid):
    """The process ids whose parent is `pid`."""
    children = []
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/children") as listed:
                children += [int(child) for child in listed.read().split()]
        except OSError:
            continue
    return children


def is_running(pid):
    """True while `pid` exists and has not ended (a zombie has ended)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class Program:
    """A program under test with its output in files, read whenever asked."""

    def __init__(self, command, env=None):
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.err)

    def _text(self, f):
        f.seek(0)
        return f.read().decode("utf-8", "replace")

    def stdout(self):
        return self._text(self.out)

    def stderr(self):
        return self._text(self.err)

    def wait(self, timeout=DEADLINE):
        return self.proc.wait(timeout=timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def started():
    programs = []

    def start(command, env=None):
        program = Program(command, env)
        programs.append(program)
        return program

    yield start
    for program in programs:
        program.kill()


@pytest.fixture
def xserver():
    server = VirtualX()
    yield server
    server.stop()


def wait_for_others(xserver, count):
    wait_for(lambda: title_count(xserver.title()) == count, timeout=DEADLINE, what=f"others: {count}")


def end_game_with_escape(xserver, launcher):
    xserver.key("Escape", True)
    try:
        return launcher.wait()
    finally:
        xserver.key("Escape", False)


def launcher_window_shown(xserver, focused=False):
    """True while the launcher's window is mapped on the screen (it is hidden while a game runs),
    and with `focused` when it has the keyboard too."""
    for window in xserver.connection.screen().root.query_tree().children:
        try:
            if window.get_wm_name() == WINDOW_TITLE:
                shown = window.get_attributes().map_state == X.IsViewable
                return shown and (not focused or xserver.connection.get_input_focus().focus.id == window.id)
        except Exception:  # the window may go away between the calls
            continue
    return False


@needs_isolation
def test_the_window_joins_with_enter_hides_while_the_game_runs_and_closes_with_escape(xserver, started, tmp_path):
    server = started([SERVER, "--bind", "127.0.0.1", "--bots", "3", "--name", "Hall \u202eof\u200b ten"])
    wait_for(lambda: udp_sockets_on_game_port(), timeout=DEADLINE, what="the server to listen")
    env = game_env(xserver.name)
    env.update(XDG_CONFIG_HOME=str(tmp_path / "config"), XDG_STATE_HOME=str(tmp_path / "state"))
    launcher = started([LAUNCHER], env)
    wait_for(lambda: launcher_window_shown(xserver), timeout=DEADLINE, what="the launcher's window")
    assert not any("others:" in title for title in xserver.window_titles())
    # Its console hears of the game once it is in the list, selected as the busiest; the name's
    # invisible reordering marks were left out where it was read.
    wait_for(lambda: "found 127.0.0.1" in launcher.stdout(), timeout=DEADLINE, what="the game in the list")
    assert re.search(r"^found 127\.0\.0\.1  players=3 .* name=Hall of ten found=local$", launcher.stdout(), re.M)
    xserver.key("Return", True)
    xserver.key("Return", False)
    wait_for(lambda: any(title_count(title) == 3 for title in xserver.window_titles()), timeout=DEADLINE,
             what="others: 3")
    assert not launcher_window_shown(xserver)
    games = children_of(launcher.proc.pid)
    # The game looks at Escape once a frame: held until the launcher's window is back.
    xserver.key("Escape", True)
    try:
        wait_for(lambda: launcher_window_shown(xserver, focused=True), timeout=DEADLINE,
                 what="the window to come back with the keyboard")
    finally:
        xserver.key("Escape", False)
    assert not any(is_running(game) for game in games)
    xserver.key("Escape", True)
    xserver.key("Escape", False)
    assert launcher.wait() == 0
    assert launcher.stderr() == "" and not (tmp_path / "state").exists(), "nothing went wrong, nothing logged"
    assert [line.split()[1] for line in udp_sockets_on_game_port()] == ["0100007F:%04X" % GAME_PORT]
    assert server.proc.poll() is None


@needs_isolation
def test_practice_game_when_no_server_is_found_and_nothing_left_after_escape(xserver, started):
    launcher = started([LAUNCHER, "--quick"], game_env(xserver.name))
    wait_for_others(xserver, 6)
    assert "starting a practice game against 6 simulated players" in launcher.stdout()
    assert "connecting to 127.0.0.1:40123\n" in launcher.stdout()
    # Nobody else can join a practice game: it listens on loopback alone.
    bound = udp_sockets_on_game_port()
    assert len(bound) == 1 and bound[0].split()[1] == "0100007F:%04X" % GAME_PORT
    assert end_game_with_escape(xserver, launcher) == 0
    assert udp_sockets_on_game_port() == []
    assert launcher.stderr() == ""


@needs_isolation
def test_sigterm_mid_game_ends_the_game_and_its_server(xserver, started):
    launcher = started([LAUNCHER, "--quick"], game_env(xserver.name))
    wait_for_others(xserver, 6)
    games = children_of(launcher.proc.pid)
    assert len(games) == 1, games
    launcher.proc.send_signal(signal.SIGTERM)
    assert launcher.wait() == 0
    assert "stopping on signal 15" in launcher.stdout()
    assert udp_sockets_on_game_port() == []
    wait_for(lambda: xserver.title() is None, timeout=DEADLINE, what="the game window to close")
    assert not is_running(games[0]), "the game outlived the launcher"


@needs_isolation
def test_a_running_server_is_listed_and_joined(xserver, started):
    # The name as set, sanitised: the control characters and the bidi override go, the spaces close up.
    server = started([SERVER, "--bind", "127.0.0.1", "--bots", "3", "--name", " Caf\u00e9\x1b[2J \u202e\t 3 "])
    wait_for(lambda: udp_sockets_on_game_port(), timeout=DEADLINE, what="the server to listen")

    listed = subprocess.run([LAUNCHER, "--list"], capture_output=True, text=True, timeout=DEADLINE)
    assert listed.returncode == 0, listed.stderr
    lines = listed.stdout.splitlines()
    assert len(lines) == 1, lines
    address, players, clients, bots, cap, version, name, found = FOUND_LINE.match(lines[0]).groups()
    assert (address, players, clients, bots, cap, name, found) == ("127.0.0.1", "3", "0", "3", "64", "Caf\u00e9[2J 3", "local")
    if "BRASSMOOR_VERSION" in os.environ:
        assert version == os.environ["BRASSMOOR_VERSION"]

    launcher = started([LAUNCHER, "--quick"], game_env(xserver.name))
    wait_for_others(xserver, 3)
    assert launcher.stdout().startswith("joining 127.0.0.1  players=3 ")
    assert end_game_with_escape(xserver, launcher) == 0
    # The launcher's game was a client of that server, which goes on.
    assert server.proc.poll() is None


@needs_isolation
def test_list_says_so_when_no_game_answers():
    listed = subprocess.run([LAUNCHER, "--list"], capture_output=True, text=True, timeout=DEADLINE)
    assert listed.returncode == 0
    assert listed.stdout == "no Brassmoor game answered on this computer or the local networks\n"


@needs_isolation
def test_a_port_taken_by_something_else_is_one_line_logged_and_shown_on_the_desktop(xserver, started, tmp_path):
    squatter = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    squatter.bind(("127.0.0.1", GAME_PORT))
    env = game_env(xserver.name)
    env["XDG_STATE_HOME"] = str(tmp_path)
    try:
        # Its standard error is a file nobody watches, as from the menu's Quick play: a message box says it too.
        launcher = started([LAUNCHER, "--quick"], env)
        wait_for(lambda: xserver.title() == "Brassmoor", timeout=DEADLINE, what="the message box")
        for box in children_of(launcher.proc.pid):
            os.kill(box, signal.SIGTERM)
        assert launcher.wait() == 1
    finally:
        squatter.close()
    why = "cannot start a practice game on UDP port 40123 (cannot listen on 127.0.0.1:40123: "
    assert len(launcher.stderr().splitlines()) == 1 and launcher.stderr().startswith("brassmoor-play: " + why)
    assert why in (tmp_path / "brassmoor" / "brassmoor-play.log").read_text()
    assert [title for title in xserver.window_titles() if "others:" in title] == []


@pytest.mark.parametrize("address", ["1.2.3", "300.1.1.1", "localhost"])
def test_a_bad_address_is_one_line_and_no_game(address, xserver):
    done = subprocess.run([LAUNCHER, address], env=game_env(xserver.name), capture_output=True, text=True,
                          timeout=DEADLINE)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr == (f"brassmoor-play: '{address}' is not an IPv4 address such as 192.168.1.20 "
                           "(see 'brassmoor-play --help')\n")
    assert xserver.title() is None


@needs_isolation
def test_no_game_program_is_one_line_and_no_server_is_started(tmp_path):
    lonely = tmp_path / "brassmoor-play"
    shutil.copy(LAUNCHER, lonely)
    done = subprocess.run([str(lonely), "--quick"], env=game_env(path=str(tmp_path / "nowhere")), capture_output=True,
                          text=True, timeout=DEADLINE)
    assert done.returncode == 1
    assert done.stderr == "brassmoor-play: cannot find the game program (brassmoor) beside this program or on PATH\n"
    assert udp_sockets_on_game_port() == []


@needs_isolation
def test_the_game_is_found_beside_the_launcher_and_a_named_server_is_joined(tmp_path, xserver, started):
    # Beside it wins over PATH; PATH here leads nowhere.
    shutil.copy(LAUNCHER, tmp_path / "brassmoor-play")
    shutil.copy(CLIENT, tmp_path / "brassmoor")
    started([SERVER, "--bind", "127.0.0.1", "--bots", "2"])
    wait_for(lambda: udp_sockets_on_game_port(), timeout=DEADLINE, what="the server to listen")
    launcher = started([str(tmp_path / "brassmoor-play"), "127.0.0.1"],
                       game_env(xserver.name, path=str(tmp_path / "nowhere")))
    wait_for_others(xserver, 2)
    assert xserver.title().startswith("Brassmoor  |  127.0.0.1  |  others: 2")
    # No search and no server of its own: only the game's line.
    assert launcher.stdout() == "connecting to 127.0.0.1:40123\n"
    assert end_game_with_escape(xserver, launcher) == 0


# Across a LAN: two namespaces joined by a veth pair, a host in one, a player listing in the other.

def ip(*args):
    subprocess.run(["ip", *args], check=True, capture_output=True)


@pytest.fixture
def lan():
    suffix = str(os.getpid())
    host, player = "bm-host-" + suffix, "bm-player-" + suffix
    ip("netns", "add", host)
    ip("netns", "add", player)
    try:
        ip("link", "add", "bmh" + suffix, "netns", host, "type", "veth", "peer", "name", "bmp" + suffix,
           "netns", player)
        for netns, device, address in ((host, "bmh", "10.231.7.1/24"), (player, "bmp", "10.231.7.2/24")):
            ip("-n", netns, "addr", "add", address, "broadcast", "10.231.7.255", "dev", device + suffix)
            ip("-n", netns, "link", "set", device + suffix, "up")
            ip("-n", netns, "link", "set", "lo", "up")
        yield host, player
    finally:
        ip("netns", "del", host)
        ip("netns", "del", player)


@pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")
def test_a_hosted_lan_game_is_found_by_broadcast_from_another_machine(lan, xserver, started):
    host, player = lan
    hosting = started(["ip", "netns", "exec", host, LAUNCHER, "--host", "--bots", "2", "--name", "Upstairs"],
                      game_env(xserver.name))
    # The host's own game makes the third player.
    wait_for_others(xserver, 2)
    assert "other players run 'brassmoor-play' (it finds this game) or join one of these addresses: 10.231.7.1" \
        in hosting.stdout()
    assert [line.split()[1] for line in udp_sockets_on_game_port(host)] == ["00000000:%04X" % GAME_PORT]

    listed = subprocess.run(["ip", "netns", "exec", player, LAUNCHER, "--list"], capture_output=True, text=True,
                            timeout=DEADLINE)
    assert listed.returncode == 0, listed.stderr
    lines = listed.stdout.splitlines()
    assert len(lines) == 1, lines
    address, players, clients, bots, _cap, _version, name, found = FOUND_LINE.match(lines[0]).groups()
    assert (address, players, clients, bots, name, found) == ("10.231.7.1", "3", "1", "2", "Upstairs", "lan")

    hosting.proc.send_signal(signal.SIGINT)
    assert hosting.wait() == 0
    assert udp_sockets_on_game_port(host) == []


@pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")
def test_a_window_opened_before_its_network_came_up_finds_the_lan_game_once_it_has(lan, xserver, started, tmp_path):
    host, player = lan
    device = "bmp" + str(os.getpid())
    ip("-n", player, "addr", "flush", "dev", device)
    env = dict(game_env(xserver.name), XDG_CONFIG_HOME=str(tmp_path / "c"), XDG_STATE_HOME=str(tmp_path / "s"))
    launcher = started(["ip", "netns", "exec", player, LAUNCHER], env)
    # Once its search's socket is open, targets worked out once would be this computer's alone.
    udp = ["ip", "netns", "exec", player, "cat", "/proc/net/udp"]
    wait_for(lambda: len(subprocess.run(udp, capture_output=True, text=True).stdout.splitlines()) > 1,
             timeout=DEADLINE, what="its search")
    ip("-n", player, "addr", "add", "10.231.7.2/24", "broadcast", "10.231.7.255", "dev", device)
    started(["ip", "netns", "exec", host, SERVER, "--bots", "1", "--name", "Late"])
    wait_for(lambda: re.search(r"^found 10\.231\.7\.1  .* name=Late found=lan$", launcher.stdout(), re.M), timeout=DEADLINE,
             what="the LAN game found by broadcast")
    launcher.proc.send_signal(signal.SIGTERM)
    assert launcher.wait() == 0


# A neighbour answering every query with made-up servers, each a new instance, 10 000 a second to the
# asker; it prints how many it has sent.
FLOODER = """
import socket, struct, time
out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
out.bind(("", 40123))
out.setblocking(False)
print("ready", flush=True)
asker, sent, start = None, 0, 0.0
while True:
    try:
        while asker and sent < (time.monotonic() - start) * 10000:
            sent += 1
            out.sendto(struct.pack("<4sBIIHHHHBBB", b"KV01", 4, nonce, sent, 1, 0, 1, 64, 0, 4, 0), asker)
        query, source = out.recvfrom(2048)
        if query[:5] == b"KV01\\x03" and len(query) >= 24:
            asker, nonce, start = source, struct.unpack_from("<I", query, 5)[0], start or time.monotonic()
    except OSError:  # nothing to read, or for once no room to send
        print(sent, flush=True)
        time.sleep(0.002)
"""


@pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")
def test_a_flood_of_answers_from_the_lan_is_capped_and_the_list_ends_on_time(lan, started, capsys):
    host, player = lan
    flooder = started(["ip", "netns", "exec", host, sys.executable, "-c", FLOODER])
    wait_for(lambda: "ready" in flooder.stdout(), timeout=DEADLINE, what="the flooder")
    started(["ip", "netns", "exec", player, SERVER, "--bind", "127.0.0.1", "--bots", "1", "--name", "Home"])
    wait_for(lambda: udp_sockets_on_game_port(player), timeout=DEADLINE, what="the server to listen")
    began = time.monotonic()
    listed = subprocess.run(["ip", "netns", "exec", player, LAUNCHER, "--list"], capture_output=True, text=True,
                            timeout=DEADLINE)
    took, lines = time.monotonic() - began, listed.stdout.splitlines()
    flooded = [line for line in lines if line.startswith("10.231.7.1  ")]
    with capsys.disabled():
        print(f"\n--list under the flood ({flooder.stdout().split()[-1]} answers sent): {took:.2f} s, "
              f"{len(lines)} rows, {len(flooded)} from the flooder")
    assert listed.returncode == 0, listed.stderr
    assert took < 5.0, "it listens for 1 s"
    assert 1 <= len(flooded) <= 4, lines
    assert any(line.startswith("127.0.0.1  ") and line.endswith(" name=Home found=local") for line in lines), lines


# Across the Internet: a router between the 198.51.100.0/24 side, a list server on a real Redis and
# a public game announcing itself to it, and the player on 203.0.113.0/24.

LIST = os.environ.get("BRASSMOOR_LIST", "brassmoor-list")
LIST_URL = "http://198.51.100.10:8080"
INTERNET_GAME = (r"198\.51\.100\.20  players=3 clients=0 bots=3 max-clients=64 version=\S+ ping=\d+ms "
                 r"name=Across the sea found=internet")


@pytest.fixture
def internet(started, tmp_path):
    names = {role: f"bm-{role}-{os.getpid()}" for role in ("router", "lists", "public", "player")}
    hosts = {"lists": "198.51.100.10", "public": "198.51.100.20", "player": "203.0.113.50"}
    try:
        ip("netns", "add", names["router"])
        ip("netns", "exec", names["router"], "sysctl", "-q", "net.ipv4.ip_forward=1")
        for bridge, gateway in (("brp", "198.51.100.1/24"), ("brw", "203.0.113.1/24")):
            ip("-n", names["router"], "link", "add", bridge, "type", "bridge")
            ip("-n", names["router"], "addr", "add", gateway, "dev", bridge)
            ip("-n", names["router"], "link", "set", bridge, "up")
        for role, address in hosts.items():
            ip("netns", "add", names[role])
            ip("-n", names["router"], "link", "add", "v" + role, "type", "veth", "peer", "eth0", "netns", names[role])
            ip("-n", names["router"], "link", "set", "v" + role, "master", "brp" if role != "player" else "brw", "up")
            for step in (["addr", "add", address + "/24", "brd", "+", "dev", "eth0"], ["link", "set", "eth0", "up"],
                         ["link", "set", "lo", "up"], ["route", "add", "default", "via", address.rsplit(".", 1)[0] + ".1"]):
                ip("-n", names[role], *step)
        redis = str(tmp_path / "redis.sock")
        started(["ip", "netns", "exec", names["lists"], "redis-server", "--port", "0", "--unixsocket", redis, "--save", "",
                 "--dir", str(tmp_path)])
        wait_for(lambda: os.path.exists(redis), timeout=DEADLINE, what="Redis's socket")
        listing = started(["ip", "netns", "exec", names["lists"], LIST, "--listen", "198.51.100.10:8080", "--redis",
                           "unix:" + redis])
        wait_for(lambda: "listening on" in listing.stdout(), timeout=DEADLINE, what="the list to listen")
        game = started(["ip", "netns", "exec", names["public"], SERVER, "--bots", "3", "--name", "Across the sea",
                        "--list-server", LIST_URL])
        wait_for(lambda: "listed as 198.51.100.20" in game.stdout(), timeout=DEADLINE, what="the game listed")
        # The list serves what it last read from its store, read again within a second of a listing.
        games = ["ip", "netns", "exec", names["lists"], "curl", "-s", LIST_URL + "/v1/games"]
        wait_for(lambda: '"198.51.100.20"' in subprocess.run(games, capture_output=True, text=True).stdout,
                 timeout=DEADLINE, what="the game in the list's answer")
        yield names["player"]
    finally:
        for name in names.values():
            subprocess.run(["ip", "netns", "del", name], capture_output=True)


@pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")
def test_a_listed_game_across_a_router_is_listed_with_its_ping_and_the_window_joins_it(internet, xserver, started,
                                                                                      tmp_path, capsys):
    listed = subprocess.run(["ip", "netns", "exec", internet, LAUNCHER, "--list", "--list-server", LIST_URL],
                            capture_output=True, text=True, timeout=DEADLINE)
    assert listed.returncode == 0 and listed.stderr == "", listed.stderr
    assert re.fullmatch(INTERNET_GAME + "\n", listed.stdout), listed.stdout
    with capsys.disabled():
        print("\n--list across the router:", listed.stdout.strip())

    env = dict(game_env(xserver.name), XDG_CONFIG_HOME=str(tmp_path / "c"), XDG_STATE_HOME=str(tmp_path / "s"))
    launcher = started(["ip", "netns", "exec", internet, LAUNCHER, "--list-server", LIST_URL], env)
    wait_for(lambda: launcher_window_shown(xserver), timeout=DEADLINE, what="the launcher's window")
    wait_for(lambda: re.search("^found " + INTERNET_GAME + "$", launcher.stdout(), re.M), timeout=DEADLINE,
             what="the listed game's answer in the window's list")
    xserver.key("Return", True)
    xserver.key("Return", False)
    wait_for(lambda: any(title_count(title) == 3 for title in xserver.window_titles()), timeout=DEADLINE,
             what="others: 3 in the game's title")
    assert "joining 198.51.100.20  players=3 " in launcher.stdout()
    xserver.key("Escape", True)
    try:
        wait_for(lambda: launcher_window_shown(xserver, focused=True), timeout=DEADLINE, what="the window back")
    finally:
        xserver.key("Escape", False)
    xserver.key("Escape", True)
    xserver.key("Escape", False)
    assert launcher.wait() == 0
    assert launcher.stderr() == "", "nothing went wrong"


# Every helper program starts the same way.

@pytest.mark.parametrize("program,name", [(SERVER, "brassmoor-server"), (RELAY, "brassmoor-relay"),
                                          (LAUNCHER, "brassmoor-play")])
def test_help_version_and_a_bad_option_are_answered_alike(program, name):
    helped = subprocess.run([program, "--nonsense", "--help"], capture_output=True, text=True, timeout=DEADLINE)
    assert helped.returncode == 0 and helped.stdout.startswith(f"Usage: {name}") and helped.stderr == ""
    versioned = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=DEADLINE)
    assert versioned.returncode == 0 and re.fullmatch(rf"{name} \d+\.\d+\.\d+\n", versioned.stdout)
    if "BRASSMOOR_VERSION" in os.environ:
        assert versioned.stdout == f"{name} {os.environ['BRASSMOOR_VERSION']}\n"
    wrong = subprocess.run([program, "--nonsense"], capture_output=True, text=True, timeout=DEADLINE)
    assert wrong.returncode == 2 and wrong.stdout == ""
    assert wrong.stderr == f"{name}: unknown option '--nonsense' (see '{name} --help')\n"
