"""brassmoor-play --host --internet behind a home router, in network namespaces: the home network
10.77.0.0/24, a router with NAT (nftables masquerade), and the "Internet" 203.0.113.0/24 with a real
brassmoor-list. Debian's miniupnpd refuses the mapping (its outside address is reserved, as behind
carrier-grade NAT); a stand-in gateway makes it, and a player outside joins through the NAT; with
nothing answering, the host is told to forward the port by hand."""
import os
import signal
import subprocess
import sys
import tempfile
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "common"))
sys.path.insert(0, os.path.join(HERE, "..", "robustness"))
from program_lines import ProgramLines  # noqa: E402
from support import VirtualX, wait_for  # noqa: E402

LAUNCHER = os.environ.get("BRASSMOOR_PLAY", "brassmoor-play")
CLIENT = os.environ.get("BRASSMOOR_CLIENT", "brassmoor")
LIST = os.environ.get("BRASSMOOR_LIST", "brassmoor-list")
DEADLINE = 20.0
SUFFIX = str(os.getpid())
HOME, ROUTER_LAN, OUTSIDE, INTERNET = "10.77.0.5", "10.77.0.1", "203.0.113.1", "203.0.113.10"
LIST_URL = f"http://{INTERNET}:8080"
# The tables miniupnpd adds its rules to, and the home network's way out.
TABLES = """table inet filter { chain miniupnpd { }; chain forward { type filter hook forward priority 0; jump miniupnpd; }; };
table inet nat { chain prerouting_miniupnpd { }; chain postrouting_miniupnpd { };
  chain prerouting { type nat hook prerouting priority -100; jump prerouting_miniupnpd; };
  chain postrouting { type nat hook postrouting priority 100; oifname "wan" masquerade; jump postrouting_miniupnpd; }; };
"""
MINIUPNPD = f"""ext_ifname=wan\nlistening_ip=lan\nhttp_port=0\nenable_natpmp=yes\nenable_upnp=yes
upnp_table_name=filter\nupnp_nat_table_name=nat\nupnp_forward_chain=miniupnpd\nupnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd\nsecure_mode=yes\nuuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b
allow 1024-65535 10.77.0.0/24 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n"""
# An outside player: poses to the router's outside address until a snapshot comes back; prints its entries.
PLAYER = f"""import socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(0.2)
for _ in range(50):
    s.sendto(b"KV01\\x01" + struct.pack("<5f", 1, 2, 1.7, 0, 0), ("{OUTSIDE}", 40123))
    try:
        data = s.recv(4096)
    except socket.timeout:
        continue
    if data[:5] == b"KV01\\x02":
        print("snapshot", struct.unpack_from("<IH", data, 5)[1]); break
"""

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")


def ns(name):
    return f"bi-{name}-{SUFFIX}"


def run(*command, given=None):
    return subprocess.run(command, input=given, check=True, capture_output=True, text=True, timeout=DEADLINE).stdout


def inside(host, *command, given=None):
    return run("ip", "netns", "exec", ns(host), *command, given=given)


@pytest.fixture(scope="module")
def internet():
    """The Internet's namespace with the list in it, and a display for the host's game."""
    xserver, folder, lists = VirtualX(), tempfile.TemporaryDirectory(), None
    run("ip", "netns", "add", ns("internet"))
    try:
        # A bridge holds the address while each test's router comes and goes.
        for command in ("link set lo up", "link add br0 type bridge", f"addr add {INTERNET}/24 dev br0", "link set br0 up"):
            run("ip", "-n", ns("internet"), *command.split())
        lists = ProgramLines(["ip", "netns", "exec", ns("internet"), LIST, "--listen", INTERNET + ":8080"], DEADLINE)
        lists.wait_for_line(r"^listening on ")
        yield xserver, folder.name, lists
    finally:
        if lists:
            lists.close()
        xserver.stop()
        folder.cleanup()
        subprocess.run(["ip", "netns", "del", ns("internet")], capture_output=True)


@pytest.fixture
def network(internet):
    """A router and a home of their own for each test: no flow the router's NAT remembers is shared."""
    try:
        for host in ("router", "home"):
            run("ip", "netns", "add", ns(host))
        for side, host, address in (("lan", "home", ROUTER_LAN), ("wan", "internet", OUTSIDE)):
            run("ip", "-n", ns("router"), "link", "add", side, "type", "veth", "peer", "ext", "netns", ns(host))
            run("ip", "-n", ns("router"), "addr", "add", address + "/24", "dev", side)
            run("ip", "-n", ns("router"), "link", "set", side, "up")
        run("ip", "-n", ns("internet"), "link", "set", "ext", "master", "br0", "up")
        for command in (f"addr add {HOME}/24 dev ext", "link set ext up", "link set lo up", f"route add default via {ROUTER_LAN}"):
            run("ip", "-n", ns("home"), *command.split())
        inside("router", "sysctl", "-q", "net.ipv4.ip_forward=1")
        inside("router", "nft", "-f", "-", given=TABLES)
        yield internet
    finally:
        for host in ("router", "home"):
            subprocess.run(["ip", "netns", "del", ns(host)], capture_output=True)


def start(network):
    """The host in its home, the game beside the launcher on PATH, its log in the test's folder."""
    xserver, folder, _ = network
    return ProgramLines(["ip", "netns", "exec", ns("home"), "env", "DISPLAY=" + xserver.name,
                         "PATH=" + os.path.dirname(os.path.abspath(CLIENT)) + ":" + os.environ["PATH"],
                         "XDG_STATE_HOME=" + folder, "XDG_CONFIG_HOME=" + folder,
                         LAUNCHER, "--host", "--internet", "--list-server", LIST_URL], DEADLINE)


def close(program):
    """Ends a program the test started; a launcher still running is stopped as a player would, so
    that its game goes with it, and killed with its children only when that fails."""
    if program is None:
        return
    if program.proc.poll() is None:
        program.proc.send_signal(signal.SIGINT)
        try:
            program.proc.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            children = subprocess.run(["pgrep", "-P", str(program.proc.pid)], capture_output=True, text=True)
            for child in children.stdout.split():
                os.kill(int(child), signal.SIGKILL)
    program.close()


def listed():
    return inside("internet", "curl", "-s", LIST_URL + "/v1/games")


def test_miniupnpd_refuses_and_the_host_reads_that_the_game_cannot_be_reached(network):
    with tempfile.TemporaryDirectory() as folder:
        conf, log = os.path.join(folder, "miniupnpd.conf"), open(os.path.join(folder, "log"), "w+")
        with open(conf, "w") as f:
            f.write(MINIUPNPD)
        router = subprocess.Popen(["ip", "netns", "exec", ns("router"), "miniupnpd", "-f", conf, "-d", "-P",
                                   os.path.join(folder, "pid")], stdout=log, stderr=subprocess.STDOUT)
        launcher = None
        try:
            wait_for(lambda: "port 5351" in open(log.name).read(), timeout=DEADLINE, what="miniupnpd to listen")
            launcher = start(network)
            refused = launcher.wait_for_line(rf"^router {ROUTER_LAN} \(UPnP\): did not forward UDP port 40123")
            assert "the game cannot be reached from the Internet" in refused and "carrier-grade NAT" in refused
            unlisted = launcher.wait_for_line(r"^list .*: not listed: ")
            assert f"at {OUTSIDE}" in unlisted and unlisted.endswith("the router has no public address of its own "
                                                                     "(carrier-grade NAT)")
            print(refused, unlisted, sep="\n")
            assert launcher.stop(signal.SIGINT) == 0
        finally:
            close(launcher)
            router.terminate()
            router.wait(timeout=DEADLINE)
            log.close()


def test_with_no_gateway_the_host_is_told_to_forward_the_port_by_hand(network):
    launcher = start(network)
    try:
        line = launcher.wait_for_line(r"^router: ")
        assert line == f"router: none answered UPnP IGD or NAT-PMP: forward UDP port 40123 to {HOME} by hand in " \
                       "your router's settings"
        unlisted = launcher.wait_for_line(r"^list .*: not listed: ")
        assert unlisted.endswith(f"no router answered UPnP or NAT-PMP: forward UDP port 40123 to {HOME} by hand")
        print(line, unlisted, sep="\n")
        assert launcher.stop(signal.SIGINT) == 0
    finally:
        close(launcher)


def test_through_a_stand_in_gateway_the_game_is_listed_joined_from_outside_and_all_undone_at_the_end(network):
    gateway = ProgramLines(["ip", "netns", "exec", ns("router"), "/usr/bin/python3", os.path.join(HERE, "stand_in_gateway.py"),
                            ROUTER_LAN, OUTSIDE, "wan"], DEADLINE)
    launcher = None
    try:
        gateway.wait_for_line(r"^answering on ")
        launcher = start(network)
        mapped = launcher.wait_for_line(r"^router .*: forwards ")
        assert mapped == (f"router {ROUTER_LAN} (UPnP): forwards UDP port 40123 to {HOME} from its outside address "
                          f"{OUTSIDE}, a lease of 1200 s renewed at half")
        assert gateway.wait_for_line(r"^mapped ") == f"mapped udp 40123 to {HOME}:40123 lease 1200"
        assert launcher.wait_for_line(r"^list ") == f"list {LIST_URL}: listed as {OUTSIDE}"
        assert f'"address":"{OUTSIDE}","port":40123' in listed()
        snapshot = inside("internet", "/usr/bin/python3", "-c", PLAYER).strip()
        assert snapshot == "snapshot 1", "the outside player sees the host's own player through the NAT"
        print(mapped, f"list {LIST_URL}: listed as {OUTSIDE}", "outside player: " + snapshot, sep="\n")

        launcher.proc.send_signal(signal.SIGINT)
        assert launcher.wait_for_line(r"^list .*: removed") == f"list {LIST_URL}: removed"
        assert launcher.wait_for_line(r"^router .*no longer") == f"router {ROUTER_LAN} (UPnP): UDP port 40123 no longer forwarded"
        assert launcher.proc.wait(timeout=DEADLINE) == 0
        assert gateway.wait_for_line(r"^unmapped ") == "unmapped udp 40123"
        assert "dnat" not in inside("router", "nft", "list", "table", "ip", "standin")
        assert '"games":[]' in listed()
    finally:
        close(launcher)
        gateway.close()
