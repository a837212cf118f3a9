// The window title: server, number of other players, own position.
#pragma once

#include <cstddef>

#include "net/peer_table.h"
#include "render/camera.h"

struct GLFWwindow;

namespace brassmoor {

inline constexpr std::size_t WindowTitleCapacity = 128;  // terminator included

// Formats the title into `title`; a text too long is cut at 127 characters.
void formatWindowTitle(char (&title)[WindowTitleCapacity], const char* serverAddressText, int othersCount,
                       PlayerPosition position);
// Sets the title on every call, whether or not it changed.
void updateWindowTitle(GLFWwindow* window, const char* serverAddressText, const PeerTable& peers,
                       PlayerPosition position);

}  // namespace brassmoor
