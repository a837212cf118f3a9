// Free look from cursor motion, in single precision as the pose carries it.
#include "app/look.h"

#include <cmath>

namespace brassmoor {

LookState lookState;

void applyCursorMotion(LookState& look, double x, double y) {
    // The first report says where the cursor is, not how far it moved: GLFW
    // reports a position of its own when the pointer enters the window.
    if (look.firstCursorEvent) {
        look.lastCursorX = x;
        look.lastCursorY = y;
        look.firstCursorEvent = false;
        return;
    }
    const double dx = x - look.lastCursorX;
    const double dy = y - look.lastCursorY;
    look.lastCursorX = x;
    look.lastCursorY = y;

    look.yaw = look.yaw - static_cast<float>(dx) * MouseSensitivity;
    look.pitch = look.pitch - static_cast<float>(dy) * MouseSensitivity;
    // Clamped, not accumulated past the limit, so the first motion back turns at once.
    if (look.pitch > PitchLimit) {
        look.pitch = PitchLimit;
    } else if (look.pitch < -PitchLimit) {
        look.pitch = -PitchLimit;
    }
}

void onCursorPos(GLFWwindow* /*window*/, double x, double y) {
    applyCursorMotion(lookState, x, y);
}

Vec3 lookDirection(const LookState& look) {
    const float cosPitch = std::cos(look.pitch);
    return Vec3{cosPitch * std::cos(look.yaw), cosPitch * std::sin(look.yaw), std::sin(look.pitch)};
}

}  // namespace brassmoor
