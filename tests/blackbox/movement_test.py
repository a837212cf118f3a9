"""Walking, looking and seeing others, through the real client's window, title and poses.

Tests that take `launcher` run against the Linux client and, under wine, the Windows one."""

import math
import struct

from conftest import (client_env, decode_pose, is_orange, screenshot, snapshot, title_position, wait_for)

START_TITLE = "Brassmoor  |  127.0.0.1  |  others: 0  |  pos 0.0,0.0"


def start(xserver, fake_server, start_client, launcher=None):
    client = start_client(env=client_env(xserver.name), launcher=launcher)
    wait_for(lambda: xserver.title() == START_TITLE, what="the first frame")
    wait_for(fake_server.client_address, what="the first pose")
    return client


def hold_until(xserver, key, condition, what):
    xserver.key(key, True)
    try:
        wait_for(condition, timeout=15, what=what)
    finally:
        xserver.key(key, False)


def slope(points):
    """The least-squares slope of y over t through (t, y) points."""
    mean_t = sum(t for t, _ in points) / len(points)
    mean_y = sum(y for _, y in points) / len(points)
    return (sum((t - mean_t) * (y - mean_y) for t, y in points) /
            sum((t - mean_t) ** 2 for t, _ in points))


def test_holding_w_walks_along_plus_y_at_six_units_a_second(xserver, fake_server, start_client, launcher):
    start(xserver, fake_server, start_client, launcher)
    hold_until(xserver, "w", lambda: title_position(xserver.title())[1] >= 6.0, "y to reach 6")
    x, y = title_position(xserver.title())
    assert abs(x) < 0.05 and y >= 6.0
    poses = [(t, decode_pose(data)) for t, data, _ in fake_server.datagrams()]
    assert poses[-1][1][1] > 5.5 and abs(poses[-1][1][0]) < 0.05
    assert all(pose[2] == struct.unpack("<f", bytes.fromhex("9a99d93f"))[0] for _, pose in poses)
    ys = [pose[1] for _, pose in poses]
    assert ys == sorted(ys)
    # The speed from the poses' arrival times, away from the press and the release. A fit over
    # every pose is not thrown by one that arrived late.
    walking = [(t, pose[1]) for t, pose in poses if 0.5 < pose[1] < 5.5]
    assert len(walking) >= 10
    assert 5.1 < slope(walking) < 6.9, slope(walking)


def test_holding_d_walks_along_plus_x(xserver, fake_server, start_client):
    start(xserver, fake_server, start_client)
    hold_until(xserver, "d", lambda: title_position(xserver.title())[0] >= 2.0, "x to reach 2")
    x, y = title_position(xserver.title())
    assert x >= 2.0 and abs(y) < 0.05
    # The title rounds to one decimal; the pose carries the exact value.
    wait_for(lambda: decode_pose(fake_server.datagrams()[-1][1])[0] >= 1.95, what="a pose with x near 2")


def test_mouse_turns_yaw_and_pitch(xserver, fake_server, start_client, launcher):
    start(xserver, fake_server, start_client, launcher)
    initial_yaw = struct.unpack("<f", bytes.fromhex("f90fc93f"))[0]

    def last_pose():
        return decode_pose(fake_server.datagrams()[-1][1])

    # The client's first cursor event only records where the pointer is. Under wine no event
    # comes before the first motion, and a quick burst of motion may arrive as that one event.
    xserver.move_pointer_by(1, 0)
    seen = fake_server.count()
    wait_for(lambda: fake_server.count() >= seen + 3, what="a few frames")
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
