"""The two Debian packages as players and hosts meet them: lintian, their fields and files, the menu
entry, the software-centre entry, the manual pages, the service's units and options file; then
installed on this machine with apt-get (the player's alone first), the programs started by name, and
both purged without a trace. The machine's packages are put back as they were."""

import configparser
import gzip
import os
import re
import shutil
import signal
import tempfile
import xml.etree.ElementTree as ElementTree

import pytest

from install_support import (CLIENT_DEB, SERVER_DEB, Unpacked, end, package_field, package_paths,
                             play_until_others, player_env, player_path, require_packages, run, start_logged,
                             wait_for)
from package_state import CLIENT_PACKAGE, SERVER_PACKAGE, MachineState, apt_get, is_absent, package_status

METAINFO = "/usr/share/metainfo/example.brassmoor.Brassmoor.metainfo.xml"
OPTIONS_FILE = "/etc/default/brassmoor-server"
LIST_OPTIONS_FILE = "/etc/default/brassmoor-list"
UNIT_DIR = "/lib/systemd/system"

# Everything each package may hold, and nothing else (directories aside).
CLIENT_FILES = {
    "/usr/games/brassmoor",
    "/usr/games/brassmoor-play",
    "/etc/brassmoor/list-servers",
    "/usr/share/applications/brassmoor.desktop",
    "/usr/share/icons/hicolor/scalable/apps/brassmoor.svg",
    "/usr/share/icons/hicolor/48x48/apps/brassmoor.png",
    METAINFO,
    "/usr/share/man/man6/brassmoor.6.gz",
    "/usr/share/man/man6/brassmoor-play.6.gz",
    "/usr/share/doc/brassmoor/README.md",
    "/usr/share/doc/brassmoor/copyright",
    "/usr/share/doc/brassmoor/changelog.gz",
}
SERVER_FILES = {
    "/usr/games/brassmoor-server",
    "/usr/lib/x86_64-linux-gnu/wireshark/plugins/brassmoor.lua",
    "/usr/games/brassmoor-relay",
    "/usr/games/brassmoor-list",
    f"{UNIT_DIR}/brassmoor-server.service",
    f"{UNIT_DIR}/brassmoor-server@.service",
    f"{UNIT_DIR}/brassmoor-list.service",
    OPTIONS_FILE,
    LIST_OPTIONS_FILE,
    "/usr/share/man/man6/brassmoor-server.6.gz",
    "/usr/share/man/man6/brassmoor-relay.6.gz",
    "/usr/share/man/man6/brassmoor-list.6.gz",
    "/usr/share/doc/brassmoor-server/README.md",
    "/usr/share/doc/brassmoor-server/copyright",
    "/usr/share/doc/brassmoor-server/changelog.gz",
}
PACKAGE_FILES = {CLIENT_PACKAGE: CLIENT_FILES, SERVER_PACKAGE: SERVER_FILES}
# Libraries a display needs: none may be among the server package's dependencies.
GRAPHICAL = re.compile(r"glfw|^libgl(\d|u|x|vnd|es|-)|^libegl|^libopengl|mesa|^libx(11|cb|ext|randr|i\d|inerama|"
                       r"cursor|xf86|render|fixes|au|dmcp)|wayland|^libdrm|^libgbm|vulkan")


def deb_of(package):
    return {CLIENT_PACKAGE: CLIENT_DEB, SERVER_PACKAGE: SERVER_DEB}[package]


@pytest.fixture(scope="module")
def client():
    require_packages()
    unpacked = Unpacked(CLIENT_DEB)
    yield unpacked
    unpacked.cleanup()


@pytest.fixture(scope="module")
def server():
    require_packages()
    unpacked = Unpacked(SERVER_DEB)
    yield unpacked
    unpacked.cleanup()


def listed_options(program):
    """The options a program's --help lists, as a tuple of their names."""
    usage = run([program, "--help"]).stdout
    return re.findall(r"^\s+(--[a-z][a-z-]*)", usage, re.MULTILINE)


def rendered_page(path, width="200"):
    return run(["man", "-l", path], env=player_env(MANWIDTH=width)).stdout


@pytest.fixture(scope="module")
def lintian():
    """lintian's tags for both packages (one run: most of its time is its own start-up)."""
    require_packages()
    done = run(["lintian", "--tag-display-limit", "0", "--display-info", CLIENT_DEB, SERVER_DEB])
    assert done.returncode in (0, 1), done.stdout + done.stderr  # 1: it found tags of error level
    return done.stdout.splitlines()


@pytest.mark.parametrize("package", [CLIENT_PACKAGE, SERVER_PACKAGE])
def test_lintian_finds_no_error_or_warning(package, lintian):
    tags = [line for line in lintian if re.match(rf"^[EWIPX]: {re.escape(package)}( \(binary\))?: ", line)]
    print(f"lintian {package}:", *(tags or ["no tags"]), sep="\n  ")
    serious = [line for line in tags if line.startswith(("E: ", "W: "))]
    assert serious == [], "\n".join(serious)


def test_fields_name_two_games_packages_of_one_version_with_computed_dependencies(client, server):
    version = package_field(CLIENT_DEB, "Version")
    for package, unpacked in ((CLIENT_PACKAGE, client), (SERVER_PACKAGE, server)):
        deb = deb_of(package)
        assert package_field(deb, "Package") == package
        assert package_field(deb, "Source") == CLIENT_PACKAGE
        assert package_field(deb, "Section") == "games"
        assert package_field(deb, "Architecture") == "amd64"
        assert package_field(deb, "Version") == version
        assert os.path.basename(deb) == f"{package}_{version}_amd64.deb"
        assert re.fullmatch(r".+ <[^@\s]+@[^@\s]+>", package_field(deb, "Maintainer"))
        description = package_field(deb, "Description").splitlines()
        assert len(description) > 2 and description[0] and not description[0].lower().startswith(("a ", "the "))
        with gzip.open(unpacked.path(f"/usr/share/doc/{package}/changelog.gz"), "rt") as changelog:
            assert changelog.readline().startswith(f"{CLIENT_PACKAGE} ({version}) ")
    for program in ("brassmoor-server", "brassmoor-relay", "brassmoor-list"):
        assert run([server.path(f"/usr/games/{program}"), "--version"]).stdout == f"{program} {version}\n"

    # dpkg-shlibdeps names the libraries the programs really link, with versions.
    client_depends = package_field(CLIENT_DEB, "Depends")
    # The launcher asks the home router for a port (miniupnpc, libnatpmp), reads lists and announces to them (libcurl).
    for library in ("libc6 (>=", "libglfw3 (>=", "libstdc++6 (>=", "libminiupnpc17 (>=", "libnatpmp1 (>=",
                    "libcurl4 (>="):
        assert library in client_depends, client_depends
    # The launcher runs its practice and LAN servers in its own process: a player needs no host's package.
    assert SERVER_PACKAGE not in client_depends
    assert package_field(CLIENT_DEB, "Suggests") == SERVER_PACKAGE
    server_depends = package_field(SERVER_DEB, "Depends")
    for library in ("libc6 (>=", "libstdc++6 (>="):
        assert library in server_depends, server_depends
    # --metrics, the sidecar's calls and the list are the host's alone: the player's package needs none of these.
    for library in ("libcivetweb1 (>=", "libprometheus-cpp-core", "libhiredis0.14 (>="):
        assert library in server_depends and library not in client_depends, server_depends
    assert "libcurl4 (>=" in server_depends, server_depends
    names = [alternative.split()[0] for alternative in re.split(r"[,|]", server_depends)]
    assert [name for name in names if GRAPHICAL.search(name)] == [], server_depends
    print(f"Depends of {CLIENT_PACKAGE}: {client_depends}\nDepends of {SERVER_PACKAGE}: {server_depends}")


@pytest.mark.parametrize("package", [CLIENT_PACKAGE, SERVER_PACKAGE])
def test_package_holds_its_own_files_only(package, client, server):
    assert package_paths(deb_of(package)) == PACKAGE_FILES[package]
    unpacked = client if package == CLIENT_PACKAGE else server
    for path in PACKAGE_FILES[package]:
        if path.startswith("/usr/games/"):
            assert os.access(unpacked.path(path), os.X_OK), path


def test_icon_is_a_48_pixel_bitmap(client):
    icon = client.path("/usr/share/icons/hicolor/48x48/apps/brassmoor.png")
    assert run(["identify", "-format", "%m %wx%h", icon]).stdout == "PNG 48x48"


def test_menu_entry_validates_and_each_action_starts_a_program_of_the_package(client):
    entry = client.path("/usr/share/applications/brassmoor.desktop")
    done = run(["desktop-file-validate", entry])
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")
    groups = configparser.ConfigParser(interpolation=None)
    groups.optionxform = str
    groups.read(entry)
    main = groups["Desktop Entry"]
    assert "Game" in main["Categories"].split(";")
    assert main["Icon"] == "brassmoor"
    # The entry itself (the window) and each of its actions (Quick play, Host a LAN game) start a program
    # the package holds.
    programs = [group["Exec"].split()[0] for group in groups.values() if "Exec" in group]
    assert programs and main["Exec"].split()[0] == programs[0]
    for program in programs:
        assert f"/usr/games/{program}" in CLIENT_FILES, f"Exec names {program}, which the package lacks"


def test_software_centre_entry_validates_and_matches_the_package(client):
    path = client.path(METAINFO)
    done = run(["appstreamcli", "validate", "--no-net", path])
    print(done.stdout)
    problems = [line for line in done.stdout.splitlines() if re.match(r"^[EW]: ", line)]
    assert (done.returncode, problems) == (0, [])
    root = ElementTree.parse(path).getroot()
    assert root.get("type") == "desktop-application"
    assert os.path.basename(METAINFO) == root.findtext("id") + ".metainfo.xml"
    assert root.findtext("name") == "Brassmoor"
    launchable = root.find("launchable")
    assert launchable.get("type") == "desktop-id"
    assert f"/usr/share/applications/{launchable.text}" in CLIENT_FILES
    assert root.find("content_rating").get("type") == "oars-1.1"
    releases = root.findall("releases/release")
    assert [release.get("version") for release in releases][0] == package_field(CLIENT_DEB, "Version")
    binaries = {f"/usr/games/{binary.text}" for binary in root.findall("provides/binary")}
    assert binaries == {path for path in CLIENT_FILES if path.startswith("/usr/games/")}


PAGES = [(CLIENT_PACKAGE, "brassmoor.6.gz", True), (CLIENT_PACKAGE, "brassmoor-play.6.gz", False),
         (SERVER_PACKAGE, "brassmoor-server.6.gz", True), (SERVER_PACKAGE, "brassmoor-relay.6.gz", False),
         (SERVER_PACKAGE, "brassmoor-list.6.gz", False)]


@pytest.mark.parametrize("package,page,has_datagrams", PAGES)
def test_manual_pages_render_without_warnings(package, page, has_datagrams, client, server):
    unpacked = client if package == CLIENT_PACKAGE else server
    path = unpacked.path(f"/usr/share/man/man6/{page}")
    done = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=player_env(MANWIDTH="80"))
    assert done.returncode == 0
    assert done.stderr == ""
    sections = ["NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]
    for section in sections + (["DATAGRAMS"] if has_datagrams else []):
        assert re.search(rf"^{section}$", done.stdout, re.MULTILINE), section


@pytest.mark.parametrize("program", ["brassmoor-play", "brassmoor-server", "brassmoor-relay", "brassmoor-list"])
def test_helper_pages_name_every_option_of_their_help(program, client, server):
    unpacked = client if program == "brassmoor-play" else server
    page = rendered_page(unpacked.path(f"/usr/share/man/man6/{program}.6.gz"))
    options = listed_options(unpacked.path(f"/usr/games/{program}"))
    assert "--help" in options and len(options) > 3
    missing = [option for option in options if not re.search(rf"^\s+{option}", page, re.MULTILINE)]
    assert missing == [], f"options in --help without an entry in the manual page: {missing}"


def test_server_page_tells_how_to_run_the_service_and_its_instances(server):
    page = rendered_page(server.path("/usr/share/man/man6/brassmoor-server.6.gz"))
    for said in ("systemctl enable --now brassmoor-server", OPTIONS_FILE, f"{OPTIONS_FILE}-name",
                 "brassmoor-server@.service", "journalctl -u brassmoor-server", "neither enables nor starts"):
        assert said in " ".join(page.split()), said


@pytest.mark.parametrize("program,path,setting", [
    ("brassmoor-server", OPTIONS_FILE, 'BRASSMOOR_SERVER_OPTIONS=""'),
    ("brassmoor-list", LIST_OPTIONS_FILE,
     'BRASSMOOR_LIST_OPTIONS="--listen 127.0.0.1:8080 --trusted-proxy 127.0.0.1"')])
def test_options_files_describe_every_option_and_conffiles_are_marked(program, path, setting, server, client):
    with open(server.path(path)) as f:
        lines = f.read().splitlines()
    settings = [line for line in lines if line.strip() and not line.startswith("#")]
    assert settings == [setting]
    comments = "\n".join(line for line in lines if line.startswith("#"))
    options = [option for option in listed_options(server.path(f"/usr/games/{program}"))
               if option not in ("--help", "--version")]
    missing = [option for option in options if not re.search(rf"^# {option} ", comments, re.MULTILINE)]
    assert missing == [], f"options in --help not described in {path}: {missing}"
    control = run(["dpkg-deb", "--info", SERVER_DEB, "conffiles"]).stdout.split()
    assert control == [OPTIONS_FILE, LIST_OPTIONS_FILE]
    # The player's package's list servers: a conffile of comments alone.
    assert run(["dpkg-deb", "--info", CLIENT_DEB, "conffiles"]).stdout.split() == ["/etc/brassmoor/list-servers"]
    with open(client.path("/etc/brassmoor/list-servers")) as f:
        assert all(line.startswith("#") or not line.strip() for line in f)


@pytest.mark.parametrize("unit", ["brassmoor-server.service", "brassmoor-server@example.service",
                                  "brassmoor-list.service"])
def test_units_verify_and_rate_ok_for_exposure(unit, server):
    verify = run(["systemd-analyze", "verify", "--man=no", "--recursive-errors=no", f"--root={server.folder.name}",
                  unit], cwd=server.folder.name)
    assert (verify.returncode, verify.stdout, verify.stderr) == (0, "", "")
    security = run(["systemd-analyze", "security", "--offline=true", f"--root={server.folder.name}", unit],
                   cwd=server.folder.name)
    found = re.search(r"Overall exposure level for \S+: (\d+\.\d+) (\w+)", security.stdout)
    assert found, security.stdout + security.stderr
    print(f"systemd-analyze security {unit}: {found.group(1)} {found.group(2)}")
    assert float(found.group(1)) <= 2.0 and found.group(2) == "OK", security.stdout


@pytest.fixture
def machine():
    """The machine's package state, put back after the test whatever happens in it."""
    state = MachineState()
    try:
        yield state
    finally:
        problems = state.restore()
        assert problems == [], "the machine was not restored:\n" + "\n".join(problems)


def dpkg_excludes_manual_pages():
    """Minimal images tell dpkg to leave manual pages out (path-exclude in dpkg.cfg.d)."""
    folder = "/etc/dpkg/dpkg.cfg.d"
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        with open(os.path.join(folder, name), errors="replace") as f:
            if any(line.startswith("path-exclude") and "/usr/share/man" in line for line in f):
                return True
    return False


def install(*debs):
    options = ["install", "--no-install-recommends"]
    if dpkg_excludes_manual_pages():
        options += ["-o", "DPkg::Options::=--path-include=/usr/share/man/man6/brassmoor*"]
    apt_get(*options, *debs)


def installed_files(package):
    return set(run(["dpkg-query", "--listfiles", package]).stdout.split())


def play_with_installed_server_and_client(away):
    """brassmoor-server and brassmoor started by name; the client shows the server's three bots."""
    server, server_output = start_logged(["brassmoor-server", "--bots", "3", "--bind", "127.0.0.1"],
                                         player_env(), away)
    try:
        wait_for(lambda: "listening on" in server_output() or server.poll() is not None, what="the server")
        assert server.poll() is None, server_output()

        def run_from_games(client):
            assert os.readlink(f"/proc/{client.pid}/exe") == "/usr/games/brassmoor"
            assert os.readlink(f"/proc/{server.pid}/exe") == "/usr/games/brassmoor-server"

        status, title, output = play_until_others(["brassmoor"], 3, cwd=away, while_running=run_from_games)
        assert title.startswith("Brassmoor  |  127.0.0.1  |  others: 3  |")
        assert status == 0, output
        assert end(server) == 0, server_output()
    finally:
        end(server, signal.SIGKILL)


def test_packages_install_play_and_purge_without_a_trace(client, machine):
    present = [name for name in (CLIENT_PACKAGE, SERVER_PACKAGE) if not is_absent(package_status(name))]
    if present:
        # Start from a machine without them, so the installs below are the packages under test.
        apt_get("purge", *present)
    machine.note_install_of(CLIENT_DEB, SERVER_DEB)
    path = player_path()
    away = tempfile.TemporaryDirectory(prefix="brassmoor-player-")
    try:
        # The player's package alone: no server package comes with it, and the launcher plays.
        install(CLIENT_DEB)
        assert package_status(CLIENT_PACKAGE) == "ii "
        assert is_absent(package_status(SERVER_PACKAGE))
        assert CLIENT_FILES <= installed_files(CLIENT_PACKAGE)
        for program in (path for path in CLIENT_FILES if path.startswith("/usr/games/")):
            assert shutil.which(os.path.basename(program), path=path) == program
        # What the menu entry's Quick play runs, on a machine with no server: a practice game.
        menu = configparser.ConfigParser(interpolation=None)
        menu.read("/usr/share/applications/brassmoor.desktop")
        status, title, output = play_until_others(menu["Desktop Action quick"]["Exec"].split(), 6, cwd=away.name)
        assert status == 0, output

        # Then the host's: the service is installed but not enabled, and everything is reached by name.
        install(SERVER_DEB)
        assert package_status(SERVER_PACKAGE) == "ii "
        assert SERVER_FILES <= installed_files(SERVER_PACKAGE)
        for unit in ("brassmoor-server.service", "brassmoor-list.service"):
            assert not os.path.lexists(f"/etc/systemd/system/multi-user.target.wants/{unit}")
        for program in ("brassmoor-server", "brassmoor-relay", "brassmoor-list"):
            assert shutil.which(program, path=path) == f"/usr/games/{program}"
        play_with_installed_server_and_client(away.name)
    finally:
        away.cleanup()

    for page in ("brassmoor", "brassmoor-server", "brassmoor-relay", "brassmoor-list"):
        done = run(["man", "-w", page], env=player_env())
        assert (done.returncode, done.stdout.strip()) == (0, f"/usr/share/man/man6/{page}.6.gz"), done.stderr

    installed = installed_files(CLIENT_PACKAGE) | installed_files(SERVER_PACKAGE)
    apt_get("purge", CLIENT_PACKAGE, SERVER_PACKAGE)
    for package in (CLIENT_PACKAGE, SERVER_PACKAGE):
        assert is_absent(package_status(package)), package
        assert not os.path.exists(f"/usr/share/doc/{package}")
    left = sorted(path for path in installed | CLIENT_FILES | SERVER_FILES
                  if os.path.lexists(path) and not os.path.isdir(path))
    assert left == [], f"files left behind: {left}"
    # deb-systemd-helper's records of the unit go with the purge too.
    records = [name for folder in ("/var/lib/systemd/deb-systemd-helper-enabled",
                                   "/var/lib/systemd/deb-systemd-helper-masked")
               if os.path.isdir(folder) for name in os.listdir(folder) if "brassmoor" in name]
    assert records == []
    assert run(["man", "-w", "brassmoor"], env=player_env()).returncode != 0


def old_single_package(folder):
    """A brassmoor package laid out as up to 0.2.0: one package with the server's program in it."""
    root = os.path.join(folder, "old")
    os.makedirs(os.path.join(root, "DEBIAN"))
    os.makedirs(os.path.join(root, "usr", "games"))
    with open(os.path.join(root, "DEBIAN", "control"), "w") as control:
        control.write(f"Package: {CLIENT_PACKAGE}\nVersion: 0.2.0\nArchitecture: amd64\nSection: games\n"
                      "Priority: optional\nMaintainer: Brassmoor developers <brassmoor@lists.brassmoor.example>\n"
                      "Description: the old single package\n stand-in for the 0.2.0 layout\n")
    for program in ("brassmoor", "brassmoor-server"):
        path = os.path.join(root, "usr", "games", program)
        with open(path, "w") as stub:
            stub.write("#!/bin/sh\nexit 0\n")
        os.chmod(path, 0o755)
    deb = os.path.join(folder, "brassmoor_0.2.0_amd64.deb")
    run(["dpkg-deb", "--root-owner-group", "--build", root, deb]).check_returncode()
    return deb


def test_both_packages_install_over_the_old_single_package(machine):
    present = [name for name in (CLIENT_PACKAGE, SERVER_PACKAGE) if not is_absent(package_status(name))]
    if present:
        apt_get("purge", *present)
    machine.note_install_of(CLIENT_DEB, SERVER_DEB)
    with tempfile.TemporaryDirectory(prefix="brassmoor-old-") as folder:
        install(old_single_package(folder))
        assert run(["dpkg-query", "-S", "/usr/games/brassmoor-server"]).stdout.startswith(f"{CLIENT_PACKAGE}:")
        # The server's program moves to the host's package in the same upgrade, without a file conflict.
        install(CLIENT_DEB, SERVER_DEB)
    assert package_field(CLIENT_DEB, "Version") == run(["dpkg-query", "-W", "-f=${Version}", CLIENT_PACKAGE]).stdout
    assert run(["dpkg-query", "-S", "/usr/games/brassmoor-server"]).stdout.startswith(f"{SERVER_PACKAGE}:")
    assert run(["/usr/games/brassmoor-server", "--version"]).stdout.startswith("brassmoor-server ")
