// Reading captures back: the capture's own files, other tools' layouts, and damaged or cut files.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "pcap_records.h"

namespace brassmoor {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Ipv4Endpoint Client{0x7F000001u, 5555};
const Ipv4Endpoint Server{0x7F000001u, 40123};

Bytes fileOf(const std::vector<Bytes>& payloads) {
    const auto header = encodePcapFileHeader();
    Bytes file(header.begin(), header.end());
    std::vector<std::uint8_t> record;
    std::uint64_t microseconds = 1000000;
    for (const Bytes& payload : payloads) {
        EXPECT_TRUE(encodePcapRecord(microseconds, Client, Server, 0, payload, record));
        file.insert(file.end(), record.begin(), record.end());
        microseconds += 250000;
    }
    return file;
}

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

TEST(CaptureReader, ReadsBackWhatTheCaptureWrites) {
    const Bytes file = fileOf({{'a'}, {}, {'b', 'c', 'd'}});
    CaptureContents contents;
    std::string error;
    ASSERT_TRUE(readCapture(file, contents, error)) << error;
    EXPECT_EQ(contents.linkType, 101u);
    EXPECT_EQ(contents.records, 3u);
    ASSERT_EQ(contents.datagrams.size(), 3u);
    EXPECT_FALSE(contents.cutShort);
    EXPECT_DOUBLE_EQ(contents.datagrams[0].seconds, 1.0);
    EXPECT_DOUBLE_EQ(contents.datagrams[2].seconds, 1.5);
    EXPECT_EQ(contents.datagrams[0].source, Client);
    EXPECT_EQ(contents.datagrams[0].destination, Server);
    EXPECT_EQ(Bytes(contents.datagrams[0].payload.begin(), contents.datagrams[0].payload.end()), Bytes{'a'});
    EXPECT_TRUE(contents.datagrams[1].payload.empty());
    EXPECT_EQ(Bytes(contents.datagrams[2].payload.begin(), contents.datagrams[2].payload.end()),
              (Bytes{'b', 'c', 'd'}));
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

TEST(CaptureReader, FileEndingInsideARecordGivesTheRecordsBeforeIt) {
    const Bytes whole = fileOf({{'a'}, {'b', 'b'}});
    const std::size_t secondRecord = 24 + 16 + 28 + 1;
    for (std::size_t cut : {secondRecord + 3, secondRecord + 16, whole.size() - 1}) {
        CaptureContents contents;
        std::string error;
        ASSERT_TRUE(readCapture(std::span<const std::uint8_t>(whole).first(cut), contents, error)) << error;
        EXPECT_EQ(contents.datagrams.size(), 1u) << cut;
        EXPECT_TRUE(contents.cutShort);
        EXPECT_EQ(contents.cutShortAt, secondRecord);
    }
}

TEST(CaptureReader, EveryPrefixOfAFileIsReadWithoutReadingPastIt) {
    const Bytes whole = fileOf({{'a'}, {}, {'c', 'c', 'c'}, Bytes(300, 'd')});
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        // A copy of exactly this size, so that a read past its end is a sanitizer's error.
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        CaptureContents contents;
        std::string error;
        EXPECT_EQ(readCapture(prefix, contents, error), size >= 24) << size;
        EXPECT_LE(contents.datagrams.size(), 4u);
    }
}

TEST(CaptureReader, RefusesFilesItDoesNotRead) {
    EXPECT_EQ(readText(Bytes(3, 0xd4)), "too short for a pcap file (3 bytes, a header is 24)");
    const Bytes header = littleEndianHeader(101);
    EXPECT_EQ(readText(std::span(header).first(23)), "too short for a pcap file (23 bytes, a header is 24)");
    Bytes pcapng(28, 0);
    pcapng[0] = 0x0a, pcapng[1] = 0x0d, pcapng[2] = 0x0d, pcapng[3] = 0x0a;
    EXPECT_EQ(readText(pcapng), "a pcapng file, which is not read here: convert it with 'editcap -F pcap FILE NEW'");
    const std::string text = "root:x:0:0:root:/root:/bin/bash\n";
    EXPECT_EQ(readText(Bytes(text.begin(), text.end())), "not a pcap file (it starts with 72 6f 6f 74)");
    Bytes oldVersion = littleEndianHeader(101);
    oldVersion[4] = 1;
    EXPECT_EQ(readText(oldVersion), "pcap version 1.4 is not read here (2.4 is)");
    EXPECT_EQ(readText(littleEndianHeader(105)),
              "link type 105 is not read here (raw IP 101 or 228, Ethernet 1, Linux cooked 113 or 276 are)");
}

TEST(CaptureReader, RecordClaimingMoreThanAnyCaptureHoldsIsDamage) {
    Bytes file = fileOf({{'a'}});
    const Bytes huge = {0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x10, 0x00, 0, 0, 0, 0};  // 1 MiB and a byte
    file.insert(file.end(), huge.begin(), huge.end());
    CaptureContents contents;
    std::string error;
    EXPECT_FALSE(readCapture(file, contents, error));
    EXPECT_EQ(error, "record 2 at byte 69 claims 1048577 bytes, more than any capture holds: the file is damaged");
    EXPECT_EQ(contents.datagrams.size(), 1u);
}

}  // namespace
}  // namespace brassmoor
