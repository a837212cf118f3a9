// A few words on what a datagram is, for the replayer's lines: "snapshot self=7, 20 players".
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace brassmoor {

// What the bytes hold as the client would see them: a snapshot with its receiver and the number
// of entries it carries, or why the client rejects it; the other types by name.
std::string describeDatagram(std::span<const std::uint8_t> bytes);

}  // namespace brassmoor
