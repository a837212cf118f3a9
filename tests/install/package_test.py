"""The Debian package as a user meets it: lintian, its fields and files, the menu entry and the
manual pages; then installed on this machine with apt-get, both programs started by name,
found by man, and purged without a trace. The machine's packages are put back as they were."""

import gzip
import importlib.util
import os
import re
import shutil
import signal
import subprocess
import tempfile

import pytest

from package_state import PACKAGE, MachineState, apt_get, is_absent, package_status

_BLACKBOX_CONFTEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox", "conftest.py")
_spec = importlib.util.spec_from_file_location("blackbox_support", _BLACKBOX_CONFTEST)
blackbox = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(blackbox)
VirtualX = blackbox.VirtualX
wait_for = blackbox.wait_for

DEB = os.environ.get("BRASSMOOR_DEB", "")

# Everything the package may hold, and nothing else (directories aside).
EXPECTED_FILES = {
    "/usr/games/brassmoor",
    "/usr/games/brassmoor-server",
    "/usr/share/applications/brassmoor.desktop",
    "/usr/share/icons/hicolor/scalable/apps/brassmoor.svg",
    "/usr/share/icons/hicolor/48x48/apps/brassmoor.png",
    "/usr/share/man/man6/brassmoor.6.gz",
    "/usr/share/man/man6/brassmoor-server.6.gz",
    "/usr/share/doc/brassmoor/README.md",
    "/usr/share/doc/brassmoor/copyright",
    "/usr/share/doc/brassmoor/changelog.gz",
    "/usr/lib/x86_64-linux-gnu/wireshark/plugins/brassmoor.lua",
}


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


def package_field(name):
    return run(["dpkg-deb", "--field", DEB, name]).stdout.strip()


def package_paths():
    """Files of the package, as absolute paths (from its data archive)."""
    listing = run(["dpkg-deb", "--contents", DEB]).stdout.splitlines()
    paths = set()
    for line in listing:
        kind, path = line[0], line.split()[5]
        if kind != "d":
            paths.add(path[1:] if path.startswith("./") else path)
    return paths


@pytest.fixture(scope="module")
def unpacked():
    """The package's files unpacked into a folder of their own, without installing them."""
    if not DEB or not os.path.isfile(DEB):
        pytest.fail(f"BRASSMOOR_DEB must name the package built by scripts/package-deb.sh, not {DEB!r}")
    folder = tempfile.TemporaryDirectory(prefix="brassmoor-unpacked-")
    subprocess.run(["dpkg-deb", "--extract", DEB, folder.name], check=True)
    yield folder.name
    folder.cleanup()


def server_options(server_program):
    """The options brassmoor-server --help lists."""
    usage = run([server_program, "--help"]).stdout
    return re.findall(r"^\s+(--[a-z][a-z-]*)", usage, re.MULTILINE)


def test_lintian_finds_no_error(unpacked):
    done = run(["lintian", "--no-tag-display-limit", DEB])
    tags = [line for line in done.stdout.splitlines() if re.match(r"^[EWIPX]: ", line)]
    print("lintian:", *(tags or ["no tags"]), sep="\n  ")
    errors = [line for line in tags if line.startswith("E: ")]
    assert errors == [], "\n".join(errors)
    assert done.returncode == 0, done.stdout + done.stderr


def test_control_fields_describe_a_game_with_computed_dependencies(unpacked):
    assert package_field("Package") == PACKAGE
    assert package_field("Section") == "games"
    assert package_field("Architecture") == "amd64"
    assert re.fullmatch(r".+ <[^@\s]+@[^@\s]+>", package_field("Maintainer"))
    description = package_field("Description").splitlines()
    assert len(description) > 2 and description[0] and not description[0].lower().startswith(("a ", "the "))
    # dpkg-shlibdeps names the libraries the programs really link, with versions.
    depends = package_field("Depends")
    for library in ("libc6 (>=", "libglfw3 (>=", "libstdc++6 (>="):
        assert library in depends, depends
    # One version everywhere: the package's, the file name's, the server's and the changelog's.
    version = package_field("Version")
    assert os.path.basename(DEB) == f"{PACKAGE}_{version}_amd64.deb"
    server = os.path.join(unpacked, "usr/games/brassmoor-server")
    assert run([server, "--version"]).stdout == f"brassmoor-server {version}\n"
    with gzip.open(os.path.join(unpacked, "usr/share/doc/brassmoor/changelog.gz"), "rt") as changelog:
        assert changelog.readline().startswith(f"{PACKAGE} ({version}) ")


def test_package_holds_the_programs_pages_menu_entry_and_docs_only(unpacked):
    assert package_paths() == EXPECTED_FILES
    for program in ("brassmoor", "brassmoor-server"):
        assert os.access(os.path.join(unpacked, "usr/games", program), os.X_OK)
    icon = os.path.join(unpacked, "usr/share/icons/hicolor/48x48/apps/brassmoor.png")
    assert run(["identify", "-format", "%m %wx%h", icon]).stdout == "PNG 48x48"


def test_menu_entry_validates_and_starts_the_client_on_the_local_server(unpacked):
    entry = os.path.join(unpacked, "usr/share/applications/brassmoor.desktop")
    done = run(["desktop-file-validate", entry])
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")
    with open(entry) as f:
        fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    assert "Game" in fields["Categories"].split(";")
    assert fields["Exec"] == "brassmoor 127.0.0.1"
    assert fields["Icon"] == "brassmoor"


@pytest.mark.parametrize("page", ["brassmoor.6.gz", "brassmoor-server.6.gz"])
def test_manual_pages_render_without_warnings(unpacked, page):
    path = os.path.join(unpacked, "usr/share/man/man6", page)
    done = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=player_env(MANWIDTH="80"))
    assert done.returncode == 0
    assert done.stderr == ""
    for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "DATAGRAMS", "EXAMPLES", "SEE ALSO"):
        assert re.search(rf"^{section}$", done.stdout, re.MULTILINE), section


def test_server_page_names_every_option_of_its_help(unpacked):
    page = run(["man", "-l", os.path.join(unpacked, "usr/share/man/man6/brassmoor-server.6.gz")],
               env=player_env(MANWIDTH="200")).stdout
    options = server_options(os.path.join(unpacked, "usr/games/brassmoor-server"))
    assert "--bots" in options
    missing = [option for option in options if not re.search(rf"^\s+{option}\b", page, re.MULTILINE)]
    assert missing == [], f"options in --help without an entry in the manual page: {missing}"


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


def start_logged(command, env, cwd):
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


def test_package_installs_runs_from_path_and_purges_without_a_trace(unpacked, machine):
    if machine.was_installed:
        # Start from a machine without it, so the install below is the package under test.
        apt_get("purge", PACKAGE)

    machine.note_install_of(DEB)
    options = ["install", "--no-install-recommends"]
    if dpkg_excludes_manual_pages():
        options += ["-o", "DPkg::Options::=--path-include=/usr/share/man/man6/brassmoor*"]
    apt_get(*options, DEB)
    assert package_status() == "ii "
    installed = set(run(["dpkg-query", "--listfiles", PACKAGE]).stdout.split())
    assert EXPECTED_FILES <= installed

    # Started by name, as a player would: their PATH includes /usr/games, and it must lead there.
    path = player_path()
    for program in ("brassmoor", "brassmoor-server"):
        assert shutil.which(program, path=path) == f"/usr/games/{program}"
    away = tempfile.TemporaryDirectory(prefix="brassmoor-player-")
    xserver = VirtualX()
    server = client = None
    try:
        server, server_output = start_logged(["brassmoor-server", "--bots", "3", "--bind", "127.0.0.1"],
                                             player_env(), away.name)
        wait_for(lambda: "listening on" in server_output() or server.poll() is not None, what="the server")
        assert server.poll() is None, server_output()
        client, client_output = start_logged(["brassmoor"], player_env(DISPLAY=xserver.name), away.name)
        wait_for(lambda: "others: 3" in (xserver.title() or "") or client.poll() is not None, timeout=20,
                 what="three others in the title")
        assert client.poll() is None, client_output()
        assert xserver.title().startswith("Brassmoor  |  127.0.0.1  |  others: 3  |")
        assert os.readlink(f"/proc/{client.pid}/exe") == "/usr/games/brassmoor"
        assert os.readlink(f"/proc/{server.pid}/exe") == "/usr/games/brassmoor-server"
        xserver.request_close()
        assert client.wait(timeout=15) == 0, client_output()
        assert end(server) == 0, server_output()
    finally:
        for process in (client, server):
            if process is not None:
                end(process, signal.SIGKILL)
        xserver.stop()
        away.cleanup()

    for page, found in (("brassmoor", "/usr/share/man/man6/brassmoor.6.gz"),
                        ("brassmoor-server", "/usr/share/man/man6/brassmoor-server.6.gz")):
        done = run(["man", "-w", page], env=player_env())
        assert (done.returncode, done.stdout.strip()) == (0, found), done.stderr

    apt_get("remove", "--purge", PACKAGE)
    assert is_absent(package_status())
    left = sorted(path for path in installed | EXPECTED_FILES
                  if os.path.lexists(path) and not os.path.isdir(path))
    assert left == [], f"files left behind: {left}"
    assert not os.path.exists("/usr/share/doc/brassmoor")
    assert run(["man", "-w", "brassmoor"], env=player_env()).returncode != 0
