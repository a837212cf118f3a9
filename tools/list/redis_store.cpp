// The Redis store through hiredis: pipelined commands, one connection under a lock, never a wait for
// a connection outside connect().
#include "redis_store.h"

#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <hiredis/hiredis.h>

#include "ipv4_endpoint.h"

namespace brassmoor {
namespace {

constexpr timeval ConnectTimeout{1, 0};
// A command that has not been answered in this long counts as a store gone away.
constexpr timeval CommandTimeout{1, 0};
constexpr std::size_t ScanCount = 1000;
constexpr std::size_t BatchSize = 1000;
constexpr const char* CheckedKeyPrefix = "brassmoor-list:checked:";

struct ReplyFree {
    void operator()(redisReply* reply) const {
        freeReplyObject(reply);
    }
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

// What a failed call on `context` says, for a host: a read that timed out leaves EAGAIN's text.
std::string failureText(const redisContext* context) {
    if (context->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK))
        return "no answer within 1 s";
    return context->err != 0 ? std::string(context->errstr) : "no reply";
}

// A command as its words, for redisAppendCommandArgv.
struct Command {
    std::vector<std::string> words;
};

}  // namespace

RedisStore::RedisStore(RedisTarget redisTarget) : target(std::move(redisTarget)) {}

RedisStore::~RedisStore() {
    drop({});
}

void RedisStore::drop(const std::string& why) {
    if (context != nullptr) redisFree(context);
    context = nullptr;
    dropped = why;
}

bool RedisStore::connect(std::string& error) {
    {
        std::lock_guard<std::mutex> held(lock);
        if (context != nullptr) return true;
    }
    // Connecting may take up to its timeout: without the lock, so other calls fail at once meanwhile.
    redisContext* fresh = target.host.empty()
                              ? redisConnectUnixWithTimeout(target.socketPath.c_str(), ConnectTimeout)
                              : redisConnectWithTimeout(target.host.c_str(), target.port, ConnectTimeout);
    if (fresh == nullptr || fresh->err != 0) {
        error = fresh != nullptr ? std::string(fresh->errstr) : "out of memory";
        if (fresh != nullptr) redisFree(fresh);
        return false;
    }
    redisSetTimeout(fresh, CommandTimeout);
    Reply pong(static_cast<redisReply*>(redisCommand(fresh, "PING")));
    if (!pong || pong->type == REDIS_REPLY_ERROR) {
        // A server that wants a password, or is loading its data, says so here.
        error = pong ? std::string(pong->str, pong->len) : failureText(fresh);
        redisFree(fresh);
        return false;
    }
    std::lock_guard<std::mutex> held(lock);
    if (context != nullptr) redisFree(context);
    context = fresh;
    dropped.clear();
    return true;
}

bool RedisStore::connected(std::string& error) {
    if (context != nullptr) return true;
    // The failure that dropped the connection says more than its absence.
    error = !dropped.empty() ? dropped : "not connected to " + formatRedisTarget(target);
    return false;
}

namespace {

// Sends `commands` in one pipeline and collects their replies; false (with `error`) when the
// connection failed, after which it must be dropped. A reply that is a Redis error is returned as it is.
bool pipeline(redisContext* context, const std::vector<Command>& commands, std::vector<Reply>& replies,
              std::string& error) {
    replies.clear();
    std::vector<const char*> words;
    std::vector<std::size_t> lengths;
    for (const Command& command : commands) {
        words.clear();
        lengths.clear();
        for (const std::string& word : command.words) {
            words.push_back(word.data());
            lengths.push_back(word.size());
        }
        if (redisAppendCommandArgv(context, static_cast<int>(words.size()), words.data(), lengths.data()) !=
            REDIS_OK) {
            error = context->errstr;
            return false;
        }
    }
    for (std::size_t i = 0; i < commands.size(); ++i) {
        void* reply = nullptr;
        if (redisGetReply(context, &reply) != REDIS_OK || reply == nullptr) {
            error = failureText(context);
            return false;
        }
        replies.emplace_back(static_cast<redisReply*>(reply));
    }
    return true;
}

// The first Redis error among `replies`, or none.
bool noRedisError(const std::vector<Reply>& replies, std::string& error) {
    for (const Reply& reply : replies) {
        if (reply->type == REDIS_REPLY_ERROR) {
            error = std::string(reply->str, reply->len);
            return false;
        }
    }
    return true;
}

}  // namespace

bool RedisStore::putGames(std::span<const GameEntry> games, int ttlSeconds, bool onlyIfListed,
                          std::string& error) {
    std::vector<Command> commands;
    for (const GameEntry& game : games) {
        Command set{
            {"SET", gameKey(game.address), encodeStoredEntry(game), "EX", std::to_string(ttlSeconds)}};
        if (onlyIfListed) set.words.push_back("XX");
        commands.push_back(std::move(set));
    }
    std::lock_guard<std::mutex> held(lock);
    std::vector<Reply> replies;
    if (!connected(error)) return false;
    if (!pipeline(context, commands, replies, error)) {
        drop(error);
        return false;
    }
    return noRedisError(replies, error);
}

bool RedisStore::removeGame(std::uint32_t address, bool& removed, std::string& error) {
    std::lock_guard<std::mutex> held(lock);
    std::vector<Reply> replies;
    if (!connected(error)) return false;
    if (!pipeline(context, {Command{{"DEL", gameKey(address)}}}, replies, error)) {
        drop(error);
        return false;
    }
    if (!noRedisError(replies, error)) return false;
    removed = replies[0]->type == REDIS_REPLY_INTEGER && replies[0]->integer > 0;
    return true;
}

bool RedisStore::readGames(std::vector<GameEntry>& games, std::size_t& unreadable, std::string& error) {
    std::lock_guard<std::mutex> held(lock);
    if (!connected(error)) return false;
    // SCAN may name a key twice, and names keys whatever their value: the addresses are collected
    // first, then their values read in batches.
    std::vector<std::uint32_t> addresses;
    std::string cursor = "0";
    std::vector<Reply> replies;
    do {
        const Command scan{
            {"SCAN", cursor, "MATCH", std::string(GameKeyPrefix) + "*", "COUNT", std::to_string(ScanCount)}};
        if (!pipeline(context, {scan}, replies, error)) {
            drop(error);
            return false;
        }
        const redisReply* reply = replies[0].get();
        if (reply->type == REDIS_REPLY_ERROR) return noRedisError(replies, error);
        if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 2 ||
            reply->element[0]->type != REDIS_REPLY_STRING || reply->element[1]->type != REDIS_REPLY_ARRAY) {
            error = "SCAN gave an unexpected reply";
            return false;
        }
        cursor.assign(reply->element[0]->str, reply->element[0]->len);
        const redisReply* keys = reply->element[1];
        for (std::size_t i = 0; i < keys->elements; ++i) {
            std::uint32_t address = 0;
            if (keys->element[i]->type == REDIS_REPLY_STRING &&
                addressFromGameKey(std::string_view(keys->element[i]->str, keys->element[i]->len), address)) {
                addresses.push_back(address);
            }
        }
    } while (cursor != "0");
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());

    games.clear();
    unreadable = 0;
    std::unordered_map<std::uint32_t, Read> read;
    for (std::size_t first = 0; first < addresses.size(); first += BatchSize) {
        const std::size_t count = std::min(BatchSize, addresses.size() - first);
        Command mget{{"MGET"}};
        for (std::size_t i = 0; i < count; ++i)
            mget.words.push_back(gameKey(addresses[first + i]));
        if (!pipeline(context, {mget}, replies, error)) {
            drop(error);
            return false;
        }
        const redisReply* values = replies[0].get();
        if (values->type == REDIS_REPLY_ERROR) return noRedisError(replies, error);
        if (values->type != REDIS_REPLY_ARRAY || values->elements != count) {
            error = "MGET gave an unexpected reply";
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const redisReply* value = values->element[i];
            if (value->type != REDIS_REPLY_STRING) continue;  // expired since the scan
            const std::uint32_t address = addresses[first + i];
            const std::string_view text(value->str, value->len);
            Read entry;
            if (auto before = lastRead.find(address);
                before != lastRead.end() && before->second.value == text) {
                entry = std::move(before->second);
            } else {
                std::string why;
                entry.value = std::string(text);
                entry.readable = decodeStoredEntry(address, text, entry.game, why);
            }
            if (entry.readable) {
                games.push_back(entry.game);
            } else {
                ++unreadable;
            }
            read.emplace(address, std::move(entry));
        }
    }
    lastRead = std::move(read);
    return true;
}

bool RedisStore::claimRechecks(std::span<const std::uint32_t> addresses, int milliseconds,
                               std::vector<bool>& won, std::string& error) {
    std::vector<Command> commands;
    for (const std::uint32_t address : addresses) {
        commands.push_back(Command{{"SET", CheckedKeyPrefix + formatIpv4Address(address), "1", "NX", "PX",
                                    std::to_string(milliseconds)}});
    }
    std::lock_guard<std::mutex> held(lock);
    std::vector<Reply> replies;
    if (!connected(error)) return false;
    if (!pipeline(context, commands, replies, error)) {
        drop(error);
        return false;
    }
    if (!noRedisError(replies, error)) return false;
    won.assign(addresses.size(), false);
    // NX answers OK when the key was set, and nil when another claim holds it.
    for (std::size_t i = 0; i < replies.size(); ++i)
        won[i] = replies[i]->type == REDIS_REPLY_STATUS;
    return true;
}

}  // namespace brassmoor
