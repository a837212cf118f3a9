// Where the player stands and how the view and projection follow from it.
#pragma once

#include "render/math.h"

namespace brassmoor {

inline constexpr float EyeHeight = 1.7f;  // world units above the ground

// The player's ground position; moved only by walking.
struct PlayerPosition {
    float x = 0.0f;
    float y = 0.0f;
};

inline constexpr float FieldOfViewY = 1.2f;  // radians
inline constexpr float NearDistance = 0.05f;
inline constexpr float FarDistance = 500.0f;

// Projection for a framebuffer in pixels; a height of 0 counts as 1.
Mat4 projectionForFramebuffer(int width, int height);
// View from the eye above `position`, looking along the unit direction `look`.
Mat4 viewFromEye(PlayerPosition position, Vec3 look);

}  // namespace brassmoor
