// Reading a pcap file's UDP datagrams back, each length checked before the bytes it covers are read.
#include "capture_reader.h"

#include <cstdio>

namespace brassmoor {

namespace {

constexpr std::uint32_t MagicMicroseconds = 0xA1B2C3D4u;
constexpr std::uint32_t MagicNanoseconds = 0xA1B23C4Du;
constexpr std::uint32_t MagicPcapng = 0x0A0D0D0Au;  // a section header block, the same either way round

constexpr std::uint32_t LinkEthernet = 1;
constexpr std::uint32_t LinkRawIp = 101;
constexpr std::uint32_t LinkLinuxCooked = 113;
constexpr std::uint32_t LinkIpv4 = 228;
constexpr std::uint32_t LinkLinuxCooked2 = 276;

constexpr std::uint16_t EtherTypeIpv4 = 0x0800;
constexpr std::uint16_t EtherTypeVlan = 0x8100;
constexpr std::uint8_t ProtocolUdp = 17;

constexpr std::size_t FileHeaderSize = 24;
constexpr std::size_t RecordHeaderSize = 16;
constexpr std::size_t Ipv4MinimumHeader = 20;
constexpr std::size_t UdpHeader = 8;

// The file header's fields, read in the order its magic says.
struct FileFormat {
    bool swapped = false;  // written big-endian
    double fraction = 1e-6;  // seconds per unit of the time stamp's second field
};

std::uint32_t readU32(const std::uint8_t* at, bool bigEndian) {
    if (bigEndian) {
        return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
               static_cast<std::uint32_t>(at[2]) << 8 | static_cast<std::uint32_t>(at[3]);
    }
    return static_cast<std::uint32_t>(at[3]) << 24 | static_cast<std::uint32_t>(at[2]) << 16 |
           static_cast<std::uint32_t>(at[1]) << 8 | static_cast<std::uint32_t>(at[0]);
}

std::uint16_t readU16(const std::uint8_t* at, bool bigEndian) {
    return bigEndian ? static_cast<std::uint16_t>(at[0] << 8 | at[1]) : static_cast<std::uint16_t>(at[1] << 8 | at[0]);
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02x", byte);
        if (!text.empty()) text += ' ';
        text += two;
    }
    return text;
}

bool readFileHeader(std::span<const std::uint8_t> file, FileFormat& format, std::uint32_t& linkType,
                    std::string& error) {
    if (file.size() < 4) {
        error = "too short for a pcap file (" + std::to_string(file.size()) + " bytes, a header is 24)";
        return false;
    }
    const std::uint32_t magic = readU32(file.data(), false);
    if (magic == MagicPcapng) {
        error = "a pcapng file, which is not read here: convert it with 'editcap -F pcap FILE NEW'";
        return false;
    }
    if (magic == MagicMicroseconds || magic == MagicNanoseconds) {
        format.swapped = false;
    } else if (readU32(file.data(), true) == MagicMicroseconds || readU32(file.data(), true) == MagicNanoseconds) {
        format.swapped = true;
    } else {
        error = "not a pcap file (it starts with " + hexBytes(file.first(4)) + ")";
        return false;
    }
    if (file.size() < FileHeaderSize) {
        error = "too short for a pcap file (" + std::to_string(file.size()) + " bytes, a header is 24)";
        return false;
    }
    format.fraction = readU32(file.data(), format.swapped) == MagicNanoseconds ? 1e-9 : 1e-6;
    const std::uint16_t major = readU16(file.data() + 4, format.swapped);
    const std::uint16_t minor = readU16(file.data() + 6, format.swapped);
    if (major != 2) {
        error = "pcap version " + std::to_string(major) + "." + std::to_string(minor) + " is not read here (2.4 is)";
        return false;
    }
    // The link type's upper bits may carry flags (FCS length); the type is the low 16.
    linkType = readU32(file.data() + 20, format.swapped) & 0xFFFFu;
    if (linkType != LinkEthernet && linkType != LinkRawIp && linkType != LinkLinuxCooked && linkType != LinkIpv4 &&
        linkType != LinkLinuxCooked2) {
        error = "link type " + std::to_string(linkType) +
                " is not read here (raw IP 101 or 228, Ethernet 1, Linux cooked 113 or 276 are)";
        return false;
    }
    return true;
}

// Where the IP packet starts in a record's bytes, or false when the record holds no IPv4 packet.
bool findIpv4Packet(std::uint32_t linkType, std::span<const std::uint8_t> packet, std::size_t& start) {
    std::uint16_t etherType = 0;
    switch (linkType) {
        case LinkRawIp:
        case LinkIpv4:
            start = 0;
            return packet.size() >= 1 && (packet[0] >> 4) == 4;
        case LinkEthernet:
            if (packet.size() < 14) return false;
            etherType = readU16(packet.data() + 12, true);
            start = 14;
            if (etherType == EtherTypeVlan) {
                if (packet.size() < 18) return false;
                etherType = readU16(packet.data() + 16, true);
                start = 18;
            }
            return etherType == EtherTypeIpv4;
        case LinkLinuxCooked:
            if (packet.size() < 16) return false;
            start = 16;
            return readU16(packet.data() + 14, true) == EtherTypeIpv4;
        case LinkLinuxCooked2:
            if (packet.size() < 20) return false;
            start = 20;
            return readU16(packet.data(), true) == EtherTypeIpv4;
        default:
            return false;
    }
}

// Sorts one record's packet into the contents: a datagram, or one of the counts of those left out.
void takePacket(std::uint32_t linkType, std::span<const std::uint8_t> packet, double seconds,
                CaptureContents& contents) {
    std::size_t start = 0;
    if (!findIpv4Packet(linkType, packet, start)) {
        ++contents.notUdp;
        return;
    }
    const std::span<const std::uint8_t> ip = packet.subspan(start);
    if (ip.size() < Ipv4MinimumHeader) {
        ++contents.cutByCapture;
        return;
    }
    if ((ip[0] >> 4) != 4) {
        ++contents.notUdp;
        return;
    }
    const std::size_t headerLength = static_cast<std::size_t>(ip[0] & 0x0Fu) * 4;
    const std::size_t totalLength = readU16(ip.data() + 2, true);
    if (headerLength < Ipv4MinimumHeader || totalLength < headerLength) {
        ++contents.damaged;
        return;
    }
    if (ip[9] != ProtocolUdp) {
        ++contents.notUdp;
        return;
    }
    const std::uint16_t fragment = readU16(ip.data() + 6, true);
    if ((fragment & 0x3FFFu) != 0) {  // more fragments follow, or this is not the first
        ++contents.fragments;
        return;
    }
    // Link layers may pad a short packet: the IPv4 total length says where it ends.
    if (ip.size() < totalLength) {
        ++contents.cutByCapture;
        return;
    }
    if (totalLength < headerLength + UdpHeader) {
        ++contents.damaged;
        return;
    }
    const std::span<const std::uint8_t> udp = ip.subspan(headerLength, totalLength - headerLength);
    const std::size_t udpLength = readU16(udp.data() + 4, true);
    if (udpLength < UdpHeader || udpLength > udp.size()) {
        ++contents.damaged;
        return;
    }
    CapturedDatagram datagram;
    datagram.seconds = seconds;
    datagram.source = Ipv4Endpoint{readU32(ip.data() + 12, true), readU16(udp.data(), true)};
    datagram.destination = Ipv4Endpoint{readU32(ip.data() + 16, true), readU16(udp.data() + 2, true)};
    datagram.payload = udp.subspan(UdpHeader, udpLength - UdpHeader);
    contents.datagrams.push_back(datagram);
}

}  // namespace

bool readCapture(std::span<const std::uint8_t> file, CaptureContents& contents, std::string& error) {
    contents = CaptureContents{};
    FileFormat format;
    if (!readFileHeader(file, format, contents.linkType, error)) return false;

    std::size_t offset = FileHeaderSize;
    while (offset < file.size()) {
        const std::size_t left = file.size() - offset;
        if (left < RecordHeaderSize) {
            contents.cutShort = true;
            contents.cutShortAt = offset;
            return true;
        }
        const std::uint8_t* header = file.data() + offset;
        const std::uint32_t kept = readU32(header + 8, format.swapped);
        if (kept > MostPcapRecordBytes) {
            error = "record " + std::to_string(contents.records + 1) + " at byte " + std::to_string(offset) +
                    " claims " + std::to_string(kept) + " bytes, more than any capture holds: the file is damaged";
            return false;
        }
        if (left - RecordHeaderSize < kept) {
            contents.cutShort = true;
            contents.cutShortAt = offset;
            return true;
        }
        const double seconds = readU32(header, format.swapped) + readU32(header + 4, format.swapped) * format.fraction;
        takePacket(contents.linkType, file.subspan(offset + RecordHeaderSize, kept), seconds, contents);
        ++contents.records;
        offset += RecordHeaderSize + kept;
    }
    return true;
}

}  // namespace brassmoor
