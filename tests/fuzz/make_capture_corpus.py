#!/usr/bin/python3
"""Writes the seed corpus of the capture fuzz target: small pcap files of each layout the reader
takes, and of each way a file can be damaged or cut.

Usage: make_capture_corpus.py [DIRECTORY]   (default: the capture_corpus/ folder next to this script)
"""

import os
import struct
import sys


def file_header(link=101, big_endian=False, nanoseconds=False):
    order = ">" if big_endian else "<"
    magic = 0xA1B23C4D if nanoseconds else 0xA1B2C3D4
    return struct.pack(order + "IHHiIII", magic, 2, 4, 0, 0, 65535, link)


def ipv4_udp(payload, source=(127, 0, 0, 1, 5555), destination=(127, 0, 0, 1, 40123), protocol=17, fragment=0):
    total = 28 + len(payload)
    ip = struct.pack("!BBHHHBBH4B4B", 0x45, 0, total, 1, fragment, 64, protocol, 0, *source[:4], *destination[:4])
    return ip + struct.pack("!HHHH", source[4], destination[4], 8 + len(payload), 0) + payload


def record(packet, seconds=1, fraction=0, big_endian=False, kept=None):
    order = ">" if big_endian else "<"
    return struct.pack(order + "IIII", seconds, fraction, len(packet) if kept is None else kept, len(packet)) + packet


POSE = b"KV01\x01" + struct.pack("<5f", 1.0, 2.0, 1.7, 0.5, 0.0)
SNAPSHOT = b"KV01\x02" + struct.pack("<IH", 7, 1) + struct.pack("<I4f", 9, 1.0, 2.0, 1.7, 0.0)
QUERY = b"KV01\x03" + struct.pack("<I", 0x1234) + bytes(15)
ANSWER = b"KV01\x04" + struct.pack("<IIHHHHBBB", 0x1234, 77, 3, 1, 2, 64, 0, 2, 0)
ETHERNET = bytes(12) + b"\x08\x00"
VLAN = bytes(12) + b"\x81\x00\x00\x05\x08\x00"
COOKED = bytes(14) + b"\x08\x00"
COOKED2 = b"\x08\x00" + bytes(18)

GAME = file_header() + b"".join(record(ipv4_udp(p), 1, 30000 * i) for i, p in enumerate([POSE, SNAPSHOT, QUERY, ANSWER]))

SEEDS = {
    "a_game_raw_ip": GAME,
    "header_only": file_header(),
    "big_endian_nanoseconds": file_header(big_endian=True, nanoseconds=True) +
    record(ipv4_udp(SNAPSHOT), 2, 500000000, big_endian=True),
    "ethernet_and_vlan_padded": file_header(link=1) + record(ETHERNET + ipv4_udp(b"hi") + bytes(16)) +
    record(VLAN + ipv4_udp(POSE)),
    "linux_cooked": file_header(link=113) + record(COOKED + ipv4_udp(POSE)) + record(COOKED + ipv4_udp(SNAPSHOT)),
    "linux_cooked_2": file_header(link=276) + record(COOKED2 + ipv4_udp(POSE)),
    "ipv4_link_type_228": file_header(link=228) + record(ipv4_udp(b"")),
    "cut_inside_a_record": GAME[:-7],
    "cut_inside_a_record_header": GAME + record(ipv4_udp(POSE))[:9],
    "record_claiming_too_much": file_header() + record(ipv4_udp(POSE), kept=0x7FFFFFFF),
    "snap_length_cut": file_header() + record(ipv4_udp(SNAPSHOT)[:30]),
    "fragments_tcp_ipv6": file_header() + record(ipv4_udp(POSE, fragment=0x2000)) +
    record(ipv4_udp(POSE, fragment=0x0010)) + record(ipv4_udp(POSE, protocol=6)) + record(b"\x60" + bytes(39)),
    "udp_length_past_the_packet": file_header() + record(ipv4_udp(POSE)[:24] + b"\x01\x00" + ipv4_udp(POSE)[26:]),
    "pcapng_section": b"\x0a\x0d\x0d\x0a" + struct.pack("<I", 28) + b"\x4d\x3c\x2b\x1a" + bytes(16),
    "version_1": struct.pack("<IHHiIII", 0xA1B2C3D4, 1, 0, 0, 0, 65535, 101),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                "capture_corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(SEEDS)} seeds to {folder}")


if __name__ == "__main__":
    main()
