// The --capture file of the server and the relay: every datagram received and sent, as pcap.
//
// Each record is flushed as it is written, so a program stopped by Ctrl-C or killed leaves every
// datagram captured so far in the file. A file that cannot be written (at the start, or later on
// a full disk) is one line on standard error; capturing stops and the program goes on.
//
// A socket bound to every address (0.0.0.0) does not know which of its addresses a peer sent to:
// the capture shows the address this machine sends from towards that peer, which is the source of
// its answers and, on one network, the address the peer used.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ipv4_endpoint.h"

namespace brassmoor {

struct CaptureFile {
    std::FILE* file = nullptr;  // null: not capturing (never started, or stopped by a failure)
    std::string path;
    std::string program;  // names the program in its failure line
    std::uint64_t datagrams = 0;  // records written
    double startSeconds = 0.0;               // monotonic, when capturing started
    std::uint64_t startMicroseconds = 0;     // the wall clock then, since 1970
    std::uint16_t nextIdentification = 0;    // the IPv4 identification of the next record
    std::vector<std::uint8_t> record;        // the record being written, reused
    // (peer address, local address towards it) for sockets bound to every address.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> localTowards;
};

// Creates `path` (replacing a file there), writes the pcap file header and prints "capturing to
// 'PATH'" on standard output. On failure prints one line on standard error, "PROGRAM: cannot
// capture to 'PATH': REASON; going on without capturing", and returns false, not capturing.
bool startCapture(std::string_view program, const std::string& path, CaptureFile& capture);

// Record one datagram that arrived from `peer` on a socket bound to `local`, or that was sent from
// it to `peer`. Nothing happens when `capture` is null or not capturing.
void captureReceived(CaptureFile* capture, const Ipv4Endpoint& local, const Ipv4Endpoint& peer,
                     std::span<const std::uint8_t> bytes);
void captureSent(CaptureFile* capture, const Ipv4Endpoint& local, const Ipv4Endpoint& peer,
                 std::span<const std::uint8_t> bytes);

// Closes the file; the capture is not capturing afterwards.
void stopCapture(CaptureFile& capture);

}  // namespace brassmoor
