// Fuzz target: arbitrary bytes as a capture file through the replayer's pcap reader.
//
// The reader's record framing is worked out here again from the format alone (headers of 16
// bytes, each followed by the length it claims), so that a record taken, skipped or read past is a
// disagreement; every datagram it gives must lie inside its own record. Any disagreement aborts,
// so that libFuzzer keeps the input as a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "pcap_records.h"  // MaxUdpPayload

namespace {

using brassmoor::CaptureContents;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "capture fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

std::uint32_t readU32(const std::uint8_t* at, bool bigEndian) {
    return bigEndian ? static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
                           static_cast<std::uint32_t>(at[2]) << 8 | at[3]
                     : static_cast<std::uint32_t>(at[3]) << 24 | static_cast<std::uint32_t>(at[2]) << 16 |
                           static_cast<std::uint32_t>(at[1]) << 8 | at[0];
}

// Where each whole record's packet lies, for a file whose header the reader took.
struct Framing {
    std::vector<std::pair<std::size_t, std::size_t>> packets;  // offset and length
    bool damaged = false;
    bool cutShort = false;
    std::size_t cutAt = 0;
};

Framing frame(std::span<const std::uint8_t> file) {
    const bool bigEndian = file[0] == 0xa1;  // the magic's first byte, written in order
    Framing framing;
    std::size_t offset = 24;
    while (offset < file.size()) {
        if (file.size() - offset < 16) {
            framing.cutShort = true;
            framing.cutAt = offset;
            break;
        }
        const std::uint32_t kept = readU32(file.data() + offset + 8, bigEndian);
        if (kept > brassmoor::MostPcapRecordBytes) {
            framing.damaged = true;
            break;
        }
        if (file.size() - offset - 16 < kept) {
            framing.cutShort = true;
            framing.cutAt = offset;
            break;
        }
        framing.packets.emplace_back(offset + 16, kept);
        offset += 16 + std::size_t{kept};
    }
    return framing;
}

void checkReading(std::span<const std::uint8_t> file) {
    CaptureContents contents;
    std::string error;
    const bool read = brassmoor::readCapture(file, contents, error);
    require(read || !error.empty(), "a refusal says why");
    // The records are framed here only behind a file header the reader takes.
    CaptureContents headerOnly;
    if (file.size() < 24 || !brassmoor::readCapture(file.first(24), headerOnly, error)) {
        require(!read, "a file whose header is refused is refused");
        return;
    }
    const Framing framing = frame(file);
    require(read == !framing.damaged, "damage is a refusal, and nothing else is");
    require(contents.records == framing.packets.size(), "every whole record is read, and only those");
    require(contents.cutShort == framing.cutShort && (!read || contents.cutShortAt == framing.cutAt),
            "a file cut inside a record says where");
    require(contents.records == contents.datagrams.size() + contents.notUdp + contents.fragments +
                                    contents.cutByCapture + contents.damaged,
            "every record is a datagram or counted as left out");
    // Records come one datagram at most each, in file order.
    std::size_t next = 0;
    for (const brassmoor::CapturedDatagram& datagram : contents.datagrams) {
        const auto start = static_cast<std::size_t>(datagram.payload.data() - file.data());
        const std::size_t end = start + datagram.payload.size();
        while (next < framing.packets.size() && framing.packets[next].first + framing.packets[next].second < end)
            ++next;
        require(next < framing.packets.size() && start >= framing.packets[next].first + 28,
                "a datagram lies inside its record, after an IPv4 and a UDP header");
        require(datagram.payload.size() <= brassmoor::MaxUdpPayload, "no datagram longer than IPv4 carries");
        ++next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly this size, so that any read past the end is AddressSanitizer's to catch.
    const std::vector<std::uint8_t> input(data, data + size);
    checkReading(input);
    return 0;
}
