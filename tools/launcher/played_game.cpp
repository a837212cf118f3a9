// The window's game: started into its record only once it runs, so a failed start leaves nothing
// running behind, and never over a game that runs.
#include "played_game.h"

#include <string>
#include <utility>

#include "ipv4_endpoint.h"

namespace brassmoor {

bool gameRunning(const ClientProcess& game) {
    return clientStarted(game);
}

bool startGame(const ClientProgram& program, std::uint32_t address, ClientProcess& game,
               SessionMessages& messages) {
    if (gameRunning(game)) {
        reportProblem(messages, "a game is already running: end it before starting another");
        return false;
    }
    if (program.path.empty()) {
        reportProblem(messages, "cannot find the game program (brassmoor) beside this program or on PATH");
        return false;
    }
    ClientProcess started;
    std::string error;
    if (!startClient(program, formatIpv4Address(address), started, error)) {
        reportProblem(messages, error);
        return false;
    }
    game = std::move(started);
    return true;
}

std::optional<int> watchGame(ClientProcess& game, SessionMessages& messages, int waitMilliseconds) {
    if (!gameRunning(game)) return std::nullopt;
    const std::optional<int> status = clientExitStatus(game, waitMilliseconds);
    if (!status) return std::nullopt;
    const std::string output = takeClientErrorOutput(game);
    if (*status != 0) {
        reportProblem(messages, "the game ended with status " + std::to_string(*status) +
                                    (output.empty() ? "" : "; what it said:"));
        reportGameOutput(messages, output);
    }
    return status;
}

void endGame(ClientProcess& game) {
    if (gameRunning(game)) stopClient(game, ClientGraceMilliseconds);
}

}  // namespace brassmoor
