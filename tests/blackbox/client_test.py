"""The real client under a virtual X server, talking to a fake server on 127.0.0.1:40123.

Tests that take `launcher` run against the Linux client and, under wine, the Windows one."""

import socket
import struct
import time

import pytest

from conftest import (FakeServer, VirtualX, client_env, decode_pose, snapshot, wait_for)

START_TITLE = "Brassmoor  |  127.0.0.1  |  others: 0  |  pos 0.0,0.0"
INITIAL_POSE = bytes.fromhex("4b5630310100000000000000009a99d93ff90fc93f00000000")


def title_count(title):
    """The number after "others: " in the title, as text, or None."""
    title = title or ""
    return title.split("others: ")[1].split(" ")[0] if "others: " in title else None


def test_start_up_line_title_and_first_pose(xserver, fake_server, start_client, launcher):
    client = start_client(env=client_env(xserver.name), launcher=launcher)
    wait_for(lambda: client.stdout() == launcher.console("connecting to 127.0.0.1:40123"),
             what="the connecting line")
    wait_for(lambda: xserver.title() == START_TITLE, what="the start title")
    wait_for(lambda: fake_server.count() >= 1, what="the first pose")
    assert fake_server.datagrams()[0][1] == INITIAL_POSE
    assert client.stderr() == ""
    assert client.process.poll() is None


def test_about_thirty_poses_a_second(xserver, fake_server, start_client, launcher):
    start_client(env=client_env(xserver.name), launcher=launcher)
    wait_for(lambda: fake_server.count() >= 1, what="the first pose")
    first = fake_server.datagrams()[0][0]
    wait_for(lambda: fake_server.datagrams()[-1][0] - first >= 3.0, timeout=15, what="three seconds of poses")
    times = [t for t, _, _ in fake_server.datagrams() if t - first <= 3.0]
    rate = (len(times) - 1) / (times[-1] - times[0])
    # At most one pose per 0.033 s of frame time; a busy machine can only make it fewer.
    assert 15.0 <= rate <= 31.0, rate
    assert all(len(data) == 25 for _, data, _ in fake_server.datagrams())


def test_snapshots_set_the_count_of_others(xserver, fake_server, start_client, launcher):
    # Only the first argument counts; the rest are ignored without a word.
    client = start_client(["127.0.0.1", "ignored", "--also-ignored"], env=client_env(xserver.name),
                          launcher=launcher)
    wait_for(fake_server.client_address, what="the client's first pose")

    def others():
        return title_count(xserver.title())

    # The receiver's own id (7) is skipped.
    fake_server.send(snapshot(7, [(7, 0, 0, 1.7, 0), (9, 1, 2, 1.7, 0), (10, 3, 4, 1.7, 1)]))
    wait_for(lambda: others() == "2", what="two others")

    # Of snapshots sent together the last one wins; the table is replaced, not merged.
    fake_server.send(snapshot(7, [(11, 0, 5, 1.7, 0), (12, 1, 5, 1.7, 0), (13, 2, 5, 1.7, 0)]))
    fake_server.send(snapshot(7, [(14, 0, 5, 1.7, 0)]))
    wait_for(lambda: others() == "1", what="one other")

    # Datagrams that are not snapshots change nothing, while frames go on.
    rejected = [
        snapshot(7, [(20, 0, 0, 0, 0), (21, 0, 0, 0, 0)])[:10],      # too short
        b"kv01" + snapshot(7, [(20, 0, 0, 0, 0)])[4:],                 # magic in the wrong case
        b"KV01\x01" + bytes(20),                                       # an echoed pose
        b"KV01\x03" + snapshot(7, [(20, 0, 0, 0, 0)])[5:],             # unknown type
    ]
    for data in rejected:
        fake_server.send(data)
    poses_before = fake_server.count()
    wait_for(lambda: fake_server.count() >= poses_before + 5, what="more frames")
    assert others() == "1"

    # An entry cut off by the datagram's length is not used; the whole ones are.
    fake_server.send(snapshot(7, [(30, 0, 5, 1.7, 0), (31, 1, 5, 1.7, 0), (32, 2, 5, 1.7, 0)])[:-1])
    wait_for(lambda: others() == "2", what="two whole entries of three")

    fake_server.send(snapshot(7, []))
    wait_for(lambda: others() == "0", what="nobody left")
    assert client.process.poll() is None


def test_escape_ends_with_status_zero(xserver, fake_server, start_client, launcher):
    client = start_client(env=client_env(xserver.name), launcher=launcher)
    wait_for(lambda: xserver.title() == START_TITLE, what="the first frame")
    xserver.key("Escape", True)
    try:
        assert client.wait(timeout=15) == 0
    finally:
        xserver.key("Escape", False)
    assert client.stderr() == ""


def test_close_button_ends_with_status_zero(xserver, fake_server, start_client, launcher):
    client = start_client(env=client_env(xserver.name), launcher=launcher)
    wait_for(lambda: xserver.title() == START_TITLE, what="the first frame")
    xserver.request_close()
    assert client.wait(timeout=15) == 0
    assert client.stderr() == ""


def test_without_a_display_glfw_init_fails(start_client, launcher):
    client = start_client(env=client_env(None), launcher=launcher)
    assert client.wait(timeout=15) == 1
    assert client.stdout() == launcher.console("connecting to 127.0.0.1:40123")
    assert client.stderr() == launcher.console("glfw init failed")


def test_without_opengl_the_window_fails(start_client):
    server = VirtualX(extra_args=["-extension", "GLX"])
    try:
        client = start_client(env=client_env(server.name))
        assert client.wait(timeout=15) == 1
        assert client.stdout() == "connecting to 127.0.0.1:40123\n"
        assert client.stderr() == "window failed\n"
    finally:
        server.stop()


def test_unconvertible_address_sends_nothing(xserver, start_client, launcher):
    # Listen on every local address: a pose sent to 0.0.0.0 would land here.
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.bind(("0.0.0.0", 40123))
    listener.settimeout(0.05)
    try:
        client = start_client(["abc"], env=client_env(xserver.name), launcher=launcher)
        wait_for(lambda: xserver.title() == "Brassmoor  |  abc  |  others: 0  |  pos 0.0,0.0",
                 what="the title with the text as typed")
        assert client.stdout() == launcher.console("connecting to abc:40123")
        assert "abc" in client.stderr() and "IPv4" in client.stderr()
        assert len(client.stderr().splitlines()) == 1
        # Watch for a full second: about thirty poses would have left by now.
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            try:
                data, sender = listener.recvfrom(4096)
            except socket.timeout:
                continue
            pytest.fail(f"a datagram left for an address that was never given: {data!r} from {sender}")
        assert client.process.poll() is None
    finally:
        listener.close()


def test_datagram_longer_than_the_receive_buffer(xserver, fake_server, start_client, launcher):
    client = start_client(env=client_env(xserver.name), launcher=launcher)
    wait_for(fake_server.client_address, what="the client's first pose")
    fake_server.send(snapshot(1, [(2, 0, 5, 1.7, 0), (3, 1, 5, 1.7, 0)]))
    wait_for(lambda: title_count(xserver.title()) == "2", what="two others")

    # 250 entries make 5011 bytes; the first 4096 of them hold 204 whole entries.
    oversized = snapshot(1, [(100 + i, float(i % 20), 5.0, 1.7, 0.0) for i in range(250)])
    assert len(oversized) == 5011
    fake_server.send(oversized)
    if launcher.windows:
        # Winsock reports it as an error, which ends that frame's drain; the datagram is gone.
        poses_before = fake_server.count()
        wait_for(lambda: fake_server.count() >= poses_before + 10, what="more frames")
        assert title_count(xserver.title()) == "2"
        # Nothing is left stuck in the queue: the next snapshot is applied as usual.
        fake_server.send(snapshot(1, [(4, 0, 5, 1.7, 0)]))
        wait_for(lambda: title_count(xserver.title()) == "1", what="one other")
    else:
        # POSIX hands over the first 4096 bytes, which are then tested like any datagram.
        wait_for(lambda: title_count(xserver.title()) == "204", what="the 204 entries that fit")
    assert client.process.poll() is None
