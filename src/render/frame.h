// Draws one frame: the ground grid, then a box for every other player.
#pragma once

#include "net/peer_table.h"
#include "render/camera.h"
#include "render/gpu_mesh.h"
#include "render/math.h"
#include "render/shader.h"

struct GLFWwindow;

namespace brassmoor {

struct SceneMeshes {
    GpuMesh avatarBox;
    GpuMesh groundGrid;
};

// Draws into the back buffer; the window's context must be current.
void drawFrame(GLFWwindow* window, PlayerPosition position, Vec3 look, const PeerTable& peers,
               const LitColorProgram& program, const SceneMeshes& meshes);

}  // namespace brassmoor
