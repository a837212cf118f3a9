"""brassmoor-play --host --internet behind a home router, in network namespaces: the home network
10.77.0.0/24, a router with NAT (nftables masquerade) and the "Internet" 203.0.113.0/24 with a real
brassmoor-list. Debian's miniupnpd refuses the mapping (its outside address is reserved, as behind
carrier-grade NAT); with nothing answering the host is told to forward the port by hand; a stand-in
gateway makes the mapping, and a player outside reaches the game through the NAT."""
import os
import signal
import subprocess
import sys
import tempfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "common"), os.path.join(HERE, "..", "robustness")]
from program_lines import ProgramLines  # noqa: E402
from support import VirtualX, wait_for  # noqa: E402

LAUNCHER = os.environ.get("BRASSMOOR_PLAY", "brassmoor-play")
CLIENT = os.environ.get("BRASSMOOR_CLIENT", "brassmoor")
LIST = os.environ.get("BRASSMOOR_LIST", "brassmoor-list")
DEADLINE = 20.0
HOME, ROUTER, OUTSIDE, INTERNET = "10.77.0.5", "10.77.0.1", "203.0.113.1", "203.0.113.10"
URL = f"http://{INTERNET}:8080"
# miniupnpd's tables (its chains filled by it alone), and the home network's way out.
TABLES = """table inet filter { chain miniupnpd { }; chain forward { type filter hook forward priority 0; jump miniupnpd; }; };
table inet nat { chain prerouting_miniupnpd { }; chain postrouting_miniupnpd { };
  chain prerouting { type nat hook prerouting priority -100; jump prerouting_miniupnpd; };
  chain postrouting { type nat hook postrouting priority 100; oifname "wan" masquerade; jump postrouting_miniupnpd; }; };"""
MINIUPNPD = """ext_ifname=wan\nlistening_ip=lan\nhttp_port=0\nenable_natpmp=yes\nupnp_table_name=filter\nupnp_nat_table_name=nat
upnp_forward_chain=miniupnpd\nupnp_nat_chain=prerouting_miniupnpd\nupnp_nat_postrouting_chain=postrouting_miniupnpd
secure_mode=yes\nuuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b\nallow 1024-65535 10.77.0.0/24 1024-65535\n"""
# A player outside: a pose to the router's outside address until a snapshot comes back.
PLAYER = f"""import socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(0.2)
for _ in range(50):
    s.sendto(b"KV01\\x01" + struct.pack("<5f", 1, 2, 1.7, 0, 0), ("{OUTSIDE}", 40123))
    try: data = s.recv(4096)
    except socket.timeout: continue
    print("snapshot of", struct.unpack_from("<IH", data, 5)[1], "others"); break"""

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")


def ns(name):
    return f"bi-{name}-{os.getpid()}"


def inside(host, *command, given=None):
    return subprocess.run(["ip", "netns", "exec", ns(host), *command], input=given, check=True, capture_output=True,
                          text=True, timeout=DEADLINE).stdout


def ip(host, *commands):
    subprocess.run(["ip", "-n", ns(host), "-batch", "-"], input="\n".join(commands) + "\n", text=True, check=True, timeout=DEADLINE)


def games():
    return inside("internet", "curl", "-s", URL + "/v1/games")


@pytest.fixture(scope="module")
def internet():
    """The Internet with the list on a bridge (its address outlives each test's router), and a display."""
    xserver, folder, started = VirtualX(), tempfile.TemporaryDirectory(), []
    subprocess.run(["ip", "netns", "add", ns("internet")], check=True)
    try:
        ip("internet", "link set lo up", "link add br0 type bridge", f"addr add {INTERNET}/24 dev br0", "link set br0 up")
        started.append(ProgramLines(["ip", "netns", "exec", ns("internet"), LIST, "--listen", INTERNET + ":8080"], DEADLINE))
        started[0].wait_for_line(r"^listening on ")
        yield xserver, folder.name
    finally:
        for program in started:
            program.close()
        xserver.stop()
        folder.cleanup()
        subprocess.run(["ip", "netns", "del", ns("internet")])


@pytest.fixture
def home(internet):
    """A router and a home of each test's own, so no flow the NAT remembers is shared; starts programs
    in them, and at the end stops a launcher as a player does (its game goes with it)."""
    started = []

    def start(host, *command):
        started.append(ProgramLines(["ip", "netns", "exec", ns(host), *command], DEADLINE))
        return started[-1]

    def host_for_the_internet():
        return start("home", "env", "DISPLAY=" + internet[0].name, f"XDG_STATE_HOME={internet[1]}",
                     "PATH=" + os.path.dirname(os.path.abspath(CLIENT)) + ":" + os.environ["PATH"],
                     LAUNCHER, "--host", "--internet", "--list-server", URL)
    try:
        for host in ("router", "home"):
            subprocess.run(["ip", "netns", "add", ns(host)], check=True)
        ip("router", f"link add lan type veth peer ext netns {ns('home')}", f"addr add {ROUTER}/24 dev lan",
           "link set lan up", f"link add wan type veth peer ext netns {ns('internet')}",
           f"addr add {OUTSIDE}/24 dev wan", "link set wan up")
        ip("internet", "link set ext master br0 up")
        ip("home", f"addr add {HOME}/24 dev ext", "link set ext up", "link set lo up", f"route add default via {ROUTER}")
        inside("router", "sysctl", "-q", "net.ipv4.ip_forward=1")
        inside("router", "nft", "-f", "-", given=TABLES)
        yield start, host_for_the_internet
    finally:
        for program in reversed(started):
            if program.proc.poll() is None:
                program.proc.send_signal(signal.SIGINT)
                program.proc.wait(timeout=DEADLINE)
            program.close()
        # The veth pair goes at once, before the next test's takes its name.
        subprocess.run(["ip", "-n", ns("internet"), "link", "del", "ext"], capture_output=True)
        for host in ("router", "home"):
            subprocess.run(["ip", "netns", "del", ns(host)])


@pytest.mark.parametrize("gateway, router_line, advice", [
    ("miniupnpd", rf"^router {ROUTER} \(UPnP\): did not forward UDP port 40123 \(UPnP error 501: Action Failed\); "
     r"it reports no outside address .* carrier-grade NAT, so the game cannot be reached from the Internet",
     "the game cannot be reached from the Internet: the router has no public address of its own (carrier-grade NAT)"),
    (None, rf"^router: none answered UPnP IGD or NAT-PMP: forward UDP port 40123 to {HOME} by hand in your router's",
     f"no router answered UPnP or NAT-PMP: forward UDP port 40123 to {HOME} by hand")])
def test_a_refusing_or_absent_router_is_said_with_what_the_host_can_do(home, internet, gateway, router_line, advice):
    start, host_for_the_internet = home
    if gateway:
        conf = os.path.join(internet[1], "miniupnpd.conf")
        with open(conf, "w") as f:
            f.write(MINIUPNPD)
        router = start("router", "sh", "-c", f"exec miniupnpd -f {conf} -d -P {conf}.pid 2>&1")
        router.wait_for_line(r"Listening for NAT-PMP")
    launcher = host_for_the_internet()
    print(launcher.wait_for_line(router_line))
    unlisted = launcher.wait_for_line(r"^list .*: not listed: ")
    assert f"no answer on UDP 40123 at {OUTSIDE}" in unlisted and unlisted.endswith("; " + advice), unlisted
    print(unlisted)
    assert launcher.stop(signal.SIGINT) == 0


def test_through_a_stand_in_gateway_the_game_is_listed_reached_from_outside_and_all_undone_at_the_end(home):
    start, host_for_the_internet = home
    gateway = start("router", "/usr/bin/python3", os.path.join(HERE, "stand_in_gateway.py"), ROUTER, OUTSIDE, "wan")
    gateway.wait_for_line(r"^answering on ")
    launcher = host_for_the_internet()
    lines = [launcher.wait_for_line(r"^router "), launcher.wait_for_line(r"^list ")]
    assert lines == [f"router {ROUTER} (UPnP): forwards UDP port 40123 to {HOME} from its outside address {OUTSIDE}, "
                     "a lease of 1200 s renewed at half", f"list {URL}: listed as {OUTSIDE}"]
    assert gateway.wait_for_line(r"^mapped ") == f"mapped udp 40123 to {HOME}:40123 lease 1200"
    # The list's page of games is read from its store once a second.
    wait_for(lambda: f'"address":"{OUTSIDE}","port":40123' in games(), timeout=DEADLINE, what="the game's entry")
    # The host's own player is the one other.
    assert inside("internet", "/usr/bin/python3", "-c", PLAYER) == "snapshot of 1 others\n"
    print(*lines, "a player outside got a snapshot through the NAT", sep="\n")

    launcher.proc.send_signal(signal.SIGINT)
    assert launcher.wait_for_line(r"^list .*: removed") == f"list {URL}: removed"
    assert launcher.wait_for_line(r"^router .*no longer") == f"router {ROUTER} (UPnP): UDP port 40123 no longer forwarded"
    assert launcher.proc.wait(timeout=DEADLINE) == 0 and gateway.wait_for_line(r"^unmapped ") == "unmapped udp 40123"
    assert "dnat" not in inside("router", "nft", "list", "table", "ip", "standin")
    wait_for(lambda: '"games":[]' in games(), timeout=DEADLINE, what="the game to leave the list")
