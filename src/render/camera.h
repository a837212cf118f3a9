// Where the player stands, and the projection, view and model matrices of the scene.
#pragma once

#include "net/datagram.h"
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

// Model matrix of another player's box: standing on the ground, turned by its yaw.
// The reported height is ignored.
Mat4 avatarModelMatrix(const PeerState& peer);

}  // namespace brassmoor
