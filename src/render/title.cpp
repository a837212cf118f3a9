// Sets the window title from the server address, the number of others and the position.
#include "render/title.h"

#define GLFW_INCLUDE_NONE  // no GL header needed here
#include <GLFW/glfw3.h>

namespace brassmoor {

void updateWindowTitle(GLFWwindow* window, const char* serverAddressText, const PeerTable& peers,
                       PlayerPosition position) {
    char title[WindowTitleCapacity];
    formatWindowTitle(title, serverAddressText, static_cast<int>(peers.size()), position);
    glfwSetWindowTitle(window, title);
}

}  // namespace brassmoor
