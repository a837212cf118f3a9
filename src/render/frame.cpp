// Draws one frame from the player's eye: the ground grid, then one box per other player.
#include "render/frame.h"

#include <GLFW/glfw3.h>

namespace brassmoor {

void drawFrame(GLFWwindow* window, PlayerPosition position, Vec3 look, const PeerTable& peers,
               const LitColorProgram& program, const SceneMeshes& meshes) {
    // No resize callback: reading the size every frame is how a resized window is followed.
    int width = 0;
    int height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(0.06f, 0.07f, 0.09f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const Mat4 viewProjection =
        multiply(projectionForFramebuffer(width, height), viewFromEye(position, look));
    const Mat4 gridModel = identity();

    glUseProgram(program.program);
    glUniformMatrix4fv(program.uMVPLocation, 1, GL_FALSE, viewProjection.m.data());
    glUniformMatrix4fv(program.uModelLocation, 1, GL_FALSE, gridModel.m.data());
    glUniform3f(program.uColorLocation, 0.2f, 0.24f, 0.3f);
    glBindVertexArray(meshes.groundGrid.vertexArray);
    glDrawArrays(GL_LINES, 0, meshes.groundGrid.vertexCount);

    // All boxes share one vertex array and one colour; only their matrices change.
    glBindVertexArray(meshes.avatarBox.vertexArray);
    glUniform3f(program.uColorLocation, 0.8f, 0.45f, 0.22f);
    for (const auto& entry : peers) {
        const Mat4 model = avatarModelMatrix(entry.state);
        const Mat4 mvp = multiply(viewProjection, model);
        glUniformMatrix4fv(program.uMVPLocation, 1, GL_FALSE, mvp.m.data());
        glUniformMatrix4fv(program.uModelLocation, 1, GL_FALSE, model.m.data());
        glDrawArrays(GL_TRIANGLES, 0, meshes.avatarBox.vertexCount);
    }
}

}  // namespace brassmoor
