// brassmoor-list-load: games for the list server's benchmark. Each game is a UDP socket on port 40123
// of an address of its own (127.0.0.2 onwards), answered on a thread of its own as a game server
// answers info queries; the games announce themselves to the list from their own addresses, many at
// once through libcurl's multi interface (the list limits announcements per address, so one address
// could not make many), in timed rounds.
#include <curl/curl.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ipv4_endpoint.h"
#include "list_load_options.h"
#include "monotonic_clock.h"
#include "net/socket_layer.h"
#include "server_info.h"
#include "socket_address.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

constexpr std::uint16_t GamePort = 40123;
constexpr int EventsPerWait = 256;
constexpr int WaitMilliseconds = 100;
constexpr long AnnounceTimeoutMilliseconds = 10000;

struct Games {
    std::uint32_t firstAddress = 0;
    std::vector<SocketHandle> sockets;  // sockets[i]: the game at firstAddress + i
    std::vector<ServerInfo> infos;
    int epoll = -1;
    std::atomic<std::uint64_t> answered{0};
    std::atomic<bool> stopping{false};
};

// Busiest first is the list's order: the games hold from 0 to 63 players, so that it has work to do.
ServerInfo gameInfo(std::uint32_t index, std::uint32_t instance) {
    ServerInfo info;
    info.instance = instance;
    info.bots = static_cast<std::uint16_t>(index % 64);
    info.players = info.bots;
    info.maxClients = 64;
    const ProjectVersion version = projectVersion();
    info.versionMajor = static_cast<std::uint8_t>(version.major);
    info.versionMinor = static_cast<std::uint8_t>(version.minor);
    info.versionPatch = static_cast<std::uint8_t>(version.patch);
    info.name = "bench game " + std::to_string(index);
    return info;
}

void closeGames(Games& games) {
    for (const SocketHandle socket : games.sockets)
        closeSocket(socket);
    games.sockets.clear();
    if (games.epoll >= 0) ::close(games.epoll);
    games.epoll = -1;
}

bool openGames(const ListLoadOptions& options, Games& games, std::string& error) {
    games.firstAddress = options.firstAddress;
    games.epoll = epoll_create1(EPOLL_CLOEXEC);
    if (games.epoll < 0) {
        error = std::string("epoll_create1: ") + std::strerror(errno);
        return false;
    }
    std::mt19937 random(std::random_device{}());
    for (std::uint32_t i = 0; i < options.games; ++i) {
        const Ipv4Endpoint at{options.firstAddress + i, GamePort};
        const SocketHandle socket = openUdpSocket();
        if (socket == InvalidSocketHandle || !bindUdpSocket(socket, toSocketAddress(at))) {
            error = "cannot open UDP " + formatIpv4Endpoint(at) + ": " + lastSocketError();
            if (socket != InvalidSocketHandle) closeSocket(socket);
            return false;
        }
        makeNonBlocking(socket);
        games.sockets.push_back(socket);
        games.infos.push_back(gameInfo(i, static_cast<std::uint32_t>(random())));
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = i;
        if (epoll_ctl(games.epoll, EPOLL_CTL_ADD, socket, &event) != 0) {
            error = std::string("epoll_ctl: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// The games' thread: every query on every socket answered, as the server answers it.
void answerQueries(Games& games) {
    std::array<epoll_event, EventsPerWait> events{};
    std::array<std::uint8_t, 2048> buffer{};
    while (!games.stopping.load()) {
        const int ready = epoll_wait(games.epoll, events.data(), EventsPerWait, WaitMilliseconds);
        for (int e = 0; e < ready; ++e) {
            const std::uint32_t index = events[static_cast<std::size_t>(e)].data.u32;
            while (true) {
                sockaddr_in from{};
                const int length = receiveDatagramFrom(games.sockets[index], buffer.data(),
                                                       static_cast<int>(buffer.size()), from);
                if (length < 0) break;
                std::uint32_t nonce = 0;
                const std::span<const std::uint8_t> query(buffer.data(), static_cast<std::size_t>(length));
                if (!decodeInfoQuery(query, nonce)) continue;
                const InfoAnswerBytes answer = encodeInfoAnswerFor(query.size(), nonce, games.infos[index]);
                if (sendDatagram(games.sockets[index], answer.bytes.data(), static_cast<int>(answer.size),
                                 from) > 0)
                    games.answered.fetch_add(1);
            }
        }
    }
}

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

struct Transfer {
    CURL* handle = nullptr;
    std::string source;  // "host!ADDRESS": connect from the game's own address
};

struct RoundTally {
    std::map<int, std::uint64_t> statuses;  // HTTP status -> announcements answered so
    std::uint64_t failed = 0;               // no answer at all
    std::string firstFailure;
};

void startAnnouncement(CURLM* multi, Transfer& transfer, const std::string& url, std::uint32_t address,
                       curl_slist* headers) {
    transfer.source = "host!" + formatIpv4Address(address);
    transfer.handle = curl_easy_init();
    CURL* handle = transfer.handle;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_INTERFACE, transfer.source.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, "{}");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // Closed once answered, as a game server's own request is: a connection kept for reuse would hold
    // one of the list's threads for its keep-alive time.
    curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, AnnounceTimeoutMilliseconds);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, discardBody);
    curl_easy_setopt(handle, CURLOPT_PRIVATE, &transfer);
    curl_multi_add_handle(multi, handle);
}

// Every game announces itself once, `concurrency` at a time; the tally of what the list answered.
RoundTally announceAll(const ListLoadOptions& options, const Games& games) {
    RoundTally tally;
    const std::string url = options.list + "/v1/announce";
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Expect:");
    CURLM* multi = curl_multi_init();
    std::vector<Transfer> transfers(options.concurrency);
    std::vector<Transfer*> idle;
    for (Transfer& transfer : transfers)
        idle.push_back(&transfer);
    std::uint32_t next = 0;
    std::uint32_t done = 0;
    while (done < options.games && stopRequest() == 0) {
        while (!idle.empty() && next < options.games) {
            startAnnouncement(multi, *idle.back(), url, games.firstAddress + next, headers);
            idle.pop_back();
            ++next;
        }
        int running = 0;
        curl_multi_perform(multi, &running);
        int left = 0;
        bool finished = false;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            long status = 0;
            curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
            if (message->data.result == CURLE_OK) {
                ++tally.statuses[static_cast<int>(status)];
            } else {
                if (tally.failed++ == 0) tally.firstFailure = curl_easy_strerror(message->data.result);
            }
            curl_multi_remove_handle(multi, message->easy_handle);
            curl_easy_cleanup(message->easy_handle);
            idle.push_back(transfer);
            ++done;
            finished = true;
        }
        if (finished) continue;  // the next games start before anything is waited for
        // No longer than libcurl's own next deadline: a transfer just added waits on a timer, not a socket.
        long due = -1;
        curl_multi_timeout(multi, &due);
        const int wait = due >= 0 && due < WaitMilliseconds ? static_cast<int>(due) : WaitMilliseconds;
        if (wait > 0) curl_multi_poll(multi, nullptr, 0, wait, nullptr);
    }
    for (Transfer& transfer : transfers) {
        if (transfer.handle != nullptr && std::find(idle.begin(), idle.end(), &transfer) == idle.end()) {
            curl_multi_remove_handle(multi, transfer.handle);
            curl_easy_cleanup(transfer.handle);
        }
    }
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    return tally;
}

void printRound(std::uint32_t round, std::uint32_t games, double seconds, const RoundTally& tally) {
    const auto listed = tally.statuses.find(200);
    std::printf("round %u: %u announcements in %.2f s, %.0f a second: %llu listed", round, games, seconds,
                games / seconds,
                static_cast<unsigned long long>(listed == tally.statuses.end() ? 0 : listed->second));
    for (const auto& [status, count] : tally.statuses) {
        if (status != 200) std::printf(", %llu answered %d", static_cast<unsigned long long>(count), status);
    }
    if (tally.failed > 0)
        std::printf(", %llu failed (%s)", static_cast<unsigned long long>(tally.failed),
                    tally.firstFailure.c_str());
    std::printf("\n");
}

int run(const ListLoadOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-list-load: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    // A socket per game: the hard limit is the one that counts.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "brassmoor-list-load: libcurl cannot start\n");
        return 1;
    }
    Games games;
    std::string error;
    if (!openGames(options, games, error)) {
        std::fprintf(stderr, "brassmoor-list-load: %s\n", error.c_str());
        closeGames(games);
        return 1;
    }
    std::printf("answering on %s to %s, UDP %u (%u games)\n", formatIpv4Address(options.firstAddress).c_str(),
                formatIpv4Address(options.firstAddress + options.games - 1).c_str(), unsigned{GamePort},
                options.games);
    std::thread answering(answerQueries, std::ref(games));
    for (std::uint32_t round = 1; round <= options.rounds && stopRequest() == 0; ++round) {
        const double started = monotonicSeconds();
        const RoundTally tally = announceAll(options, games);
        printRound(round, options.games, monotonicSeconds() - started, tally);
    }
    while (options.hold && stopRequest() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(WaitMilliseconds));
    games.stopping.store(true);
    answering.join();
    std::printf("answered %llu info queries\n", static_cast<unsigned long long>(games.answered.load()));
    closeGames(games);
    curl_global_cleanup();
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-list-load", brassmoor::listLoadUsageText(),
                                       brassmoor::parseListLoadOptions, brassmoor::run);
}
