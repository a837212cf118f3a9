"""brassmoor.lua under tshark: a hand-made set of datagrams, each well-formed or damaged in one way
the client or the server rejects or ignores, and the expert information each must raise (and no
other); the info column; the fields; the heuristic on ports other than 40123."""

import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from pcap_files import write_pcap  # noqa: E402

TSHARK = os.environ.get("TSHARK", "tshark")
DISSECTOR = os.environ.get("BRASSMOOR_DISSECTOR", os.path.join(HERE, "..", "..", "tools", "dissector",
                                                                "brassmoor.lua"))
CLIENT = ("127.0.0.1", 40500)
SERVER = ("127.0.0.1", 40123)

EXPERTS = ["brassmoor.short_header", "brassmoor.bad_magic", "brassmoor.unknown_type", "brassmoor.pose.wrong_length",
           "brassmoor.snapshot.short", "brassmoor.snapshot.missing_entries", "brassmoor.snapshot.trailing_bytes",
           "brassmoor.snapshot.beyond_client_buffer", "brassmoor.query.short", "brassmoor.answer.short",
           "brassmoor.answer.extra_bytes", "brassmoor.answer.name_past_end"]


def pose(x=1.0, y=2.0, yaw=0.5, pitch=-0.25):
    return b"KV01\x01" + struct.pack("<5f", x, y, 1.7, yaw, pitch)


def entries(count, first_id=9):
    return b"".join(struct.pack("<I4f", first_id + i, float(i), 2.0, 1.7, 0.0) for i in range(count))


def snapshot(self_id, announced, carried, extra=b""):
    return b"KV01\x02" + struct.pack("<IH", self_id, announced) + entries(carried) + extra


def query(length=24):
    return (b"KV01\x03" + struct.pack("<I", 0x1234ABCD) + bytes(80))[:length]


def answer(length=24, tail=b"\xff" * 8):
    whole = b"KV01\x04" + struct.pack("<IIHHHHBBB", 0x1234ABCD, 0xFEED, 5, 2, 3, 64, 0, 2, 0)
    return (whole + tail)[:length]


# (what, source, destination, payload, expert information expected, info column)
CASES = [
    ("a pose", CLIENT, SERVER, pose(), set(), "pose x=1.00 y=2.00 yaw=0.50 pitch=-0.25"),
    ("a snapshot", SERVER, CLIENT, snapshot(7, 2, 2), set(), "snapshot self=7, 2 players"),
    ("an empty snapshot", SERVER, CLIENT, snapshot(7, 0, 0), set(), "snapshot self=7, 0 players"),
    ("a query", CLIENT, SERVER, query(), set(), "info query nonce=0x1234abcd"),
    ("an answer", SERVER, CLIENT, answer(), set(),
     "info answer: 5 players (2 clients, 3 bots, at most 64 clients), version 0.2.0"),
    ("three bytes", CLIENT, SERVER, b"KV0", {"brassmoor.short_header"}, None),
    ("the magic alone", CLIENT, SERVER, b"KV01", {"brassmoor.short_header"}, None),
    ("a wrong magic", CLIENT, SERVER, b"KV02" + pose()[4:], {"brassmoor.bad_magic"}, None),
    ("the magic in lower case", SERVER, CLIENT, b"kv01" + snapshot(7, 0, 0)[4:], {"brassmoor.bad_magic"}, None),
    ("an unknown type", CLIENT, SERVER, b"KV01\x09" + bytes(20), {"brassmoor.unknown_type"}, None),
    ("a pose a byte short", CLIENT, SERVER, pose()[:24], {"brassmoor.pose.wrong_length"}, None),
    ("a pose a byte long", CLIENT, SERVER, pose() + b"\x00", {"brassmoor.pose.wrong_length"}, None),
    ("a snapshot of 10 bytes", SERVER, CLIENT, snapshot(7, 0, 0)[:10], {"brassmoor.snapshot.short"}, None),
    ("a snapshot announcing 3 carrying 2", SERVER, CLIENT, snapshot(7, 3, 2),
     {"brassmoor.snapshot.missing_entries"}, "snapshot self=7, 2 of 3 players"),
    ("a snapshot of 50 bytes announcing 3", SERVER, CLIENT, snapshot(7, 3, 2)[:50],
     {"brassmoor.snapshot.missing_entries", "brassmoor.snapshot.trailing_bytes"}, None),
    ("a snapshot with bytes after its last entry", SERVER, CLIENT, snapshot(7, 1, 1, b"\x01\x02\x03"),
     {"brassmoor.snapshot.trailing_bytes"}, None),
    ("a snapshot announcing none carrying 40 bytes", SERVER, CLIENT, snapshot(7, 0, 2),
     {"brassmoor.snapshot.trailing_bytes"}, None),
    ("a snapshot of 205 entries", SERVER, CLIENT, snapshot(7, 205, 205),
     {"brassmoor.snapshot.beyond_client_buffer"}, None),
    ("a query of 23 bytes", CLIENT, SERVER, query(23), {"brassmoor.query.short"}, None),
    ("an answer of 20 bytes", SERVER, CLIENT, answer(20), {"brassmoor.answer.short"}, None),
    ("a query with room for a name", CLIENT, SERVER, query(73), set(),
     "info query nonce=0x1234abcd, room for a name of 48 bytes"),
    ("an answer with a name", SERVER, CLIENT, answer(30, "\x05Caf\u00e9".encode()), set(),
     "info answer: 5 players (2 clients, 3 bots, at most 64 clients), version 0.2.0, name \"Caf\u00e9\""),
    ("an answer whose name runs past it", SERVER, CLIENT, answer(28), {"brassmoor.answer.name_past_end"}, None),
    ("an answer with bytes after its name", SERVER, CLIENT, answer(30, b"\x02hi\x00\x00\x00"),
     {"brassmoor.answer.extra_bytes"}, None),
]

# On other ports: (what, source, destination, payload, read as Brassmoor, expert information)
OTHER_PORTS = [
    ("a pose between two other ports", ("10.0.0.1", 5000), ("10.0.0.2", 6000), pose(), True, set()),
    # The conversation is known from the pose on: a damaged datagram in it is still shown.
    ("a damaged snapshot back in that conversation", ("10.0.0.2", 6000), ("10.0.0.1", 5000),
     b"KX01" + snapshot(3, 0, 0)[4:], True, {"brassmoor.bad_magic"}),
    ("other bytes between two other ports", ("10.0.0.3", 7000), ("10.0.0.4", 8000), b"hello there", False, set()),
]


def dissect(datagrams, *fields):
    """One row of fields per datagram, as tshark with the dissector shows them."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "cases.pcap")
        write_pcap(path, [(1.0 + 0.01 * i, source, destination, payload)
                          for i, (source, destination, payload) in enumerate(datagrams)])
        command = [TSHARK, "-X", f"lua_script:{DISSECTOR}", "-r", path, "-T", "fields", "-E", "occurrence=a"]
        for field in fields:
            command += ["-e", field]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    # tshark exits 0 even when the script failed to load or threw.
    assert "Lua Error" not in result.stderr and "Lua Error" not in result.stdout, result.stderr
    assert result.returncode == 0, result.stderr
    rows = [line.split("\t") for line in result.stdout.splitlines()]
    assert len(rows) == len(datagrams)
    return rows


def raised(row):
    return {name for name, value in zip(EXPERTS, row) if value}


def test_each_datagram_raises_the_expert_information_for_what_is_wrong_with_it():
    rows = dissect([(source, destination, payload) for _, source, destination, payload, _, _ in CASES],
                   "frame.protocols", "_ws.col.Info", *EXPERTS)
    for (what, _, _, _, expected, info), (protocols, column, *experts) in zip(CASES, rows):
        assert protocols.endswith(":brassmoor"), what
        assert raised(experts) == expected, what
        if info is not None:
            assert column == info, what


def test_other_ports_are_read_by_the_magic_and_the_conversation():
    rows = dissect([(source, destination, payload) for _, source, destination, payload, _, _ in OTHER_PORTS],
                   "frame.protocols", *EXPERTS)
    for (what, _, _, _, ours, expected), (protocols, *experts) in zip(OTHER_PORTS, rows):
        assert protocols.endswith(":brassmoor") == ours, what
        assert raised(experts) == expected, what


def test_fields_are_named_typed_and_little_endian():
    fields = ["brassmoor.snapshot.entries", "brassmoor.entry.peer_id", "brassmoor.entry.x", "brassmoor.nonce",
              "brassmoor.answer.instance", "brassmoor.answer.max_clients", "brassmoor.answer.version_minor"]
    rows = dissect([(SERVER, CLIENT, snapshot(7, 2, 2)), (SERVER, CLIENT, answer())], *fields)
    assert rows == [["2", "9,10", "0,1", "", "", "", ""], ["", "", "", "0x1234abcd", "0x0000feed", "64", "2"]]
