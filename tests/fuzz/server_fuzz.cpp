// Fuzz target: the server's input path, pose acceptance and the client registry, driven step by step.
//
// An input is a small script. Its first three bytes set the run up: the cap on clients (1 to 8, so
// that it is reached), the silence timeout and how many ids the bots took first. Then each step
// starts with one byte whose value modulo 6 says what happens:
//
//   0  a well-formed pose:  source, then up to 20 bytes of x, y, z, yaw, pitch (missing bytes are 0)
//   1  any datagram:        source, length byte, then that many bytes (fewer if the input ends)
//   2  the clock moves on:  one byte b, by b*b/4096 seconds (0 to 15.9 s; small values stay below a tick)
//   3  a tick:              each client in turn is offered a snapshot, which its credit pays for or not
//   4  the silent clients are forgotten
//   5  the last datagram again, from a source of its own: a duplicate or a forged copy
//
// A source is one byte: below 0x80 it picks one of 16 nearby addresses (4 hosts, 4 ports), so that
// sources repeat; from 0x80 up, the next six bytes are the IPv4 address and the port, raw.
//
// Beside the registry the target keeps its own model of what each address has sent and been sent,
// worked out from the rules alone, and checks the registry against it after every step; any
// disagreement aborts, so that libFuzzer keeps the input as a crash.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "net/datagram.h"
#include "registry.h"

namespace {

using brassmoor::Client;
using brassmoor::ClientAddress;
using brassmoor::PoseOutcome;

constexpr std::size_t MaxDatagramSize = brassmoor::ReceiveBufferSize;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "server fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

// Reads the script; past its end every byte reads as zero and `take` gives what is left.
struct Script {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;

    bool exhausted() const {
        return at >= bytes.size();
    }
    std::uint8_t byte() {
        return at < bytes.size() ? bytes[at++] : 0;
    }
    std::span<const std::uint8_t> take(std::size_t count) {
        const std::span<const std::uint8_t> taken = bytes.subspan(at, std::min(count, bytes.size() - at));
        at += taken.size();
        return taken;
    }
};

ClientAddress readSource(Script& script) {
    const std::uint8_t choice = script.byte();
    if (choice < 0x80) {
        return ClientAddress{0x0A000001u + (choice & 0x03u),
                             static_cast<std::uint16_t>(50000 + ((choice >> 2) & 0x03))};
    }
    std::uint32_t ipv4 = 0;
    for (int i = 0; i < 4; ++i)
        ipv4 = (ipv4 << 8) | script.byte();
    const std::uint16_t port = static_cast<std::uint16_t>((script.byte() << 8) | script.byte());
    return ClientAddress{ipv4, port};
}

using AddressKey = std::pair<std::uint32_t, std::uint16_t>;

AddressKey keyOf(const ClientAddress& address) {
    return {address.address, address.port};
}

std::uint32_t floatBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::uint32_t readU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// A pose the server must take: exactly 25 bytes, "KV01", type 1. Worked out from the layout alone.
bool isWellFormedPose(std::span<const std::uint8_t> bytes) {
    return bytes.size() == 25 && bytes[0] == 'K' && bytes[1] == 'V' && bytes[2] == '0' && bytes[3] == '1' &&
           bytes[4] == 1;
}

// What the model expects of one client: everything the rules fix, and what it has sent and been sent.
struct ModelClient {
    std::uint32_t id;
    std::array<std::uint32_t, 4> stateBits;  // x, y, z, yaw of the last pose, as sent
    double lastHeard;
    std::uint32_t credit;
    std::uint64_t posesAccepted;
    std::uint64_t snapshotsSent;
};

struct Model {
    std::size_t maxClients;
    double timeout;
    std::map<AddressKey, ModelClient> clients;
    std::set<std::uint32_t> idsHandedOut;  // bots' and clients', ever
    std::uint32_t highestId = 0;
    std::uint64_t datagramsIn = 0;
    std::uint64_t accepted = 0;
    std::uint64_t dropped = 0;
    std::uint64_t refused = 0;
    std::uint64_t withheld = 0;
};

struct Run {
    brassmoor::ClientRegistry registry;
    brassmoor::IdSource ids;
    brassmoor::TrafficCounters counters;
    Model model;
    double now = 1000.0;
    std::vector<std::uint8_t> lastDatagram;
};

void offerDatagram(Run& run, const ClientAddress& from, std::span<const std::uint8_t> bytes) {
    Model& model = run.model;
    const bool wellFormed = isWellFormedPose(bytes);
    const auto known = model.clients.find(keyOf(from));
    const std::size_t sizeBefore = run.registry.clients.size();

    const brassmoor::PoseResult result =
        brassmoor::acceptDatagram(run.registry, run.ids, run.counters, from, bytes, run.now);
    ++model.datagramsIn;

    if (!wellFormed) {
        require(result.outcome == PoseOutcome::Dropped, "what is not a well-formed pose is dropped");
        require(result.clientId == 0, "a dropped datagram names no client");
        require(run.registry.clients.size() == sizeBefore, "a dropped datagram adds no client");
        ++model.dropped;
        return;
    }
    const std::array<std::uint32_t, 4> stateBits = {readU32(bytes.data() + 5), readU32(bytes.data() + 9),
                                                    readU32(bytes.data() + 13), readU32(bytes.data() + 17)};
    if (known != model.clients.end()) {
        require(result.outcome == PoseOutcome::Updated, "a known client's pose is always taken");
        require(result.clientId == known->second.id, "a known client keeps its id");
        ModelClient& client = known->second;
        client.stateBits = stateBits;
        client.lastHeard = run.now;
        client.credit = std::min(client.credit + 1, brassmoor::SnapshotCreditAllowance);
        ++client.posesAccepted;
        ++model.accepted;
        return;
    }
    if (model.clients.size() >= model.maxClients) {
        require(result.outcome == PoseOutcome::Refused, "a newcomer finds no room in a full table");
        require(result.clientId == 0, "a refused pose names no client");
        require(run.registry.clients.size() == sizeBefore, "a refused pose adds no client");
        ++model.refused;
        return;
    }
    require(result.outcome == PoseOutcome::Joined, "a newcomer with room joins");
    require(result.clientId > model.highestId, "a new id is above every id handed out before");
    require(model.idsHandedOut.insert(result.clientId).second, "an id is never handed out twice");
    model.highestId = result.clientId;
    model.clients.emplace(keyOf(from), ModelClient{result.clientId, stateBits, run.now, 1, 1, 0});
    ++model.accepted;
}

void tick(Run& run) {
    for (Client& client : run.registry.clients) {
        const auto found = run.model.clients.find(keyOf(client.address));
        require(found != run.model.clients.end(), "every client in the list is one the model knows");
        ModelClient& expected = found->second;
        const bool sent = brassmoor::spendSnapshotCredit(client, run.counters);
        require(sent == (expected.credit > 0), "a snapshot goes exactly to a client with credit");
        if (sent) {
            --expected.credit;
            ++expected.snapshotsSent;
        } else {
            ++run.model.withheld;
        }
    }
}

void forget(Run& run) {
    std::vector<std::uint32_t> expectedGone;
    for (auto it = run.model.clients.begin(); it != run.model.clients.end();) {
        if (run.now - it->second.lastHeard > run.model.timeout) {
            expectedGone.push_back(it->second.id);
            it = run.model.clients.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(expectedGone.begin(), expectedGone.end());
    const std::vector<Client> gone = brassmoor::forgetSilentClients(run.registry, run.now, run.model.timeout);
    require(gone.size() == expectedGone.size(), "exactly the clients silent past the timeout are forgotten");
    for (std::size_t i = 0; i < gone.size(); ++i) {
        require(gone[i].id == expectedGone[i], "the forgotten are those silent too long, in id order");
    }
}

// After every step: the registry is well-formed and says what the model says.
void checkRegistry(const Run& run) {
    const brassmoor::ClientRegistry& registry = run.registry;
    const Model& model = run.model;
    require(registry.clients.size() <= model.maxClients, "the table never holds more than the cap");
    require(registry.clients.size() == model.clients.size(), "the table holds the clients the model expects");
    require(registry.idByAddress.size() == registry.clients.size(), "the address index and the list agree");

    std::set<std::uint32_t> indexedIds;
    for (const auto& [key, id] : registry.idByAddress)
        indexedIds.insert(id);
    require(indexedIds.size() == registry.clients.size(), "no two addresses share an id in the index");

    for (std::size_t i = 0; i < registry.clients.size(); ++i) {
        const Client& client = registry.clients[i];
        require(i == 0 || registry.clients[i - 1].id < client.id,
                "the list is in strictly ascending id order");
        require(indexedIds.count(client.id) == 1, "every client of the list is in the address index");
        require(brassmoor::findClient(registry, client.id) == &client, "a client is found by its id");
        require(client.snapshotCredit <= brassmoor::SnapshotCreditAllowance,
                "credit never exceeds the allowance");

        const auto found = model.clients.find(keyOf(client.address));
        require(found != model.clients.end(), "a client's address is one the model admitted");
        const ModelClient& expected = found->second;
        require(client.id == expected.id, "a client keeps the id it joined with");
        require(client.snapshotCredit == expected.credit, "credit is one per pose, spent one per snapshot");
        require(client.lastHeard == expected.lastHeard, "last heard is the time of the last accepted pose");
        const std::array<std::uint32_t, 4> stateBits = {floatBits(client.state.x), floatBits(client.state.y),
                                                        floatBits(client.state.z),
                                                        floatBits(client.state.yaw)};
        require(stateBits == expected.stateBits, "the state is the last pose's, bit for bit");
        require(expected.snapshotsSent <= expected.posesAccepted, "never more snapshots than accepted poses");
    }

    const brassmoor::TrafficCounters& counters = run.counters;
    require(counters.datagramsIn == model.datagramsIn, "every datagram is counted in");
    require(counters.dropped == model.dropped, "every malformed datagram is counted as dropped");
    require(counters.refused == model.refused, "every pose refused for want of room is counted");
    require(counters.withheld == model.withheld, "every snapshot withheld is counted");
    require(counters.datagramsIn == model.accepted + counters.dropped + counters.refused,
            "in = accepted + dropped + refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script{std::span<const std::uint8_t>(data, size)};
    Run run;
    run.model.maxClients = 1 + script.byte() % 8;
    run.model.timeout = 0.1 + script.byte() * 0.05;
    run.registry.maxClients = run.model.maxClients;
    for (int bots = script.byte() % 4; bots > 0; --bots) {
        const std::uint32_t id = brassmoor::takeId(run.ids);
        require(run.model.idsHandedOut.insert(id).second, "the bots' ids are distinct");
        run.model.highestId = std::max(run.model.highestId, id);
    }

    while (!script.exhausted()) {
        switch (script.byte() % 6) {
            case 0: {
                const ClientAddress from = readSource(script);
                std::array<std::uint8_t, 20> fields{};
                const std::span<const std::uint8_t> given = script.take(fields.size());
                std::copy(given.begin(), given.end(), fields.begin());
                run.lastDatagram.assign({'K', 'V', '0', '1', 1});
                run.lastDatagram.insert(run.lastDatagram.end(), fields.begin(), fields.end());
                offerDatagram(run, from, run.lastDatagram);
                break;
            }
            case 1: {
                const ClientAddress from = readSource(script);
                const std::span<const std::uint8_t> bytes =
                    script.take(std::min<std::size_t>(script.byte(), MaxDatagramSize));
                // A copy exactly as long as the datagram, so that a read past its end is caught.
                run.lastDatagram.assign(bytes.begin(), bytes.end());
                offerDatagram(run, from, run.lastDatagram);
                break;
            }
            case 2: {
                const double b = script.byte();
                run.now += b * b / 4096.0;
                break;
            }
            case 3:
                tick(run);
                break;
            case 4:
                forget(run);
                break;
            case 5: {
                const ClientAddress from = readSource(script);
                const std::vector<std::uint8_t> again = run.lastDatagram;
                offerDatagram(run, from, again);
                break;
            }
        }
        checkRegistry(run);
    }
    return 0;
}
