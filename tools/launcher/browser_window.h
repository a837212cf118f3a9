// The launcher's window: the list of games, the actions and the messages, drawn with Dear ImGui on
// GLFW and OpenGL 3.3, over a BrowserSession that does the work.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client_process.h"

namespace brassmoor {

// Runs the window until the player closes it (Escape or the window's close button) or the launcher
// is asked to stop: 0 then; `listServers` (--list-server) are read besides the user's and the
// computer's, and the first list server is offered for hosting a game listed on the Internet.
// Nothing, with `error` set to one line, when no window could be opened.
std::optional<int> runBrowserWindow(const ClientProgram& program, const std::vector<std::string>& listServers,
                                    std::string& error);

}  // namespace brassmoor
