// The in-memory store: games and recheck claims with their expiry times, under one lock.
#include "memory_store.h"

namespace brassmoor {

MemoryStore::MemoryStore(std::function<double()> clockSource) : clock(std::move(clockSource)) {}

bool MemoryStore::connect(std::string&) {
    return true;
}

void MemoryStore::forgetExpired(double now) {
    std::erase_if(games, [now](const auto& item) { return item.second.expires <= now; });
    std::erase_if(claims, [now](const auto& item) { return item.second <= now; });
}

bool MemoryStore::putGames(std::span<const GameEntry> put, int ttlSeconds, bool onlyIfListed, std::string&) {
    const double now = clock();
    std::lock_guard<std::mutex> held(lock);
    for (const GameEntry& game : put) {
        auto found = games.find(game.address);
        const bool listed = found != games.end() && found->second.expires > now;
        if (onlyIfListed && !listed) continue;
        games[game.address] = Listed{game, now + ttlSeconds};
    }
    return true;
}

bool MemoryStore::removeGame(std::uint32_t address, bool& removed, std::string&) {
    const double now = clock();
    std::lock_guard<std::mutex> held(lock);
    const auto found = games.find(address);
    removed = found != games.end() && found->second.expires > now;
    if (found != games.end()) games.erase(found);
    return true;
}

bool MemoryStore::readGames(std::vector<GameEntry>& read, std::size_t& unreadable, std::string&) {
    const double now = clock();
    std::lock_guard<std::mutex> held(lock);
    forgetExpired(now);
    read.clear();
    read.reserve(games.size());
    for (const auto& item : games)
        read.push_back(item.second.game);
    unreadable = 0;
    return true;
}

bool MemoryStore::claimRechecks(std::span<const std::uint32_t> addresses, int milliseconds,
                                std::vector<bool>& won, std::string&) {
    const double now = clock();
    std::lock_guard<std::mutex> held(lock);
    won.assign(addresses.size(), false);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        auto [claim, fresh] = claims.try_emplace(addresses[i], 0.0);
        if (!fresh && claim->second > now) continue;
        claim->second = now + milliseconds / 1000.0;
        won[i] = true;
    }
    return true;
}

}  // namespace brassmoor
