// Walking on the ground plane with W, A, S and D.
#pragma once

#include "render/camera.h"
#include "render/math.h"

struct GLFWwindow;

namespace brassmoor {

inline constexpr float WalkSpeed = 6.0f;  // world units per second

struct WalkKeys {
    bool forward = false;  // W
    bool back = false;     // S
    bool right = false;    // D
    bool left = false;     // A
};

// Moves `position` along the view projected onto the ground, whatever the pitch.
// dt is not clamped: a long frame gives one long step.
void walkStep(PlayerPosition& position, Vec3 look, float dt, WalkKeys keys);

// Reads W, S, D and A from the window, then walks.
void walk(GLFWwindow* window, float dt, Vec3 look, PlayerPosition& position);

}  // namespace brassmoor
