// The games kept in this process's memory: one list instance on its own, and everything gone when it stops.
#pragma once

#include <functional>
#include <mutex>
#include <unordered_map>

#include "game_store.h"

namespace brassmoor {

class MemoryStore final : public GameStore {
public:
    // `clock` gives seconds that only go forward; expiries are measured on it.
    explicit MemoryStore(std::function<double()> clock);

    bool connect(std::string& error) override;
    bool putGames(std::span<const GameEntry> games, int ttlSeconds, bool onlyIfListed,
                  std::string& error) override;
    bool removeGame(std::uint32_t address, bool& removed, std::string& error) override;
    bool readGames(std::vector<GameEntry>& games, std::size_t& unreadable, std::string& error) override;
    bool claimRechecks(std::span<const std::uint32_t> addresses, int milliseconds, std::vector<bool>& won,
                       std::string& error) override;

private:
    struct Listed {
        GameEntry game;
        double expires = 0.0;
    };
    void forgetExpired(double now);

    std::function<double()> clock;
    std::mutex lock;
    std::unordered_map<std::uint32_t, Listed> games;
    std::unordered_map<std::uint32_t, double> claims;  // address -> when its claim ends
};

}  // namespace brassmoor
