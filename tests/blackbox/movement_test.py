"""Walking, looking and seeing others, through the real client's window, title and poses."""

import math
import struct

from conftest import (client_env, decode_pose, is_orange, screenshot, snapshot, title_position, wait_for)

START_TITLE = "Brassmoor  |  127.0.0.1  |  others: 0  |  pos 0.0,0.0"


def start(xserver, fake_server, start_client):
    client = start_client(env=client_env(xserver.name))
    wait_for(lambda: xserver.title() == START_TITLE, what="the first frame")
    wait_for(fake_server.client_address, what="the first pose")
    return client


def hold_until(xserver, key, condition, what):
    xserver.key(key, True)
    try:
        wait_for(condition, timeout=15, what=what)
    finally:
        xserver.key(key, False)


def test_holding_w_walks_along_plus_y(xserver, fake_server, start_client):
    start(xserver, fake_server, start_client)
    hold_until(xserver, "w", lambda: title_position(xserver.title())[1] >= 3.0, "y to reach 3")
    x, y = title_position(xserver.title())
    assert abs(x) < 0.05 and y >= 3.0
    poses = [decode_pose(data) for _, data, _ in fake_server.datagrams()]
    assert poses[-1][1] > 2.5 and abs(poses[-1][0]) < 0.05
    assert all(pose[2] == struct.unpack("<f", bytes.fromhex("9a99d93f"))[0] for pose in poses)
    ys = [pose[1] for pose in poses]
    assert ys == sorted(ys)


def test_holding_d_walks_along_plus_x(xserver, fake_server, start_client):
    start(xserver, fake_server, start_client)
    hold_until(xserver, "d", lambda: title_position(xserver.title())[0] >= 2.0, "x to reach 2")
    x, y = title_position(xserver.title())
    assert x >= 2.0 and abs(y) < 0.05
    # The title rounds to one decimal; the pose carries the exact value.
    wait_for(lambda: decode_pose(fake_server.datagrams()[-1][1])[0] >= 1.95, what="a pose with x near 2")


def test_mouse_turns_yaw_and_pitch(xserver, fake_server, start_client):
    start(xserver, fake_server, start_client)
    initial_yaw = struct.unpack("<f", bytes.fromhex("f90fc93f"))[0]

    def last_pose():
        return decode_pose(fake_server.datagrams()[-1][1])

    # Right lowers yaw (turns clockwise seen from above); down lowers pitch.
    for _ in range(5):
        xserver.move_pointer_by(40, 0)
    wait_for(lambda: last_pose()[3] < initial_yaw - 0.2, what="yaw to fall")
    for _ in range(5):
        xserver.move_pointer_by(0, 30)
    wait_for(lambda: last_pose()[4] < -0.1, what="pitch to fall")
    # Far down stops at the limit, never beyond. The pointer is bounded by the screen
    # and re-centred by the client once a frame, so move a little per frame.
    limit = struct.unpack("<f", bytes.fromhex("6666c6bf"))[0]
    for _ in range(40):
        if last_pose()[4] == limit:
            break
        seen = fake_server.count()
        xserver.move_pointer_by(0, 150)
        wait_for(lambda: fake_server.count() >= seen + 2, what="the next poses")
    assert last_pose()[4] == limit
    assert all(decode_pose(data)[4] >= limit for _, data, _ in fake_server.datagrams())


def orange_columns(xserver):
    width, height, rows = screenshot(xserver)
    columns = [x for row in rows for x, pixel in enumerate(row) if is_orange(pixel)]
    return width, columns


def test_reported_players_are_drawn_where_they_stand(xserver, fake_server, start_client):
    start(xserver, fake_server, start_client)
    assert orange_columns(xserver)[1] == []

    # The start view looks along +Y with +X to the right.
    fake_server.send(snapshot(1, [(2, -2.0, 5.0, 1.7, 0.0)]))
    wait_for(lambda: "others: 1" in xserver.title(), what="one other")
    width, left = wait_for(lambda: (lambda r: r if r[1] else None)(orange_columns(xserver)), what="a box")
    focal = 1.0 / math.tan(0.6)
    expected = width / 2 * (1 - focal / (1280 / 720) * 2.0 / 5.0)
    assert abs(sum(left) / len(left) - expected) < 30

    fake_server.send(snapshot(1, [(3, 2.0, 5.0, 9.0, 1.0)]))
    wait_for(lambda: (lambda r: r[1] and sum(r[1]) / len(r[1]) > width / 2)(orange_columns(xserver)),
             what="the box to move to the right half")

    # A player behind the camera is not seen.
    fake_server.send(snapshot(1, [(4, 0.0, -5.0, 1.7, 0.0)]))
    wait_for(lambda: not orange_columns(xserver)[1], what="the box to leave the view")
    assert "others: 1" in xserver.title()
