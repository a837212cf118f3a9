// The games kept in Redis, shared by every list instance that uses it. Each game is one key whose
// expiry Redis itself enforces (SET ... EX), so games leave on time whoever is running, and a list
// restarted loses nothing. A recheck is claimed by the first instance to SET its key NX PX.
//
//   brassmoor-list:game:ADDRESS     the game's JSON (game_entry.h), expiring --ttl after its last answer
//   brassmoor-list:checked:ADDRESS  "1" while one instance has claimed the game's recheck
//
// hiredis writes to its socket without MSG_NOSIGNAL: a program using it ignores SIGPIPE, or a Redis
// gone away ends it.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "game_store.h"
#include "list_options.h"

struct redisContext;

namespace brassmoor {

class RedisStore final : public GameStore {
public:
    explicit RedisStore(RedisTarget target);
    ~RedisStore() override;
    RedisStore(const RedisStore&) = delete;
    RedisStore& operator=(const RedisStore&) = delete;

    // Connects when not connected (a second at most); every other call fails at once while not
    // connected, and a call that loses the connection drops it, so only connect() ever waits for one.
    bool connect(std::string& error) override;
    bool putGames(std::span<const GameEntry> games, int ttlSeconds, bool onlyIfListed,
                  std::string& error) override;
    bool removeGame(std::uint32_t address, bool& removed, std::string& error) override;
    bool readGames(std::vector<GameEntry>& games, std::size_t& unreadable, std::string& error) override;
    bool claimRechecks(std::span<const std::uint32_t> addresses, int milliseconds, std::vector<bool>& won,
                       std::string& error) override;

private:
    struct Read {
        std::string value;
        bool readable = false;
        GameEntry game;
    };
    bool connected(std::string& error);
    void drop(const std::string& why);

    RedisTarget target;
    std::mutex lock;
    redisContext* context = nullptr;
    std::string dropped;  // why the connection was last dropped
    // The last value read for each key, decoded: most values are the same from one read to the next.
    std::unordered_map<std::uint32_t, Read> lastRead;
};

}  // namespace brassmoor
