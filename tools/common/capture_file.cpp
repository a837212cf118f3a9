// The --capture file: pcap records written and flushed one by one, with the local address of a
// socket bound to every address looked up once per peer.
#include "capture_file.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "monotonic_clock.h"
#include "net/socket_layer.h"
#include "pcap_records.h"
#include "socket_address.h"

namespace brassmoor {

namespace {

// Peers whose local address is remembered; past this the list starts again, so a flood of forged
// sources costs one lookup each and no memory.
constexpr std::size_t MostRememberedPeers = 256;
constexpr std::uint16_t RoutingProbePort = 9;

std::uint64_t wallClockMicroseconds() {
    using namespace std::chrono;
    const auto since1970 = system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(duration_cast<microseconds>(since1970).count());
}

// The address a datagram to or from `peer` used on this machine's side.
std::uint32_t localAddressFor(CaptureFile& capture, const Ipv4Endpoint& local, const Ipv4Endpoint& peer) {
    if (local.address != 0) return local.address;
    for (const auto& [known, address] : capture.localTowards) {
        if (known == peer.address) return address;
    }
    // The route does not depend on the port, and a peer's port may be 0 (forged), which no socket
    // can be connected to. An address with no route stays 0.0.0.0, which says just that.
    sockaddr_in towards{};
    const std::uint32_t address =
        localAddressTowards(toSocketAddress(Ipv4Endpoint{peer.address, RoutingProbePort}), towards)
            ? toIpv4Endpoint(towards).address
            : 0;
    if (capture.localTowards.size() >= MostRememberedPeers) capture.localTowards.clear();
    capture.localTowards.emplace_back(peer.address, address);
    return address;
}

void failCapture(CaptureFile& capture, const char* reason) {
    std::fprintf(stderr, "%s: capture to '%s' stopped after %llu datagrams: %s; going on without capturing\n",
                 capture.program.c_str(), capture.path.c_str(), static_cast<unsigned long long>(capture.datagrams),
                 reason);
    stopCapture(capture);
}

void writeRecord(CaptureFile* capture, const Ipv4Endpoint& source, const Ipv4Endpoint& destination,
                 std::span<const std::uint8_t> bytes) {
    // The monotonic clock keeps the records' spacing true even if the wall clock is set meanwhile.
    const double elapsed = monotonicSeconds() - capture->startSeconds;
    const std::uint64_t microseconds =
        capture->startMicroseconds + static_cast<std::uint64_t>(elapsed > 0.0 ? elapsed * 1e6 : 0.0);
    if (!encodePcapRecord(microseconds, source, destination, capture->nextIdentification++, bytes,
                          capture->record)) {
        return;  // longer than any IPv4 packet: it cannot have crossed the network either
    }
    errno = 0;
    if (std::fwrite(capture->record.data(), 1, capture->record.size(), capture->file) != capture->record.size() ||
        std::fflush(capture->file) != 0) {
        failCapture(*capture, errno != 0 ? std::strerror(errno) : "write failed");
        return;
    }
    ++capture->datagrams;
}

}  // namespace

bool startCapture(std::string_view program, const std::string& path, CaptureFile& capture) {
    capture = CaptureFile{};
    capture.program = std::string(program);
    capture.path = path;
    errno = 0;
    capture.file = std::fopen(path.c_str(), "wb");
    const std::array<std::uint8_t, PcapFileHeaderSize> header = encodePcapFileHeader();
    if (capture.file == nullptr || std::fwrite(header.data(), 1, header.size(), capture.file) != header.size() ||
        std::fflush(capture.file) != 0) {
        std::fprintf(stderr, "%s: cannot capture to '%s': %s; going on without capturing\n", capture.program.c_str(),
                     path.c_str(), errno != 0 ? std::strerror(errno) : "cannot write it");
        stopCapture(capture);
        return false;
    }
    capture.startSeconds = monotonicSeconds();
    capture.startMicroseconds = wallClockMicroseconds();
    std::printf("capturing to '%s'\n", path.c_str());
    return true;
}

void captureReceived(CaptureFile* capture, const Ipv4Endpoint& local, const Ipv4Endpoint& peer,
                     std::span<const std::uint8_t> bytes) {
    if (capture == nullptr || capture->file == nullptr) return;
    const Ipv4Endpoint here{localAddressFor(*capture, local, peer), local.port};
    writeRecord(capture, peer, here, bytes);
}

void captureSent(CaptureFile* capture, const Ipv4Endpoint& local, const Ipv4Endpoint& peer,
                 std::span<const std::uint8_t> bytes) {
    if (capture == nullptr || capture->file == nullptr) return;
    const Ipv4Endpoint here{localAddressFor(*capture, local, peer), local.port};
    writeRecord(capture, here, peer, bytes);
}

void stopCapture(CaptureFile& capture) {
    if (capture.file != nullptr) std::fclose(capture.file);
    capture.file = nullptr;
}

}  // namespace brassmoor
