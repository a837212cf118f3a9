"""brassmoor-server as a service under a real systemd, in a throwaway container booted from this
machine's root: installed with apt but not running, enabled and started with options of the host's
choosing, run as an unprivileged user, played against by the real client from outside, logged to the
journal, restarted after a crash, stopped cleanly, and gone without a trace after a purge. Also an
instance of the template beside it, the list service checking and listing the server that announces
itself to it, and removal stopping all three."""

import json
import os
import re
import shutil
import tempfile
import urllib.request

import pytest

from install_support import CLIENT_DEB, SERVER_DEB, Unpacked, play_until_others, require_packages, wait_for
from systemd_container import SystemdContainer

UNIT = "brassmoor-server.service"
INSTANCE = "brassmoor-server@second.service"
OPTIONS_FILE = "/etc/default/brassmoor-server"
LIST_UNIT = "brassmoor-list.service"
# systemd hands out dynamic users from this range of ids.
DYNAMIC_UIDS = range(61184, 65520)


@pytest.fixture(scope="module")
def container():
    require_packages()
    shared = tempfile.mkdtemp(prefix="brassmoor-container-share-")
    shutil.copy(SERVER_DEB, shared)
    os.chmod(shared, 0o755)
    box = SystemdContainer(shared)
    try:
        yield box
    finally:
        box.stop()
        shutil.rmtree(shared)


@pytest.fixture(scope="module")
def client_program():
    """The client exactly as the player's package ships it, run from this side of the container."""
    require_packages()
    unpacked = Unpacked(CLIENT_DEB)
    yield unpacked.path("/usr/games/brassmoor")
    unpacked.cleanup()


def apt(container, *args):
    return container.run("env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "-y", "-q", "--no-install-recommends",
                         *args, timeout=300)


def unit_property(container, unit, name):
    return container.run("systemctl", "show", "-P", name, unit).stdout.strip()


def journal(container, unit, server_only=False):
    """journalctl -u UNIT as a host reads it, or only the server's own lines (systemd's notes on the
    unit may fall between two of them)."""
    match = [f"_SYSTEMD_UNIT={unit}"] if server_only else ["-u", unit]
    return container.run("journalctl", "--no-pager", "-o", "cat", *match, check=False).stdout


def wait_for_active(container, unit, after_pid=None):
    """Waits until the unit runs a main process (another one than after_pid); returns its pid."""
    def running_pid():
        if unit_property(container, unit, "ActiveState") != "active":
            return None
        pid = int(unit_property(container, unit, "MainPID") or 0)
        return pid if pid not in (0, after_pid) else None
    return wait_for(running_pid, timeout=30, interval=0.1, what=f"{unit} to run")


def process_uid(container, pid):
    status = container.run("cat", f"/proc/{pid}/status").stdout
    return int(re.search(r"^Uid:\s+(\d+)", status, re.MULTILINE).group(1))


def test_service_installs_idle_runs_sandboxed_and_purges_clean(container, client_program):
    try:
        exercise_service(container, client_program)
    except BaseException:
        # What systemd, apt and the server said, for whoever reads the failure.
        print(container.run("journalctl", "--no-pager", "-n", "300", check=False).stdout)
        raise


def exercise_service(container, client_program):
    # A host as installed has no policy-rc.d; an image made for containers may have one that forbids
    # the maintainer scripts every start and stop (as this machine's does), so the container drops it.
    container.run("rm", "-f", "/usr/sbin/policy-rc.d")
    # Rebuilding the manual pages' index after each apt-get run takes half its time, and this test
    # reads no manual page.
    container.run("rm", "-f", "/var/lib/man-db/auto-update")
    if container.run("dpkg-query", "-W", "brassmoor-server", check=False).returncode == 0:
        apt(container, "purge", "brassmoor-server")  # this machine's copy, in the container only
    apt(container, "install", f"/opt/x/{os.path.basename(SERVER_DEB)}")

    # Installed, not enabled, not started.
    for unit in (UNIT, LIST_UNIT):
        assert container.run("systemctl", "is-enabled", unit, check=False).stdout.strip() == "disabled"
        assert unit_property(container, unit, "ActiveState") == "inactive"

    # The list, reached directly on this host (no front), and the server announcing itself to it.
    container.run("sed", "-i", 's/^BRASSMOOR_LIST_OPTIONS=.*/BRASSMOOR_LIST_OPTIONS="--listen 127.0.0.1:8080"/',
                  "/etc/default/brassmoor-list")
    container.run("systemctl", "enable", "--now", LIST_UNIT)
    assert process_uid(container, wait_for_active(container, LIST_UNIT)) in DYNAMIC_UIDS
    container.run("sed", "-i", 's|^BRASSMOOR_SERVER_OPTIONS=.*|BRASSMOOR_SERVER_OPTIONS="--bots 3 --status 1 --capture game.pcap '
                  '--metrics 127.0.0.1:40124 --list-server http://127.0.0.1:8080"|',
                  OPTIONS_FILE)
    container.run("systemctl", "enable", "--now", UNIT)
    assert container.run("systemctl", "is-enabled", UNIT).stdout.strip() == "enabled"
    pid = wait_for_active(container, UNIT)
    assert process_uid(container, pid) in DYNAMIC_UIDS

    # The real client, outside the container, plays against it.
    wait_for(lambda: "metrics on http://127.0.0.1:40124/" in journal(container, UNIT), timeout=30,
             what="the server to listen and serve metrics")
    # The sandbox lets --metrics run (threads, a TCP socket); the container shares this network.
    with urllib.request.urlopen("http://127.0.0.1:40124/metrics", timeout=30) as answer:
        assert "\nbrassmoor_bots 3\n" in answer.read().decode()
    status, title, output = play_until_others([client_program], 3)
    assert status == 0, output
    assert title.startswith("Brassmoor  |  127.0.0.1  |  others: 3  |")
    wait_for(lambda: re.search(r"^join id=\d+ from 127\.0\.0\.1:\d+\n(.*\n)*status players=4 clients=1 bots=3 ",
                               journal(container, UNIT), re.MULTILINE),
             timeout=30, what="the client's join and a status line counting it in the journal")
    # The one folder it may write is its working folder: the capture, the client's poses in it, is there.
    captured = int(container.run("stat", "-L", "-c", "%s", "/var/log/brassmoor-server/game.pcap").stdout)
    # The file's header, then at least the client's first pose (a record of 16 + 20 + 8 + 25 bytes).
    assert captured >= 24 + 16 + 20 + 8 + 25, captured

    # The sandboxed list checked the sandboxed server over UDP and lists it.
    # (60 s: a server that came up before the list tries again 30 s later.)
    wait_for(lambda: "list http://127.0.0.1:8080: listed as 127.0.0.1" in journal(container, UNIT), timeout=60,
             what="the server's announcement to be listed")
    with urllib.request.urlopen("http://127.0.0.1:8080/healthz", timeout=30) as answer:
        assert answer.read() == b"ok\n"
    with urllib.request.urlopen("http://127.0.0.1:8080/v1/games", timeout=30) as answer:
        (game,) = json.load(answer)["games"]
    assert (game["address"], game["bots"]) == ("127.0.0.1", 3), game

    # A crash is followed by a restart.
    container.run("systemctl", "kill", "--signal=SIGKILL", "--kill-whom=main", UNIT)
    pid = wait_for_active(container, UNIT, after_pid=pid)

    # A stop is clean: the server's last lines are in the journal and it exits 0.
    container.run("systemctl", "stop", UNIT)
    assert unit_property(container, UNIT, "ActiveState") == "inactive"
    assert unit_property(container, UNIT, "ExecMainStatus") == "0"
    # journald reads the server's output on its own schedule: the last lines may come a moment later.
    # (The withdrawal from the list, and an announcement it overtook, may come between the two.)
    wait_for(lambda: re.search(r"^stopping on signal 15\n(list .*\n)*status players=3 clients=0 bots=3 ",
                               journal(container, UNIT, server_only=True), re.MULTILINE),
             timeout=30, what="the last status line")

    # A second server from the template, with its own options file; one without a file does not start.
    container.run("sh", "-c", f"sed 's/^BRASSMOOR_SERVER_OPTIONS=.*/BRASSMOOR_SERVER_OPTIONS=\"--bind 127.0.0.2 "
                              f"--bots 2\"/' {OPTIONS_FILE} > {OPTIONS_FILE}-second")
    container.run("systemctl", "enable", "--now", INSTANCE)
    instance_pid = wait_for_active(container, INSTANCE)
    assert process_uid(container, instance_pid) in DYNAMIC_UIDS
    wait_for(lambda: "listening on 127.0.0.2:40123" in journal(container, INSTANCE), timeout=30,
             what="the instance to listen")
    assert container.run("systemctl", "start", "brassmoor-server@missing.service", check=False).returncode != 0

    # Removing the package stops every server; purging takes the options file and the links with it.
    # (Beside an instance on 127.0.0.2, the server may not take port 40123 on every address.)
    container.run("sed", "-i", 's/^BRASSMOOR_SERVER_OPTIONS="/&--bind 127.0.0.1 /', OPTIONS_FILE)
    container.run("systemctl", "start", UNIT)
    wait_for_active(container, UNIT)
    apt(container, "remove", "brassmoor-server")
    for unit in (UNIT, INSTANCE, LIST_UNIT):
        assert unit_property(container, unit, "ActiveState") in ("inactive", ""), unit
    assert container.run("test", "-e", OPTIONS_FILE, check=False).returncode == 0  # kept until a purge
    apt(container, "purge", "brassmoor-server")
    left = container.run("sh", "-c", "ls -d /lib/systemd/system/brassmoor-* /etc/default/brassmoor-server "
                                     "/etc/default/brassmoor-list /etc/systemd/system/*/brassmoor-* 2>/dev/null",
                         check=False).stdout
    assert left.split() == [], left
    assert [unit_property(container, unit, "LoadState") for unit in (UNIT, LIST_UNIT)] == ["not-found"] * 2
    # The instance's options file was the host's own making: a purge leaves it.
    assert container.run("test", "-e", f"{OPTIONS_FILE}-second", check=False).returncode == 0
