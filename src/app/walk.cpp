// Walking on the ground plane: forward follows the view flattened onto the ground.
#include "app/walk.h"

#include <cmath>

#include <GLFW/glfw3.h>

namespace brassmoor {

namespace {

// Scales (x, y) to unit length unless it is too short to divide by.
void normalizeFlat(float& x, float& y) {
    const float length = std::sqrt(x * x + y * y);
    if (length > NormalizeThreshold) {
        const float reciprocal = 1.0f / length;
        x *= reciprocal;
        y *= reciprocal;
    }
}

}  // namespace

void walkStep(PlayerPosition& position, Vec3 look, float dt, WalkKeys keys) {
    // Flattening the view keeps the speed the same whether the player looks up or down.
    float forwardX = look.x;
    float forwardY = look.y;
    normalizeFlat(forwardX, forwardY);
    // Right is look x up, (f.y, -f.x, 0), taken from the full look direction.
    float rightX = look.y;
    float rightY = -look.x;
    normalizeFlat(rightX, rightY);

    const float step = dt * WalkSpeed;
    if (keys.forward) {
        position.x += forwardX * step;
        position.y += forwardY * step;
    }
    if (keys.back) {
        position.x -= forwardX * step;
        position.y -= forwardY * step;
    }
    if (keys.right) {
        position.x += rightX * step;
        position.y += rightY * step;
    }
    if (keys.left) {
        position.x -= rightX * step;
        position.y -= rightY * step;
    }
}

void walk(GLFWwindow* window, float dt, Vec3 look, PlayerPosition& position) {
    WalkKeys keys;
    keys.forward = glfwGetKey(window, GLFW_KEY_W) == GLFW_PRESS;
    keys.back = glfwGetKey(window, GLFW_KEY_S) == GLFW_PRESS;
    keys.right = glfwGetKey(window, GLFW_KEY_D) == GLFW_PRESS;
    keys.left = glfwGetKey(window, GLFW_KEY_A) == GLFW_PRESS;
    walkStep(position, look, dt, keys);
}

}  // namespace brassmoor
