"""The real client against the real server with simulated players."""

import os
import subprocess
import tempfile

from conftest import client_env, is_orange, screenshot, wait_for


def orange_pixel_count(rows):
    return sum(1 for row in rows for pixel in row if is_orange(pixel))


def test_client_sees_the_servers_simulated_players(xserver, start_client):
    log = tempfile.TemporaryFile()
    server = subprocess.Popen(
        [os.environ["BRASSMOOR_SERVER"], "--bind", "127.0.0.1", "--bots", "3", "--arena", "10"],
        stdout=log, stderr=subprocess.STDOUT)

    def server_log():
        log.seek(0)
        return log.read().decode("utf-8", "replace")

    try:
        wait_for(lambda: "listening on" in server_log() or server.poll() is not None, what="the server")
        assert server.poll() is None, server_log()
        start_client(env=client_env(xserver.name))
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
        server.terminate()
        assert server.wait(timeout=10) == 0
