// The projection, view and model matrices of the scene.
#include "render/camera.h"

#include "render/mesh.h"

namespace brassmoor {

Mat4 projectionForFramebuffer(int width, int height) {
    // A minimised window reports height 0; the width is left as it is.
    const int guardedHeight = height == 0 ? 1 : height;
    const float aspect = static_cast<float>(width) / static_cast<float>(guardedHeight);
    return perspective(FieldOfViewY, aspect, NearDistance, FarDistance);
}

Mat4 viewFromEye(PlayerPosition position, Vec3 look) {
    // The eye keeps its height whatever the pitch; only the target rises and falls.
    const Vec3 eye{position.x, position.y, EyeHeight};
    const Vec3 target{position.x + look.x, position.y + look.y, look.z + EyeHeight};
    const Vec3 up{0.0f, 0.0f, 1.0f};
    return lookAt(eye, target, up);
}

Mat4 avatarModelMatrix(const PeerState& peer) {
    // The box is centred on its origin; lifting it by its half height stands it on the
    // ground whatever height the peer reports.
    return multiply(translation(peer.x, peer.y, AvatarHalfHeight), rotationZ(peer.yaw));
}

}  // namespace brassmoor
