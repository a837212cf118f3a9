// The game the window starts: one at a time, watched without holding up the window, and its end
// told (with what it said when it failed).
#pragma once

#include <cstdint>
#include <optional>

#include "client_process.h"
#include "session_messages.h"

namespace brassmoor {

// True while `game` holds a game started and not yet ended.
bool gameRunning(const ClientProcess& game);

// Starts `program` against `address` into `game`, unless a game runs there already. False, with the
// reason reported, when none was started; `game` is then as it was.
bool startGame(const ClientProgram& program, std::uint32_t address, ClientProcess& game,
               SessionMessages& messages);

// Waits up to `waitMilliseconds` for the game to end: its exit status once it has (reported when it
// is not 0), nothing while it runs or when none runs.
std::optional<int> watchGame(ClientProcess& game, SessionMessages& messages, int waitMilliseconds);

// Ends a game still running, giving it ClientGraceMilliseconds to end by itself.
void endGame(ClientProcess& game);

}  // namespace brassmoor
