// pcap records as the helper programs write them: each datagram in an IPv4 and a UDP header.
//
// The classic pcap format (not pcapng), written in little-endian order, microsecond time stamps,
// link type 101 (raw IP: the packet starts with its IPv4 header, no link layer).
//
//   File header, 24 bytes
//     0  magic 0xA1B2C3D4 (u32; read back as D4 C3 B2 A1 it says little-endian, microseconds)
//     4  version 2 (u16)   6  minor 4 (u16)   8  zone 0 (i32)   12  accuracy 0 (u32)
//     16 snap length 65535 (u32)   20  link type 101 (u32)
//   Record, 16 + 28 + n bytes for an n-byte datagram
//     0  seconds (u32)   4  microseconds (u32)   8  bytes kept (u32)   12  bytes on the wire (u32)
//     16 IPv4 header, big-endian as on the wire: version 4 and length 5 words, total length,
//        identification, no fragment, time to live 64, protocol 17, header checksum, source,
//        destination
//     36 UDP header, big-endian: source port, destination port, length 8 + n, checksum 0 ("none")
//     44 the datagram's n bytes
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ipv4_endpoint.h"

namespace brassmoor {

inline constexpr std::size_t PcapFileHeaderSize = 24;
inline constexpr std::size_t PcapRecordHeaderSize = 16;
inline constexpr std::size_t Ipv4HeaderSize = 20;
inline constexpr std::size_t UdpHeaderSize = 8;
inline constexpr std::uint32_t PcapMagicMicroseconds = 0xA1B2C3D4u;
inline constexpr std::uint32_t PcapSnapLength = 65535;
inline constexpr std::uint32_t LinkTypeRawIp = 101;
// The longest payload an IPv4 packet of at most 65535 bytes can carry over UDP.
inline constexpr std::size_t MaxUdpPayload = 65535 - Ipv4HeaderSize - UdpHeaderSize;

std::array<std::uint8_t, PcapFileHeaderSize> encodePcapFileHeader();

// One record for `payload` sent from `source` to `destination` at `microseconds` since 1970,
// written into `record` (its old content replaced, its capacity reused). False, leaving `record`
// empty, for a payload longer than MaxUdpPayload, which no IPv4 packet can carry.
bool encodePcapRecord(std::uint64_t microseconds, const Ipv4Endpoint& source, const Ipv4Endpoint& destination,
                      std::uint16_t identification, std::span<const std::uint8_t> payload,
                      std::vector<std::uint8_t>& record);

// The IPv4 header checksum: the ones' complement of the ones' complement sum of the header's
// 16-bit words, its checksum field counted as zero.
std::uint16_t ipv4HeaderChecksum(std::span<const std::uint8_t, Ipv4HeaderSize> header);

}  // namespace brassmoor
