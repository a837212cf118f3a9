// Start-up in a fixed order, the frame loop, and shutdown.
#include "app/client.h"

#include <cstdio>
#include <vector>

#include <glad/gl.h>
#include <GLFW/glfw3.h>

#include "app/look.h"
#include "app/walk.h"
#include "net/server_link.h"
#include "render/frame.h"
#include "render/mesh.h"
#include "render/shader.h"
#include "render/title.h"

namespace brassmoor {

namespace {

constexpr int WindowWidth = 1280;
constexpr int WindowHeight = 720;

// Everything the client holds from start-up to shutdown.
struct Client {
    const char* serverAddressText = nullptr;
    ServerLink link;
    GLFWwindow* window = nullptr;
    LitColorProgram program;
    std::vector<float> boxVertices;
    std::vector<float> gridVertices;
    SceneMeshes meshes;
    PeerTable peers;
    PlayerPosition position;
    double previousFrameTime = 0.0;
};

int startupFailure(const char* message) {
    std::fputs(message, stderr);
    return 1;
}

// One pass after another until Escape is held or the window is asked to close.
void runFrameLoop(Client& client) {
    for (;;) {
        const double now = glfwGetTime();
        const double elapsed = now - client.previousFrameTime;
        glfwPollEvents();  // onCursorPos runs in here
        // Escape ends the run before this pass moves, sends or draws anything.
        if (glfwGetKey(client.window, GLFW_KEY_ESCAPE) == GLFW_PRESS) {
            return;
        }
        const float dt = static_cast<float>(elapsed);
        client.previousFrameTime = now;

        const Vec3 look = lookDirection(lookState);
        walk(client.window, dt, look, client.position);

        const PoseDatagram pose{client.position.x, client.position.y, EyeHeight, lookState.yaw,
                                lookState.pitch};
        client.link.sendPoseIfDue(dt, pose);
        client.link.drainSnapshots(client.peers);

        drawFrame(client.window, client.position, look, client.peers, client.program, client.meshes);
        updateWindowTitle(client.window, client.serverAddressText, client.peers, client.position);
        glfwSwapBuffers(client.window);

        if (glfwWindowShouldClose(client.window)) {
            return;
        }
    }
}

}  // namespace

int runClient(int argc, char** argv) {
    Client client;
    client.serverAddressText = argc >= 2 ? argv[1] : DefaultServerAddress;

    // The link comes first so that its connecting line is out even if no window can be made.
    if (!client.link.open(client.serverAddressText)) {
        return startupFailure("net init failed\n");
    }
    if (!glfwInit()) {
        return startupFailure("glfw init failed\n");
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    client.window = glfwCreateWindow(WindowWidth, WindowHeight, "Brassmoor", nullptr, nullptr);
    if (client.window == nullptr) {
        std::fputs("window failed\n", stderr);
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(client.window);
    glfwSwapInterval(1);
    if (gladLoadGL(reinterpret_cast<GLADloadfunc>(glfwGetProcAddress)) == 0) {
        return startupFailure("glad failed\n");
    }
    glfwSetInputMode(client.window, GLFW_CURSOR, GLFW_CURSOR_DISABLED);
    glfwSetCursorPosCallback(client.window, onCursorPos);
    glEnable(GL_DEPTH_TEST);

    client.program = createLitColorProgram();
    buildAvatarBox(client.boxVertices);
    client.meshes.avatarBox = uploadMesh(client.boxVertices);
    buildGroundGrid(client.gridVertices);
    client.meshes.groundGrid = uploadMesh(client.gridVertices);

    client.previousFrameTime = glfwGetTime();
    if (!glfwWindowShouldClose(client.window)) {
        runFrameLoop(client);
    }

    // The context takes the program, vertex arrays and buffers with it.
    glfwDestroyWindow(client.window);
    glfwTerminate();
    client.link.close();
    client.peers = PeerTable{};
    client.gridVertices = std::vector<float>{};
    client.boxVertices = std::vector<float>{};
    return 0;
}

}  // namespace brassmoor
