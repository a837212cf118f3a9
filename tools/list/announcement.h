// What a game server's announcement is allowed to say, and whose game it announces: the pure checks
// of POST /v1/announce, apart from HTTP.
//
// The body is a JSON object of at most MaxAnnouncementBytes; `{}` is enough. The only field read is
// "port", which when present must be 40123 (a listed game is always ADDRESS:40123); other fields are
// left for later versions. Everything listed comes from the game's own answer on UDP, never from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "game_entry.h"

namespace brassmoor {

inline constexpr std::size_t MaxAnnouncementBytes = 1024;

// True for a body the list takes; otherwise false with `reason` saying why, for the response.
bool checkAnnouncementBody(std::string_view body, std::string& reason);

// False for addresses no game can have: 0.0.0.0/8, multicast, reserved and broadcast.
bool isUnicastAddress(std::uint32_t address);

// The address of the game a request announces. It is the connection's peer, unless the peer is one of
// `trustedProxies`: then it is the last address of the last X-Forwarded-For line (the one that proxy
// appended; what came before may be the client's own forgery). `forwardedFor` holds the request's
// X-Forwarded-For lines in their order. False, with `reason`, when there is no usable address.
bool announcedAddress(std::uint32_t peer, std::span<const std::string_view> forwardedFor,
                      std::span<const std::uint32_t> trustedProxies, std::uint32_t& address,
                      std::string& reason);

// The response bodies of POST and DELETE /v1/announce, for a small client to read: always "listed",
// and either the game as listed or the reason it is not.
//   {"listed": true, "address": "198.51.100.20", "port": 40123, "name": ..., "players": ..., "clients": ...,
//    "bots": ..., "max_clients": ..., "version": ...}
//   {"listed": false, "reason": "..."}
//   {"listed": false, "removed": true}   (DELETE; false when it was not listed)
std::string listedReply(const GameEntry& game);
std::string notListedReply(std::string_view reason);
std::string removedReply(bool removed);

}  // namespace brassmoor
