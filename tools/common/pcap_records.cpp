// pcap records as the helper programs write them: the file header, and each datagram in an IPv4
// and a UDP header built from its real endpoints.
#include "pcap_records.h"

#include <algorithm>

#include "net/wire_bytes.h"

namespace brassmoor {

namespace {

constexpr std::uint8_t Ipv4VersionAndLength = 0x45;  // version 4, 5 words of header
constexpr std::uint8_t TimeToLive = 64;
constexpr std::uint8_t ProtocolUdp = 17;
constexpr std::size_t ChecksumOffset = 10;

void putU16BigEndian(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value & 0xFFu);
}

void putU32BigEndian(std::uint8_t* at, std::uint32_t value) {
    putU16BigEndian(at, static_cast<std::uint16_t>(value >> 16));
    putU16BigEndian(at + 2, static_cast<std::uint16_t>(value & 0xFFFFu));
}

}  // namespace

std::array<std::uint8_t, PcapFileHeaderSize> encodePcapFileHeader() {
    std::array<std::uint8_t, PcapFileHeaderSize> header{};
    std::uint8_t* at = header.data();
    putU32(at, PcapMagicMicroseconds);
    putU16(at + 4, 2);
    putU16(at + 6, 4);
    // Zone and accuracy stay 0: time stamps are UTC.
    putU32(at + 16, PcapSnapLength);
    putU32(at + 20, LinkTypeRawIp);
    return header;
}

std::uint16_t ipv4HeaderChecksum(std::span<const std::uint8_t, Ipv4HeaderSize> header) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < Ipv4HeaderSize; i += 2) {
        if (i == ChecksumOffset) continue;
        sum += static_cast<std::uint32_t>(header[i] << 8 | header[i + 1]);
    }
    while (sum > 0xFFFFu)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFFu);
}

bool encodePcapRecord(std::uint64_t microseconds, const Ipv4Endpoint& source, const Ipv4Endpoint& destination,
                      std::uint16_t identification, std::span<const std::uint8_t> payload,
                      std::vector<std::uint8_t>& record) {
    record.clear();
    if (payload.size() > MaxUdpPayload) return false;
    const std::size_t udpLength = UdpHeaderSize + payload.size();
    const std::size_t packetLength = Ipv4HeaderSize + udpLength;
    record.resize(PcapRecordHeaderSize + packetLength);
    std::uint8_t* at = record.data();

    putU32(at, static_cast<std::uint32_t>(microseconds / 1000000u));
    putU32(at + 4, static_cast<std::uint32_t>(microseconds % 1000000u));
    putU32(at + 8, static_cast<std::uint32_t>(packetLength));
    putU32(at + 12, static_cast<std::uint32_t>(packetLength));

    std::uint8_t* ip = at + PcapRecordHeaderSize;
    ip[0] = Ipv4VersionAndLength;
    ip[1] = 0;  // type of service
    putU16BigEndian(ip + 2, static_cast<std::uint16_t>(packetLength));
    putU16BigEndian(ip + 4, identification);
    putU16BigEndian(ip + 6, 0);  // flags and fragment offset: a whole datagram
    ip[8] = TimeToLive;
    ip[9] = ProtocolUdp;
    putU32BigEndian(ip + 12, source.address);
    putU32BigEndian(ip + 16, destination.address);
    putU16BigEndian(ip + ChecksumOffset,
                    ipv4HeaderChecksum(std::span<const std::uint8_t, Ipv4HeaderSize>(ip, Ipv4HeaderSize)));

    std::uint8_t* udp = ip + Ipv4HeaderSize;
    putU16BigEndian(udp, source.port);
    putU16BigEndian(udp + 2, destination.port);
    putU16BigEndian(udp + 4, static_cast<std::uint16_t>(udpLength));
    putU16BigEndian(udp + 6, 0);  // no checksum, which IPv4 allows
    std::copy(payload.begin(), payload.end(), udp + UdpHeaderSize);
    return true;
}

}  // namespace brassmoor
