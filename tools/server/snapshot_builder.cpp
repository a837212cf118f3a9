// Chooses what each client's snapshot lists and writes it out.
#include "snapshot_builder.h"

#include <algorithm>
#include <cstring>

namespace brassmoor {

void gatherPlayers(const ClientRegistry& registry, const BotWorld& bots,
                   std::vector<SnapshotEntry>& players) {
    players.clear();
    players.reserve(registry.clients.size() + bots.bots.size());
    for (const Bot& bot : bots.bots)
        players.push_back(SnapshotEntry{bot.id, botState(bot)});
    for (const Client& client : registry.clients)
        players.push_back(SnapshotEntry{client.id, client.state});
    // Bots and clients draw ids from one source, so each half is already sorted; merge the two.
    const auto middle = players.begin() + static_cast<std::ptrdiff_t>(bots.bots.size());
    std::inplace_merge(players.begin(), middle, players.end(),
                       [](const SnapshotEntry& a, const SnapshotEntry& b) { return a.peerId < b.peerId; });
}

void selectSnapshotEntries(std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                           std::vector<SnapshotEntry>& chosen, std::size_t maxEntries) {
    chosen.clear();
    float centreX = 0.0f;
    float centreY = 0.0f;
    for (const SnapshotEntry& player : players) {
        if (player.peerId == receiverId) {
            centreX = player.state.x;
            centreY = player.state.y;
        } else {
            chosen.push_back(player);
        }
    }
    if (chosen.size() <= maxEntries) return;

    auto distanceSquared = [&](const SnapshotEntry& e) {
        return snapshotDistanceSquared(e.state.x, e.state.y, centreX, centreY);
    };
    auto nearer = [&](const SnapshotEntry& a, const SnapshotEntry& b) {
        const float da = distanceSquared(a);
        const float db = distanceSquared(b);
        return da != db ? da < db : a.peerId < b.peerId;
    };
    const auto keepEnd = chosen.begin() + static_cast<std::ptrdiff_t>(maxEntries);
    std::nth_element(chosen.begin(), keepEnd, chosen.end(), nearer);
    chosen.erase(keepEnd, chosen.end());
    std::sort(chosen.begin(), chosen.end(),
              [](const SnapshotEntry& a, const SnapshotEntry& b) { return a.peerId < b.peerId; });
}

std::size_t buildSnapshotFor(std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                             std::vector<SnapshotEntry>& scratch, std::span<std::uint8_t> out) {
    selectSnapshotEntries(players, receiverId, scratch);
    return encodeSnapshotDatagram(receiverId, scratch, out);
}

void prepareSnapshots(const ClientRegistry& registry, const BotWorld& bots, SnapshotWork& work) {
    gatherPlayers(registry, bots, work.players);
    buildPlayerGrid(work.players, work.grid);
    work.everyEntry.resize(SnapshotHeaderSize + SnapshotEntrySize * work.players.size());
    work.everyEntry.resize(encodeSnapshotDatagram(0, work.players, work.everyEntry));
}

std::size_t writeSnapshotFor(SnapshotWork& work, std::uint32_t receiverId, std::size_t maxEntries,
                             std::span<std::uint8_t> out) {
    chooseNearestPlayers(work.grid, work.players, receiverId, maxEntries, work.nearest);
    const std::vector<std::uint32_t>& chosen = work.nearest.chosen;
    if (work.everyEntry.empty()) {
        work.chosen.clear();
        for (const std::uint32_t index : chosen)
            work.chosen.push_back(work.players[index]);
        return encodeSnapshotDatagram(receiverId, work.chosen, out);
    }
    // The header, then the chosen entries copied byte for byte from every player's encoding.
    const std::size_t size = SnapshotHeaderSize + SnapshotEntrySize * chosen.size();
    if (out.size() < size) return 0;
    putSnapshotHeader(out.data(), receiverId, static_cast<std::uint16_t>(chosen.size()));
    std::uint8_t* at = out.data() + SnapshotHeaderSize;
    for (const std::uint32_t index : chosen) {
        std::memcpy(at, work.everyEntry.data() + SnapshotHeaderSize + SnapshotEntrySize * index,
                    SnapshotEntrySize);
        at += SnapshotEntrySize;
    }
    return size;
}

}  // namespace brassmoor
