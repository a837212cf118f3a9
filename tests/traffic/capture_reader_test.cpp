// Reading captures back: the layouts of other tools' files, and what is not a whole UDP datagram.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "capture_reader.h"

namespace brassmoor {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A file header in the classic layout, fields little-endian, with the given link type.
Bytes littleEndianHeader(std::uint32_t linkType) {
    return {0xd4, 0xc3, 0xb2, 0xa1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0,
            static_cast<std::uint8_t>(linkType), static_cast<std::uint8_t>(linkType >> 8), 0, 0};
}

void appendRecord(Bytes& file, const Bytes& packet) {
    const auto n = static_cast<std::uint8_t>(packet.size());
    const Bytes header = {1, 0, 0, 0, 0, 0, 0, 0, n, 0, 0, 0, n, 0, 0, 0};
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), packet.begin(), packet.end());
}

// IPv4 + UDP from 10.0.0.1:1000 to 10.0.0.2:2000 carrying "hi"; the checksum is not read.
const Bytes UdpPacket = {0x45, 0, 0, 30, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2,
                         0x03, 0xe8, 0x07, 0xd0, 0, 10, 0, 0, 'h', 'i'};

std::string readText(std::span<const std::uint8_t> bytes) {
    CaptureContents contents;
    std::string error;
    EXPECT_FALSE(readCapture(bytes, contents, error));
    return error;
}

TEST(CaptureReader, ReadsBigEndianFilesWithNanosecondTimes) {
    Bytes file = {0xa1, 0xb2, 0x3c, 0x4d, 0, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 101};
    const Bytes header = {0, 0, 0, 2, 0x1d, 0xcd, 0x65, 0x00, 0, 0, 0, 30, 0, 0, 0, 30};  // 2.5 s
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), UdpPacket.begin(), UdpPacket.end());
    CaptureContents contents;
    std::string error;
    ASSERT_TRUE(readCapture(file, contents, error)) << error;
    ASSERT_EQ(contents.datagrams.size(), 1u);
    EXPECT_DOUBLE_EQ(contents.datagrams[0].seconds, 2.5);
    EXPECT_EQ(contents.datagrams[0].source, (Ipv4Endpoint{0x0A000001u, 1000}));
    EXPECT_EQ(contents.datagrams[0].destination, (Ipv4Endpoint{0x0A000002u, 2000}));
}

TEST(CaptureReader, FindsIpv4BehindEthernetVlanAndLinuxCookedHeaders) {
    const Bytes ethernet = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x08, 0x00};
    const Bytes vlan = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x81, 0x00, 0x00, 0x05, 0x08, 0x00};
    const Bytes cooked = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
    const Bytes cooked2 = {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
    const std::pair<std::uint32_t, Bytes> layouts[] = {{1, ethernet}, {1, vlan}, {113, cooked}, {276, cooked2}};
    for (const auto& [linkType, linkHeader] : layouts) {
        Bytes file = littleEndianHeader(linkType);
        Bytes packet = linkHeader;
        packet.insert(packet.end(), UdpPacket.begin(), UdpPacket.end());
        packet.insert(packet.end(), {0, 0, 0, 0});  // Ethernet pads short frames
        appendRecord(file, packet);
        CaptureContents contents;
        std::string error;
        ASSERT_TRUE(readCapture(file, contents, error)) << error;
        ASSERT_EQ(contents.datagrams.size(), 1u) << linkType;
        EXPECT_EQ(Bytes(contents.datagrams[0].payload.begin(), contents.datagrams[0].payload.end()),
                  (Bytes{'h', 'i'}));
    }
}

TEST(CaptureReader, CountsWhatIsNotAWholeUdpDatagram) {
    Bytes file = littleEndianHeader(101);
    Bytes tcp = UdpPacket;
    tcp[9] = 6;
    Bytes fragment = UdpPacket;
    fragment[6] = 0x20;  // more fragments follow
    Bytes laterFragment = UdpPacket;
    laterFragment[7] = 0x10;
    const Bytes cut(UdpPacket.begin(), UdpPacket.end() - 1);  // the snap length took the last byte
    Bytes udpTooLong = UdpPacket;
    udpTooLong[25] = 11;  // the UDP length claims a byte the IPv4 packet does not hold
    Bytes headerTooLong = UdpPacket;
    headerTooLong[3] = 19;  // total length shorter than the header
    const Bytes ipv6 = {0x60, 0, 0, 0};
    for (const Bytes& packet : {tcp, fragment, laterFragment, cut, udpTooLong, headerTooLong, ipv6, UdpPacket})
        appendRecord(file, packet);
    CaptureContents contents;
    std::string error;
    ASSERT_TRUE(readCapture(file, contents, error)) << error;
    EXPECT_EQ(contents.records, 8u);
    EXPECT_EQ(contents.datagrams.size(), 1u);
    EXPECT_EQ(contents.notUdp, 2u);
    EXPECT_EQ(contents.fragments, 2u);
    EXPECT_EQ(contents.cutByCapture, 1u);
    EXPECT_EQ(contents.damaged, 2u);
}

TEST(CaptureReader, RefusesVersionsAndLinkTypesItDoesNotRead) {
    Bytes oldVersion = littleEndianHeader(101);
    oldVersion[4] = 1;
    EXPECT_EQ(readText(oldVersion), "pcap version 1.4 is not read here (2.4 is)");
    EXPECT_EQ(readText(littleEndianHeader(105)),
              "link type 105 is not read here (raw IP 101 or 228, Ethernet 1, Linux cooked 113 or 276 are)");
    const Bytes header = littleEndianHeader(101);
    EXPECT_EQ(readText(std::span(header).first(23)), "too short for a pcap file (23 bytes, a header is 24)");
}

}  // namespace
}  // namespace brassmoor
