"""The real client against the real server with simulated players: the Linux programs, and, under
wine, the Windows ones with each other and with the Linux ones."""

import signal
import socket
import subprocess
import tempfile

import pytest

from conftest import Launcher, client_env, is_orange, screenshot, wait_for


def orange_pixel_count(rows):
    return sum(1 for row in rows for pixel in row if is_orange(pixel))


def test_client_sees_the_servers_simulated_players(xserver, start_client, pairing):
    client_launcher, server_launcher = pairing
    log = tempfile.TemporaryFile()
    # A Windows server gets the display too: wine's programs share one wineserver, which serves
    # the display of the first of them to start.
    server = subprocess.Popen(
        server_launcher.command("server", ["--bind", "127.0.0.1", "--bots", "3", "--arena", "10"]),
        stdout=log, stderr=subprocess.STDOUT, env=client_env(xserver.name))

    def server_log():
        log.seek(0)
        return log.read().decode("utf-8", "replace")

    try:
        # wine may first have to bring its services up with the new display.
        try:
            wait_for(lambda: "listening on" in server_log() or server.poll() is not None,
                     timeout=30 if server_launcher.windows else 10, what="the server")
        except AssertionError as error:
            raise AssertionError(f"{error}; its output so far: {server_log()!r}") from None
        assert server.poll() is None, server_log()
        start_client(env=client_env(xserver.name), launcher=client_launcher)
        wait_for(lambda: (xserver.title() or "").startswith("Brassmoor  |  127.0.0.1  |  others: 3  |"),
                 timeout=15, what="three others in the title")
        # The players wander: turn the view a step at a time until one is in front.
        rows = screenshot(xserver)[2]
        for _ in range(40):
            if orange_pixel_count(rows) > 50:
                break
            xserver.move_pointer_by(150, 0)
            before = rows
            rows = wait_for(lambda: (lambda now: now if now != before else None)(screenshot(xserver)[2]),
                            what="the view to turn")
        assert orange_pixel_count(rows) > 50
    finally:
        # Ctrl+C for a Windows program (wine hands SIGINT on as a console control event); Windows
        # has no SIGTERM.
        stop = signal.SIGINT if server_launcher.windows else signal.SIGTERM
        server.send_signal(stop)
        try:
            status = server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
            raise
    assert status == 0, server_log()
    assert f"stopping on signal {int(stop)}" in server_log().splitlines()


def run_server(launcher, args):
    done = subprocess.run(launcher.command("server", args), capture_output=True, text=True, timeout=30,
                          env=client_env(None))
    return done.returncode, done.stdout.splitlines(), done.stderr.splitlines()


def test_windows_server_takes_the_same_command_line(launcher):
    if not launcher.windows:
        pytest.skip("compares the Windows server with the Linux one")
    linux = Launcher("linux")
    launcher.keep_wine_running()
    for args in (["--help"], ["--port", "0"], ["--bots=many"], ["--bind", "nowhere"], ["--what"]):
        assert run_server(launcher, args) == run_server(linux, args), args

    # A port already taken: the same message, with the system's own reason.
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        status, out, err = run_server(launcher, ["--bind", "127.0.0.1", "--port", str(port)])
    assert (status, out, len(err)) == (1, [], 1), err
    assert err[0].startswith(f"brassmoor-server: cannot listen on 127.0.0.1:{port}: ")
    assert err[0].endswith("Winsock error 10048") or err[0].endswith("(Winsock error 10048)")
