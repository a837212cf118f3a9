// Free look: the mouse turns the view; the one piece of process-wide state.
#pragma once

#include "render/math.h"

struct GLFWwindow;

namespace brassmoor {

inline constexpr float MouseSensitivity = 0.0022f;  // radians per screen-coordinate unit
inline constexpr float PitchLimit = 1.55f;          // radians, kept short of straight up or down
inline constexpr float InitialYaw = 1.5708f;        // looks along +Y at start

struct LookState {
    float yaw = InitialYaw;  // from +X towards +Y; never wrapped
    float pitch = 0.0f;      // positive looks up; within +-PitchLimit
    bool firstCursorEvent = true;
    double lastCursorX = 0.0;
    double lastCursorY = 0.0;
};

// Written only by onCursorPos, read by the frame loop, both on the one thread.
extern LookState lookState;

// Turns `look` by the motion from the previous cursor position to (x, y). The first
// event only records where the cursor is.
void applyCursorMotion(LookState& look, double x, double y);

// The GLFW cursor-position callback, acting on lookState.
void onCursorPos(GLFWwindow* window, double x, double y);

// Unit direction of the view.
Vec3 lookDirection(const LookState& look);

}  // namespace brassmoor
