// One contract for both stores: what one instance writes another reads, a recheck never brings back a
// game that left, one claim per recheck among all instances, expiry without anyone, and (Redis) a
// store that goes away and comes back. The Redis case runs a real redis-server on a unix socket.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "memory_store.h"
#include "monotonic_clock.h"
#include "redis_store.h"

extern char** environ;

namespace brassmoor {
namespace {

template <typename Condition>
bool eventually(Condition condition) {
    for (const double end = monotonicSeconds() + 10.0; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (monotonicSeconds() > end) return false;
    }
    return true;
}

class StoreContract : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "memory") {
            memory = std::make_shared<MemoryStore>(monotonicSeconds);
            return;
        }
        if (access("/usr/bin/redis-server", X_OK) != 0)
            GTEST_SKIP() << "redis-server is not installed: Redis untested";
        signal(SIGPIPE, SIG_IGN);  // as the program does: a write to a Redis gone away fails instead
        char made[] = "/tmp/brassmoor-store-XXXXXX";
        ASSERT_NE(mkdtemp(made), nullptr);
        folder = made;
        startRedis();
    }
    void TearDown() override {
        stopRedis();
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
    void startRedis() {
        const std::string socket = folder + "/redis.sock", log = folder + "/redis.log";
        const char* argv[] = {"redis-server", "--port",    "0",         "--unixsocket",
                              socket.c_str(), "--save",    "",          "--dir",
                              folder.c_str(), "--logfile", log.c_str(), nullptr};
        ASSERT_EQ(
            posix_spawn(&redis, "/usr/bin/redis-server", nullptr, nullptr, const_cast<char**>(argv), environ),
            0);
        ASSERT_TRUE(eventually([&] {
            return RedisStore(RedisTarget{{}, 0, socket}).connect(error);
        })) << error;
    }
    void stopRedis() {
        if (redis != 0) kill(redis, SIGTERM), waitpid(redis, nullptr, 0);
        redis = 0;
    }
    // A store as another list instance opens it: the same one in memory, a new connection to Redis.
    std::shared_ptr<GameStore> open() {
        std::shared_ptr<GameStore> store = memory;
        if (!memory) store = std::make_shared<RedisStore>(RedisTarget{{}, 0, folder + "/redis.sock"});
        EXPECT_TRUE(store->connect(error)) << error;
        return store;
    }
    static std::vector<GameEntry> read(GameStore& store) {
        std::vector<GameEntry> games;
        std::size_t unreadable = 0;
        std::string error;
        EXPECT_TRUE(store.readGames(games, unreadable, error) && unreadable == 0) << error;
        sortBusiestFirst(games);
        return games;
    }

    std::shared_ptr<MemoryStore> memory;
    std::string folder, error;
    pid_t redis = 0;
};

const GameEntry Hall{0xC6336414, "Hall \xE2\x80\x93 \"ten\" <b>", 3, 1, 2, 64, 0, 5, 0};  // 198.51.100.20
const GameEntry Attic{0xC633641E, "Attic", 1, 1, 0, 8, 0, 4, 1};                          // 198.51.100.30

TEST_P(StoreContract, WhatOneInstanceWritesAnotherReadsAndARecheckNeverRevivesAGameThatLeft) {
    auto first = open(), second = open();
    const GameEntry both[] = {Attic, Hall};
    ASSERT_TRUE(first->putGames(both, 60, false, error)) << error;
    EXPECT_EQ(read(*second), (std::vector<GameEntry>{Hall, Attic}));
    GameEntry busier = Attic;
    busier.players = 9;
    ASSERT_TRUE(second->putGames({&busier, 1}, 60, true, error)) << error;  // a recheck of a listed game
    EXPECT_EQ(read(*first), (std::vector<GameEntry>{busier, Hall}));

    bool removed = false;
    ASSERT_TRUE(first->removeGame(Attic.address, removed, error) && removed) << error;
    ASSERT_TRUE(first->removeGame(Attic.address, removed, error) && !removed) << error;
    ASSERT_TRUE(second->putGames({&busier, 1}, 60, true, error)) << error;  // its recheck's late answer
    EXPECT_EQ(read(*second), (std::vector<GameEntry>{Hall}));
}

TEST_P(StoreContract, OneInstanceWinsEachRecheckAndEntriesAndClaimsExpireWithoutAnyone) {
    auto first = open(), second = open();
    const std::uint32_t addresses[] = {Hall.address, Attic.address};
    std::vector<bool> won;
    ASSERT_TRUE(first->claimRechecks({addresses, 1}, 300, won, error)) << error;
    EXPECT_EQ(won, std::vector<bool>{true});
    ASSERT_TRUE(second->claimRechecks(addresses, 300, won, error)) << error;
    EXPECT_EQ(won, (std::vector<bool>{false, true}));
    EXPECT_TRUE(eventually([&] { return second->claimRechecks({addresses, 1}, 300, won, error) && won[0]; }));

    ASSERT_TRUE(first->putGames({&Hall, 1}, 1, false, error)) << error;
    EXPECT_EQ(read(*second), std::vector<GameEntry>{Hall});
    EXPECT_TRUE(eventually([&] { return read(*second).empty(); }));
}

TEST_P(StoreContract, AStoreThatGoesAwayFailsAtOnceAndIsReachedAgainWhenItIsBack) {
    if (memory) GTEST_SKIP() << "a store in memory cannot go away";
    auto store = open();
    stopRedis();
    std::vector<GameEntry> games;
    std::size_t unreadable = 0;
    EXPECT_FALSE(store->readGames(games, unreadable, error));
    EXPECT_FALSE(store->putGames({&Hall, 1}, 60, false, error));  // fails at once, without waiting
    EXPECT_FALSE(store->connect(error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    startRedis();
    ASSERT_TRUE(store->connect(error) && store->putGames({&Hall, 1}, 60, false, error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract, testing::Values("memory", "redis"),
                         [](const testing::TestParamInfo<const char*>& store) {
                             return std::string(store.param);
                         });

}  // namespace
}  // namespace brassmoor
