"""The GL calls the real client makes, recorded with apitrace, in their order."""

import os
import re
import subprocess

from conftest import client_env, snapshot, wait_for

START_UP = [
    ("glEnable", r"cap = GL_DEPTH_TEST"),
    ("glCreateProgram", r""),
    ("glCreateShader", r"type = GL_VERTEX_SHADER"),
    ("glShaderSource", r"count = 1, string = &\"#version 330 core\n.*\", length = NULL"),
    ("glCompileShader", r""),
    ("glGetShaderiv", r"pname = GL_COMPILE_STATUS, params = &1"),
    ("glCreateShader", r"type = GL_FRAGMENT_SHADER"),
    ("glShaderSource", r"count = 1, string = &\"#version 330 core\n.*\", length = NULL"),
    ("glCompileShader", r""),
    ("glGetShaderiv", r"pname = GL_COMPILE_STATUS, params = &1"),
    ("glAttachShader", r"shader = 2"),
    ("glAttachShader", r"shader = 3"),
    ("glLinkProgram", r""),
    ("glDeleteShader", r"shader = 2"),
    ("glDeleteShader", r"shader = 3"),
    ("glGetUniformLocation", r'name = "uMVP"'),
    ("glGetUniformLocation", r'name = "uModel"'),
    ("glGetUniformLocation", r'name = "uColor"'),
]


def upload(size):
    return [
        ("glGenVertexArrays", r"n = 1"),
        ("glGenBuffers", r"n = 1"),
        ("glBindVertexArray", r""),
        ("glBindBuffer", r"target = GL_ARRAY_BUFFER"),
        ("glBufferData", rf"size = {size}, .*usage = GL_STATIC_DRAW"),
        ("glVertexAttribPointer", r"index = 0, size = 3, type = GL_FLOAT, normalized = GL_FALSE, stride = 24, "
                                  r"pointer = NULL"),
        ("glEnableVertexAttribArray", r"index = 0"),
        ("glVertexAttribPointer", r"index = 1, size = 3, type = GL_FLOAT, normalized = GL_FALSE, stride = 24, "
                                  r"pointer = 0xc"),
        ("glEnableVertexAttribArray", r"index = 1"),
    ]


def frame(boxes):
    calls = [
        ("glViewport", r"x = 0, y = 0, width = 1280, height = 720"),
        ("glClearColor", r"red = 0.06, green = 0.07, blue = 0.09, alpha = 1"),
        ("glClear", r"mask = GL_DEPTH_BUFFER_BIT \| GL_COLOR_BUFFER_BIT"),
        ("glUseProgram", r"program = 1"),
        ("glUniformMatrix4fv", r"location = 0, count = 1, transpose = GL_FALSE"),
        ("glUniformMatrix4fv", r"location = 1, count = 1, transpose = GL_FALSE, "
                               r"value = \{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1\}"),
        ("glUniform3f", r"location = 2, v0 = 0.2, v1 = 0.24, v2 = 0.3"),
        ("glBindVertexArray", r"array = 2"),
        ("glDrawArrays", r"mode = GL_LINES, first = 0, count = 484"),
        ("glBindVertexArray", r"array = 1"),
        ("glUniform3f", r"location = 2, v0 = 0.8, v1 = 0.45, v2 = 0.22"),
    ]
    for _ in range(boxes):
        calls += [
            ("glUniformMatrix4fv", r"location = 0, count = 1, transpose = GL_FALSE"),
            ("glUniformMatrix4fv", r"location = 1, count = 1, transpose = GL_FALSE"),
            ("glDrawArrays", r"mode = GL_TRIANGLES, first = 0, count = 36"),
        ]
    return calls + [("glXSwapBuffers", r"")]


def matches(calls, expected):
    return len(calls) == len(expected) and all(
        name == want and re.search(pattern, args, re.DOTALL) for (name, args), (want, pattern) in zip(calls, expected))


def recorded_calls(trace):
    dump = subprocess.run(["apitrace", "dump", "--color=never", trace], check=True, capture_output=True,
                          text=True).stdout
    calls = []
    # A call's text runs over several lines when an argument holds line feeds (the shader sources).
    for entry in re.split(r"\n(?=\d+ )", dump):
        found = re.match(r"^\d+ (gl\w+)\((.*)\)", entry, re.DOTALL)
        if found and "// fake" not in entry:
            calls.append((found.group(1), found.group(2)))
    return calls


def test_start_up_and_frames_make_exactly_their_gl_calls(xserver, fake_server, start_client, tmp_path):
    trace = str(tmp_path / "client.trace")
    client = start_client(["apitrace", "trace", "--output", trace, os.environ["BRASSMOOR_CLIENT"]],
                          env=client_env(xserver.name), traced=True)
    wait_for(fake_server.client_address, timeout=20, what="the first pose")
    fake_server.send(snapshot(5, [(5, 0, 0, 1.7, 0), (6, 1, 4, 1.7, 0), (7, -1, 4, 1.7, 2)]))
    wait_for(lambda: "others: 2" in (xserver.title() or ""), what="two others")
    xserver.key("Escape", True)
    try:
        assert client.wait(timeout=20) == 0
    finally:
        xserver.key("Escape", False)

    calls = recorded_calls(trace)
    # What comes before the depth test is GLFW's and the loader's own querying of the context.
    first = calls.index(next(c for c in calls if c[0] == "glEnable"))
    calls = calls[first:]
    start_up = START_UP + upload(864) + upload(11616)
    assert matches(calls[:len(start_up)], start_up), calls[:len(start_up)]

    rest = calls[len(start_up):]
    frames = {0: 0, 2: 0}
    while rest and rest[0][0] != "glXMakeCurrent" and rest[0][0] != "glXDestroyContext":
        length = next(i for i, c in enumerate(rest) if c[0] == "glXSwapBuffers") + 1
        boxes = (length - len(frame(0))) // 3
        assert boxes in frames and matches(rest[:length], frame(boxes)), rest[:length]
        frames[boxes] += 1
        rest = rest[length:]
    # The pass that sees Escape draws nothing; only the context's teardown follows.
    assert all(name.startswith("glX") and name != "glXSwapBuffers" for name, _ in rest), rest
    assert frames[0] >= 1 and frames[2] >= 1, frames
