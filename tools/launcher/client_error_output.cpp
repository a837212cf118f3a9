// The last part of the game's standard error, kept for the launcher to show; the same on every system.
#include "client_process.h"

namespace brassmoor {

void keepClientErrorOutput(ClientProcess& process, std::string_view text) {
    std::string& kept = process.errorOutput;
    kept.append(text);
    if (kept.size() <= MaxKeptClientErrorBytes) return;
    // Cut at a line's start where there is one, so that no line shows only its end.
    std::size_t cut = kept.size() - MaxKeptClientErrorBytes;
    const std::size_t lineStart = kept.find('\n', cut);
    if (lineStart != std::string::npos && lineStart + 1 < kept.size()) cut = lineStart + 1;
    kept.erase(0, cut);
}

std::string takeClientErrorOutput(ClientProcess& process) {
    readClientErrorPipe(process);
    std::string taken;
    taken.swap(process.errorOutput);
    return taken;
}

}  // namespace brassmoor
