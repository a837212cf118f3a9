"""brassmoor-list end to end in network namespaces: two list instances sharing a real Redis on
203.0.113.0/24, game servers announcing themselves (--list-server) and a front on 198.51.100.0/24, a
router between them."""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from program_lines import ProgramLines  # noqa: E402

LIST = os.environ.get("BRASSMOOR_LIST", "brassmoor-list")
SERVER = os.environ.get("BRASSMOOR_SERVER", "brassmoor-server")
DEADLINE = 20.0
TTL, RECHECK = 3, 1
NAME = "Friday <LAN> & co"
SUFFIX = str(os.getpid())
HOSTS = {"lists": "203.0.113.10", "public": "198.51.100.20", "blocked": "198.51.100.30", "front": "198.51.100.40"}
LIST_A, LIST_B = "http://203.0.113.10:8080", "http://203.0.113.11:8080"
LISTED = r": listed as 198\.51\.100\.20$"  # a public server's line, from the list it announces to

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="making network namespaces needs root")


def ns(name):
    return f"bl-{name}-{SUFFIX}"


def run(*command, given=None):
    return subprocess.run(command, input=given, check=True, capture_output=True, text=True, timeout=DEADLINE * 3).stdout


def inside(host, *command):
    return run("ip", "netns", "exec", ns(host), *command)


def batch(netns, *commands):
    run("ip", "-n", netns, "-batch", "-", given="\n".join(commands) + "\n")


def http(host, method, url, body="", forwarded=""):
    """One request from inside a namespace, as a game server there would make it: (status, JSON or text)."""
    out = inside(host, "curl", "-s", "-w", "\n%{http_code}", "-X", method, "-d", body,
              *(["-H", "X-Forwarded-For: " + forwarded] if forwarded else []), url)
    text, status = out.rsplit("\n", 1)
    return int(status), json.loads(text) if text.startswith("{") else text


def listed(url):
    return {game["address"]: game for game in http("front", "GET", url + "/v1/games")[1]["games"]}


def udp_packets_in(host):
    """Datagrams to UDP 40123 the host's firewall counted (its one INPUT rule)."""
    return int(inside(host, "iptables", "-L", "INPUT", "-v", "-x", "-n").splitlines()[2].split()[0])


def until(condition, what, seconds=DEADLINE):
    end = time.monotonic() + seconds
    while not (value := condition()):
        assert time.monotonic() < end, f"timed out waiting for {what}"
        time.sleep(0.05)
    return value


def start_server(internet, host, url):
    """A game server in the host's namespace announcing itself to the list at `url`, once that list has let
    go of the address (its announcement would share a recheck still waiting on the game before)."""
    until(lambda: HOSTS[host] not in listed(url) and not metric(url, "brassmoor_list_checks_in_flight"), "no check")
    internet.append(ProgramLines(["ip", "netns", "exec", ns(host), SERVER, "--name", NAME, "--bots", "3",
                                  "--list-server", url], DEADLINE))
    return internet[-1]


def metric(url, name):
    lines = http("front", "GET", url + "/metrics")[1].splitlines()
    return sum(float(line.split()[-1]) for line in lines if line.startswith(name))


@pytest.fixture(scope="module")
def internet():
    """A router with a bridge per side; each host a namespace on its side with a default route through it."""
    started, folder = [], tempfile.TemporaryDirectory()
    try:
        run("ip", "netns", "add", ns("router"))
        run("ip", "netns", "exec", ns("router"), "sysctl", "-q", "net.ipv4.ip_forward=1")
        for side, gateway in (("l", "203.0.113.1/24"), ("p", "198.51.100.1/24")):
            batch(ns("router"), f"link add br{side} type bridge", f"addr add {gateway} dev br{side}", f"link set br{side} up")
        for host, address in HOSTS.items():
            side = "l" if address.startswith("203") else "p"
            run("ip", "netns", "add", ns(host))
            batch(ns("router"), f"link add v{host} type veth peer eth0 netns {ns(host)}", f"link set v{host} master br{side} up")
            batch(ns(host), f"addr add {address}/24 dev eth0", "link set eth0 up", "link set lo up",
                  f"route add default via {address.rsplit('.', 1)[0]}.1")
        batch(ns("lists"), "addr add 203.0.113.11/24 dev eth0")
        for host, verdict in (("blocked", "DROP"), ("front", "ACCEPT")):
            inside(host, "iptables", "-A", "INPUT", "-p", "udp", "--dport", "40123", "-j", verdict)
        socket = os.path.join(folder.name, "redis.sock")
        started.append(ProgramLines(["ip", "netns", "exec", ns("lists"), "redis-server", "--port", "6390", "--bind",
                                     "127.0.0.1", "--unixsocket", socket, "--save", "", "--dir", folder.name], DEADLINE))
        until(lambda: os.path.exists(socket), "Redis's socket")
        # A trusts a front on its own host only; B trusts 198.51.100.40's X-Forwarded-For.
        for address, store, proxy in (("203.0.113.10", "unix:" + socket, "127.0.0.1"),
                                      ("203.0.113.11", "redis://127.0.0.1:6390", HOSTS["front"])):
            started.append(ProgramLines(["ip", "netns", "exec", ns("lists"), LIST, "--listen", address + ":8080",
                                         "--redis", store, "--ttl", str(TTL), "--recheck", str(RECHECK),
                                         "--trusted-proxy", proxy], DEADLINE))
            started[-1].wait_for_line(r"^listening on http://%s:8080 \(games kept in Redis" % address)
        for host in ("public", "blocked"):
            start_server(started, host, LIST_A).wait_for_line(r"^listening on 0\.0\.0\.0:40123")
        yield started
    finally:
        for program in reversed(started):
            program.close()
        for host in list(HOSTS) + ["router"]:
            subprocess.run(["ip", "netns", "del", ns(host)], capture_output=True)
        folder.cleanup()


def test_listed_by_both_instances_never_when_blocked_and_a_forged_address_gets_no_datagram(internet):
    internet[3].wait_for_line(LISTED)
    game = until(lambda: listed(LIST_B).get(HOSTS["public"]), "instance B to list the game")
    until(lambda: listed(LIST_A).get(HOSTS["public"]) == game, "instance A to list it alike")
    assert game == {"address": HOSTS["public"], "port": 40123, "name": NAME, "players": 3, "clients": 0, "bots": 3,
                    "max_clients": 64, "version": game["version"]}
    print(f"listed as {game['address']}:{game['port']} by both instances: {game['name']!r}, "
          f"{game['players']} players of {game['max_clients']}")

    line = internet[4].wait_for_line(r"^list http://203\.0\.113\.10:8080: not listed: ")
    assert "no answer on UDP 40123 at 198.51.100.30 within 2 s" in line
    # Stopped before it tries again: the one query it drew stays the only one.
    assert internet[4].stop() == 0 and udp_packets_in("blocked") == 1, "the query reached it, and was dropped"
    assert HOSTS["blocked"] not in listed(LIST_A) and HOSTS["blocked"] not in listed(LIST_B)
    print("the blocked server says:", line)

    status, reply = http("front", "POST", LIST_A + "/v1/announce", "{}", forwarded=HOSTS["blocked"])
    assert status == 422 and "at 198.51.100.40 within" in reply["reason"], reply
    assert (udp_packets_in("blocked"), udp_packets_in("front")) == (1, 1)
    print(f"forged X-Forwarded-For {HOSTS['blocked']} from the untrusted 198.51.100.40: its one query went to "
          "198.51.100.40 itself, none more to 198.51.100.30")

    forwarded = "203.0.113.99, " + HOSTS["public"]
    status, reply = http("front", "POST", LIST_B + "/v1/announce", "{}", forwarded=forwarded)
    assert status == 200 and reply["address"] == HOSTS["public"] and udp_packets_in("front") == 1, reply
    print(f"through B's trusted proxy 198.51.100.40 with X-Forwarded-For '{forwarded}': listed {reply['address']}")

    with tempfile.TemporaryDirectory() as profile:
        page = inside("front", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                   "--user-data-dir=" + profile, "--dump-dom", LIST_A + "/")
    assert '<td class="name">Friday &lt;LAN&gt; &amp; co</td>' in page and "3 of 64" in page and "<lan>" not in page
    print("Chromium shows:", [line for line in page.splitlines() if "Friday" in line])
    text = http("front", "GET", LIST_A + "/metrics")[1]
    lint = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
    assert lint.returncode == 0 and "brassmoor_list_games 1\n" in text, lint.stdout + lint.stderr

    def healthy(status):
        return all(http("front", "GET", url + "/healthz")[0] == status for url in (LIST_A, LIST_B))

    internet[0].proc.send_signal(signal.SIGSTOP)  # Redis stops answering, its data kept
    try:
        until(lambda: healthy(503), "both instances to find the store gone")
        assert HOSTS["public"] in listed(LIST_A) and HOSTS["public"] in listed(LIST_B), "the list last read is served"
    finally:
        internet[0].proc.send_signal(signal.SIGCONT)
    until(lambda: healthy(200), "both instances to reach the store again")
    for program in internet[1:3]:
        print(program.wait_for_line(r"^store: lost "), "/", program.wait_for_line(r"^store: .* reached again$"))


def test_rechecks_keep_a_game_once_between_instances_a_stopped_one_leaves_at_once_a_killed_one_later(internet):
    # The store was frozen past --ttl before: a server started afresh announces at once, to B this time
    # (each list limits an address's requests).
    assert internet[3].stop() == 0
    public = start_server(internet, "public", LIST_B)
    public.wait_for_line(LISTED)
    def sent():
        return sum(metric(url, 'brassmoor_list_checks_sent_total{kind="recheck"}') for url in (LIST_A, LIST_B))

    start, before = time.monotonic(), sent()
    until(lambda: sent() >= before + 6, "six rechecks")
    elapsed, count = time.monotonic() - start, sent() - before
    assert count <= 1.25 * elapsed / RECHECK + 1, "each recheck is sent by one instance, not by both"
    assert HOSTS["public"] in listed(LIST_A), "answered rechecks keep the game past its first --ttl"
    print(f"rechecks: {count:.0f} sent by the two instances together in {elapsed:.1f} s (--recheck 1)")

    assert public.stop() == 0 and public.wait_for_line(r"^list http://203\.0\.113\.11:8080: removed$")
    assert HOSTS["public"] not in listed(LIST_B), "gone from the instance asked at once"
    start = time.monotonic()
    until(lambda: HOSTS["public"] not in listed(LIST_A), "the other instance to drop it")
    print(f"stopped, so withdrawn: gone from B at once, from A after {time.monotonic() - start:.1f} s")

    start_server(internet, "public", LIST_A).wait_for_line(LISTED)
    until(lambda: all(HOSTS["public"] in listed(url) for url in (LIST_A, LIST_B)), "both to list it again")
    internet[-1].proc.kill()
    killed = time.monotonic()
    gone = {}
    for name, url in (("A", LIST_A), ("B", LIST_B)):
        until(lambda: HOSTS["public"] not in listed(url), f"{name} to drop the killed game", TTL + RECHECK + 5)
        gone[name] = time.monotonic() - killed
    print(f"killed: gone from A after {gone['A']:.1f} s, from B after {gone['B']:.1f} s "
          f"(--ttl {TTL} + --recheck {RECHECK} = {TTL + RECHECK} s)")
    # An entry expires --ttl after the last answer (at most --recheck before the kill); each list reads the
    # store every second; half a second more for a loaded machine.
    assert max(gone.values()) <= TTL + RECHECK + 1.5
    for program in internet[1:3]:
        assert program.stop() == 0 and program.wait_for_line(r"^stopping on signal 15$")
