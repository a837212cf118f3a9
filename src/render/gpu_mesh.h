// A mesh uploaded once to a vertex array and buffer on the GPU.
#pragma once

#include <vector>

#include <glad/gl.h>

namespace brassmoor {

struct GpuMesh {
    GLuint vertexArray = 0;
    GLuint vertexBuffer = 0;
    GLint vertexCount = 0;
};

// Needs a current context. Leaves the new vertex array and buffer bound.
GpuMesh uploadMesh(const std::vector<float>& vertices);

}  // namespace brassmoor
