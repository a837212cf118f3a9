// Uploads an interleaved position/normal float array into a vertex array and buffer.
#include "render/gpu_mesh.h"

#include <cstdint>

#include "render/mesh.h"

namespace brassmoor {

GpuMesh uploadMesh(const std::vector<float>& vertices) {
    constexpr auto stride = static_cast<GLsizei>(FloatsPerVertex * sizeof(float));
    GpuMesh mesh;
    glGenVertexArrays(1, &mesh.vertexArray);
    glGenBuffers(1, &mesh.vertexBuffer);
    glBindVertexArray(mesh.vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)), vertices.data(),
                 GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(std::uintptr_t{0}));
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(std::uintptr_t{3 * sizeof(float)}));
    glEnableVertexAttribArray(1);
    mesh.vertexCount = static_cast<GLint>(vertices.size() / FloatsPerVertex);
    // Nothing is unbound: every draw binds the vertex array it needs first.
    return mesh;
}

}  // namespace brassmoor
