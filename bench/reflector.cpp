// brassmoor-reflector: the bare baseline for the server at scale. It answers every datagram at once
// with one fixed snapshot (only selfId changes, so that each client sees an id of its own) and does
// nothing else: no table, no ticks, no choice of players. What the machine allows a server to do.
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/time.h>
#include <vector>

#include "ipv4_endpoint.h"
#include "net/datagram.h"
#include "net/socket_layer.h"
#include "option_values.h"
#include "program_entry.h"
#include "socket_address.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

struct ReflectorOptions {
    std::uint32_t bindAddress = 0x7F000001;
    std::uint16_t port = 40123;
    std::size_t entries = MaxSnapshotEntries;
};

struct ParsedReflectorOptions {
    CommandLineAction action;
    ReflectorOptions options;
    std::string error;
};

std::string applyOption(std::string_view name, std::string_view value, ReflectorOptions& options) {
    if (name == "--bind") {
        if (!parseIpv4Address(value, options.bindAddress))
            return "--bind needs an IPv4 address, not " + quoted(value);
    } else if (name == "--port") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > 65535)
            return "--port needs a whole number from 1 to 65535, not " + quoted(value);
        options.port = static_cast<std::uint16_t>(*n);
    } else {
        const auto n = parseWhole(value);
        if (!n || *n > MaxSnapshotEntries)
            return "--entries needs a whole number from 0 to 204, not " + quoted(value);
        options.entries = static_cast<std::size_t>(*n);
    }
    return {};
}

ParsedReflectorOptions parseOptions(std::span<const char* const> args) {
    ParsedReflectorOptions result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    auto known = [](std::string_view name) {
        return name == "--bind" || name == "--port" || name == "--entries";
    };
    auto apply = [&](std::string_view name, std::string_view value) {
        return applyOption(name, value, result.options);
    };
    if (std::string message = takeValuedOptions(args, known, apply); !message.empty()) {
        return ParsedReflectorOptions{CommandLineAction::Error, {}, std::move(message)};
    }
    return result;
}

const char* const Usage =
    "Usage: brassmoor-reflector [options]\n"
    "Answers every datagram at once with the same snapshot (its selfId made from the sender's port):\n"
    "the bare baseline the load generator measures the server against.\n"
    "\n"
    "  --bind ADDRESS   IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N         UDP port (default 40123)\n"
    "  --entries N      entries in each answer, 0 to 204 (default 204: 4091 bytes)\n"
    "  --help           print this and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Stops on SIGINT or SIGTERM and prints how many datagrams it answered.\n";

int run(const ReflectorOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-reflector: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    const SocketHandle handle = openUdpSocket();
    const Ipv4Endpoint local{options.bindAddress, options.port};
    if (handle == InvalidSocketHandle || !bindUdpSocket(handle, toSocketAddress(local))) {
        std::fprintf(stderr, "brassmoor-reflector: cannot listen on %s: %s\n",
                     formatIpv4Endpoint(local).c_str(), lastSocketError().c_str());
        if (handle != InvalidSocketHandle) closeSocket(handle);
        return 1;
    }
    // A blocking receive that gives up now and then, so that a stop request is seen.
    const timeval patience{0, 200000};
    ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);

    std::vector<SnapshotEntry> entries;
    for (std::uint32_t id = 1; id <= options.entries; ++id)
        entries.push_back(SnapshotEntry{id, PeerState{static_cast<float>(id), 0.0f, 1.7f, 0.0f}});
    std::vector<std::uint8_t> answer(ReceiveBufferSize);
    answer.resize(encodeSnapshotDatagram(0, entries, answer));
    std::printf("listening on %s entries=%zu bytes=%zu\n", formatIpv4Endpoint(local).c_str(), options.entries,
                answer.size());

    std::uint8_t buffer[ReceiveBufferSize];
    unsigned long long answered = 0;
    while (stopRequest() == 0) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(handle, buffer, static_cast<int>(sizeof buffer), from);
        if (length < 0) continue;  // the timeout, so that a stop request is seen
        // selfId above every entry's id: the sender's port plus a million.
        putSnapshotHeader(answer.data(), 1000000u + ntohs(from.sin_port),
                          static_cast<std::uint16_t>(options.entries));
        if (sendDatagram(handle, answer.data(), static_cast<int>(answer.size()), from) >= 0) ++answered;
    }
    std::printf("stopping on signal %d answered=%llu\n", stopRequest(), answered);
    closeSocket(handle);
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-reflector", brassmoor::Usage,
                                       brassmoor::parseOptions, brassmoor::run);
}
