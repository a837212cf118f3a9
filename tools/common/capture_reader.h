// Reading a pcap file's UDP datagrams back: the files the helper programs write, and those of the
// usual capture tools (either byte order, micro- or nanosecond time stamps; raw IP, Ethernet and
// Linux cooked link layers).
//
// The bytes come from a file, which may be damaged or cut short anywhere: every length is checked
// before it is read. A damaged file header or record header is an error; a file that ends inside
// its last record (a capture stopped by a full disk) gives the records before it and says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ipv4_endpoint.h"

namespace brassmoor {

// The largest record a capture tool writes; a record header that claims more is damage.
inline constexpr std::uint32_t MostPcapRecordBytes = 262144;

// One UDP datagram of the file. `payload` points into the file's bytes, which must outlive it.
struct CapturedDatagram {
    double seconds = 0.0;  // the record's time stamp, seconds since 1970
    Ipv4Endpoint source;
    Ipv4Endpoint destination;
    std::span<const std::uint8_t> payload;
};

struct CaptureContents {
    std::uint32_t linkType = 0;
    std::vector<CapturedDatagram> datagrams;  // whole UDP datagrams over IPv4, in file order
    std::size_t records = 0;                  // whole records read, datagrams or not
    std::size_t notUdp = 0;      // records of other protocols (IPv6, ARP, TCP, ...), left out
    std::size_t fragments = 0;   // pieces of fragmented IPv4 packets, which are not put together
    std::size_t cutByCapture = 0;  // packets the capture kept only part of (its snap length)
    std::size_t damaged = 0;     // IPv4 or UDP headers that contradict their own lengths
    // The file ends inside a record; the records before it were read. `cutShortAt` is that
    // record's offset in the file.
    bool cutShort = false;
    std::size_t cutShortAt = 0;
};

// Reads every record of `file`. False, with `error` set to one line (without the file's name),
// when the file is not a pcap file this reads or a record header is damaged; `contents` then
// holds what was read before the damage.
bool readCapture(std::span<const std::uint8_t> file, CaptureContents& contents, std::string& error);

}  // namespace brassmoor
