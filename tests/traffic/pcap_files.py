"""pcap files for the traffic tests, read and written from the format's own layout (not from the
programs' code): classic pcap, link type 101 (raw IPv4)."""

import struct

LINK_RAW_IP = 101


class Record:
    """One record: its time, the IPv4 and UDP headers' fields and the payload."""

    def __init__(self, seconds, source, destination, payload, ip_header=b"", udp_length=None):
        self.seconds = seconds
        self.source = source  # ("a.b.c.d", port)
        self.destination = destination
        self.payload = payload
        self.ip_header = ip_header
        self.udp_length = udp_length

    def __repr__(self):
        return f"Record({self.seconds:.6f}, {self.source} -> {self.destination}, {len(self.payload)} bytes)"


def ip_checksum(header):
    total = sum(struct.unpack("!10H", header))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def read_pcap(path):
    """(link type, [Record]) of a little-endian, microsecond pcap file of raw IPv4 UDP packets; any
    departure from that, or a record cut short, fails an assertion."""
    with open(path, "rb") as f:
        data = f.read()
    assert len(data) >= 24, f"{path}: {len(data)} bytes, no pcap header"
    magic, major, minor, _zone, _sigfigs, snaplen, link = struct.unpack_from("<IHHiIII", data, 0)
    assert magic == 0xA1B2C3D4, hex(magic)
    assert (major, minor) == (2, 4)
    assert snaplen >= 65535
    records = []
    offset = 24
    while offset < len(data):
        assert offset + 16 <= len(data), f"record header cut short at byte {offset}"
        seconds, micros, kept, wire = struct.unpack_from("<IIII", data, offset)
        assert kept == wire and micros < 1000000
        offset += 16
        assert offset + kept <= len(data), f"record cut short at byte {offset}"
        packet = data[offset:offset + kept]
        offset += kept
        version_length, _tos, total, _ident, fragment, _ttl, protocol, _checksum = struct.unpack_from(
            "!BBHHHBBH", packet, 0)
        assert version_length == 0x45 and total == kept and fragment == 0 and protocol == 17, packet[:20].hex()
        assert ip_checksum(packet[:20]) == 0, "IPv4 header checksum"
        source = ".".join(str(b) for b in packet[12:16])
        destination = ".".join(str(b) for b in packet[16:20])
        sport, dport, udp_length, udp_checksum = struct.unpack_from("!HHHH", packet, 20)
        assert udp_length == kept - 20 and udp_checksum == 0
        records.append(Record(seconds + micros / 1e6, (source, sport), (destination, dport), packet[28:],
                              packet[:20], udp_length))
    return link, records


def write_pcap(path, datagrams):
    """Writes [(seconds, (source address, port), (destination address, port), payload)]."""
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, LINK_RAW_IP))
        for ident, (seconds, source, destination, payload) in enumerate(datagrams):
            total = 28 + len(payload)
            header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, total, ident & 0xFFFF, 0, 64, 17, 0,
                                 bytes(int(p) for p in source[0].split(".")),
                                 bytes(int(p) for p in destination[0].split(".")))
            header = header[:10] + struct.pack("!H", ip_checksum(header)) + header[12:]
            udp = struct.pack("!HHHH", source[1], destination[1], 8 + len(payload), 0)
            whole, fraction = divmod(round(seconds * 1e6), 1000000)
            f.write(struct.pack("<IIII", whole, fraction, total, total))
            f.write(header + udp + payload)
