// The pcap records the capture writes, pinned byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "pcap_records.h"

namespace brassmoor {
namespace {

TEST(PcapRecords, FileHeaderSaysLittleEndianMicrosecondsRawIp) {
    const std::array<std::uint8_t, 24> expected = {0xd4, 0xc3, 0xb2, 0xa1, 0x02, 0x00, 0x04, 0x00,
                                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                   0xff, 0xff, 0x00, 0x00, 0x65, 0x00, 0x00, 0x00};
    EXPECT_EQ(encodePcapFileHeader(), expected);
}

TEST(PcapRecords, RecordCarriesTheDatagramInIpv4AndUdpHeadersOfItsEndpoints) {
    std::vector<std::uint8_t> record;
    const std::array<std::uint8_t, 4> payload = {'K', 'V', '0', '1'};
    ASSERT_TRUE(encodePcapRecord(1700000000123456u, Ipv4Endpoint{0x7F000001u, 5555}, Ipv4Endpoint{0x0A000002u, 40123},
                                 0x1234, payload, record));
    const std::vector<std::uint8_t> expected = {
        0x00, 0xf1, 0x53, 0x65, 0x40, 0xe2, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,  // record
        0x45, 0x00, 0x00, 0x20, 0x12, 0x34, 0x00, 0x00, 0x40, 0x11, 0xdf, 0x96,                          // IPv4
        0x7f, 0x00, 0x00, 0x01, 0x0a, 0x00, 0x00, 0x02,                                                  //
        0x15, 0xb3, 0x9c, 0xbb, 0x00, 0x0c, 0x00, 0x00,                                                  // UDP
        'K', 'V', '0', '1'};
    EXPECT_EQ(record, expected);
}

TEST(PcapRecords, LongestIpv4DatagramFitsAndOneMoreByteDoesNot) {
    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> payload(MaxUdpPayload, 0xAB);
    ASSERT_TRUE(encodePcapRecord(0, Ipv4Endpoint{1, 2}, Ipv4Endpoint{3, 4}, 0, payload, record));
    EXPECT_EQ(record.size(), 16u + 65535u);
    EXPECT_EQ(record[16 + 2], 0xff);
    EXPECT_EQ(record[16 + 3], 0xff);
    payload.push_back(0);
    EXPECT_FALSE(encodePcapRecord(0, Ipv4Endpoint{1, 2}, Ipv4Endpoint{3, 4}, 0, payload, record));
    EXPECT_TRUE(record.empty());
}

}  // namespace
}  // namespace brassmoor
