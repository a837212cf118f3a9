// Tests of the shader program, mesh upload and frame drawing against a real GL context.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <glad/gl.h>
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include "render/frame.h"
#include "render/gpu_mesh.h"
#include "render/mesh.h"
#include "render/shader.h"

namespace brassmoor {
namespace {

struct Rgb {
    int r, g, b;
};

// 8-bit values of the colours the frame should show (colour x shade x 255).
constexpr Rgb Sky{15, 18, 23};
constexpr Rgb LitGrid{45, 54, 67};       // grid colour x 0.88 (normal +Z)
constexpr Rgb BoxInShadow{71, 40, 20};   // box colour x 0.35
constexpr Rgb BoxFaceAtYaw{96, 54, 26};  // box colour x 0.47: local +X face at yaw -0.35
constexpr int Tolerance = 3;

class GlTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!glfwInit()) {
            return;
        }
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
        glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
        glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
        window = glfwCreateWindow(1280, 720, "render test", nullptr, nullptr);
        if (window == nullptr) {
            return;
        }
        glfwMakeContextCurrent(window);
        loaded = gladLoadGL(reinterpret_cast<GLADloadfunc>(glfwGetProcAddress)) != 0;
        glEnable(GL_DEPTH_TEST);
    }

    static void TearDownTestSuite() {
        if (window != nullptr) {
            glfwDestroyWindow(window);
            window = nullptr;
        }
        glfwTerminate();
    }

    void SetUp() override {
        ASSERT_NE(window, nullptr) << "no window with a 3.3 core context";
        ASSERT_TRUE(loaded) << "GL functions not loaded";
    }

    static GLFWwindow* window;
    static bool loaded;
};

GLFWwindow* GlTest::window = nullptr;
bool GlTest::loaded = false;

TEST_F(GlTest, ProgramCompilesAndLinksSilentlyWithAllThreeUniforms) {
    EXPECT_EQ(std::strlen(litColorVertexSource), 213u);
    EXPECT_EQ(std::strlen(litColorFragmentSource), 190u);
    EXPECT_STREQ(litColorVertexSource,
                 "#version 330 core\n"
                 "layout(location=0) in vec3 aPos;\n"
                 "layout(location=1) in vec3 aNormal;\n"
                 "uniform mat4 uMVP; uniform mat4 uModel;\n"
                 "out vec3 vN;\n"
                 "void main(){ gl_Position=uMVP*vec4(aPos,1.0); vN=mat3(uModel)*aNormal; }\n");
    EXPECT_STREQ(litColorFragmentSource,
                 "#version 330 core\n"
                 "in vec3 vN; uniform vec3 uColor; out vec4 o;\n"
                 "void main(){ vec3 L=normalize(vec3(0.4,0.5,0.9)); float d=max(dot(normalize(vN),L),0.0);\n"
                 "  o=vec4(uColor*(0.35+0.65*d),1.0); }\n");

    testing::internal::CaptureStderr();
    const LitColorProgram program = createLitColorProgram();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    GLint linked = GL_FALSE;
    glGetProgramiv(program.program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
    EXPECT_GE(program.uMVPLocation, 0);
    EXPECT_GE(program.uModelLocation, 0);
    EXPECT_GE(program.uColorLocation, 0);
    // Both stages stay attached after being flagged for deletion.
    GLint attached = 0;
    glGetProgramiv(program.program, GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 2);
    glDeleteProgram(program.program);
}

TEST_F(GlTest, BrokenStagePrintsOneShaderLineAndStillReturnsItsName) {
    testing::internal::CaptureStderr();
    const GLuint shader = compileShader(GL_FRAGMENT_SHADER, "#version 330 core\nvoid main(){ nonsense }\n");
    const std::string printed = testing::internal::GetCapturedStderr();

    EXPECT_EQ(printed.rfind("shader: ", 0), 0u) << printed;
    EXPECT_EQ(printed.find("shader: ", 1), std::string::npos) << printed;
    EXPECT_GT(printed.size(), std::strlen("shader: \n"));
    EXPECT_EQ(printed.back(), '\n');
    EXPECT_NE(shader, 0u);
    EXPECT_EQ(glIsShader(shader), GL_TRUE);
    glDeleteShader(shader);
}

void expectAttribute(GLuint index, GLuint buffer, std::uintptr_t offset) {
    GLint value = 0;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &value);
    EXPECT_EQ(value, GL_TRUE) << "attribute " << index;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_SIZE, &value);
    EXPECT_EQ(value, 3) << "attribute " << index;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_TYPE, &value);
    EXPECT_EQ(value, GL_FLOAT) << "attribute " << index;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &value);
    EXPECT_EQ(value, GL_FALSE) << "attribute " << index;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &value);
    EXPECT_EQ(value, 24) << "attribute " << index;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(static_cast<GLuint>(value), buffer) << "attribute " << index;
    void* pointer = nullptr;
    glGetVertexAttribPointerv(index, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pointer), offset) << "attribute " << index;
}

TEST_F(GlTest, UploadedMeshesReadBackAsBuiltWithInterleavedAttributes) {
    std::vector<float> box;
    buildAvatarBox(box);
    std::vector<float> grid;
    buildGroundGrid(grid);

    for (const std::vector<float>* vertices : {&box, &grid}) {
        const GpuMesh mesh = uploadMesh(*vertices);
        EXPECT_EQ(mesh.vertexCount, vertices == &box ? 36 : 484);

        // Left bound on return.
        GLint bound = 0;
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), mesh.vertexArray);
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), mesh.vertexBuffer);

        GLint size = 0;
        glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
        ASSERT_EQ(size, vertices == &box ? 864 : 11616);
        std::vector<float> readBack(vertices->size());
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, size, readBack.data());
        EXPECT_EQ(readBack, *vertices);

        expectAttribute(0, mesh.vertexBuffer, 0);
        expectAttribute(1, mesh.vertexBuffer, 12);
    }
}

class FrameTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (HasFatalFailure()) {
            return;  // no context: the failure is reported, nothing may be drawn
        }
        program = createLitColorProgram();
        std::vector<float> vertices;
        buildAvatarBox(vertices);
        meshes.avatarBox = uploadMesh(vertices);
        vertices.clear();
        buildGroundGrid(vertices);
        meshes.groundGrid = uploadMesh(vertices);
        glfwGetFramebufferSize(window, &width, &height);
    }

    void TearDown() override {
        if (window == nullptr || !loaded) {
            return;
        }
        const GLuint arrays[2] = {meshes.avatarBox.vertexArray, meshes.groundGrid.vertexArray};
        const GLuint buffers[2] = {meshes.avatarBox.vertexBuffer, meshes.groundGrid.vertexBuffer};
        glDeleteVertexArrays(2, arrays);
        glDeleteBuffers(2, buffers);
        glDeleteProgram(program.program);
    }

    // Draws from the start camera: (0, 0) at eye height, looking along +Y.
    std::vector<std::uint8_t> drawAndRead(const PeerTable& peers) {
        const Vec3 look{std::cos(1.5708f), std::sin(1.5708f), 0.0f};
        drawFrame(window, {0.0f, 0.0f}, look, peers, program, meshes);
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    Rgb pixelAt(const std::vector<std::uint8_t>& pixels, int column, int row) const {
        const std::size_t i = (static_cast<std::size_t>(row) * width + column) * 3;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }

    static bool near(Rgb a, Rgb b) {
        return std::abs(a.r - b.r) <= Tolerance && std::abs(a.g - b.g) <= Tolerance &&
               std::abs(a.b - b.b) <= Tolerance;
    }

    struct Match {
        int count = 0;
        double meanColumn = 0.0;
    };

    // Pixels near `colour` in rows [firstRow, endRow), row 0 at the bottom.
    Match find(const std::vector<std::uint8_t>& pixels, Rgb colour, int firstRow, int endRow) const {
        Match match;
        double columns = 0.0;
        for (int row = firstRow; row < endRow; ++row) {
            for (int column = 0; column < width; ++column) {
                if (near(pixelAt(pixels, column, row), colour)) {
                    ++match.count;
                    columns += column;
                }
            }
        }
        match.meanColumn = match.count > 0 ? columns / match.count : 0.0;
        return match;
    }

    int countOrange(const std::vector<std::uint8_t>& pixels) const {
        int count = 0;
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const Rgb p = pixelAt(pixels, column, row);
                count += p.r > p.g + 15 ? 1 : 0;
            }
        }
        return count;
    }

    LitColorProgram program;
    SceneMeshes meshes;
    int width = 0;
    int height = 0;
};

TEST_F(FrameTest, EmptyTableShowsSkyAboveTheHorizonAndTheLitGridBelow) {
    ASSERT_EQ(width, 1280);
    ASSERT_EQ(height, 720);
    const std::vector<std::uint8_t> pixels = drawAndRead({});

    // The farthest grid line lies about 15 rows below the horizon, so the upper half is all sky.
    const int upperRows = height - (height / 2 + 2);
    EXPECT_EQ(find(pixels, Sky, height / 2 + 2, height).count, upperRows * width);
    EXPECT_GT(find(pixels, LitGrid, 0, height / 2).count, 1000);
    EXPECT_EQ(find(pixels, LitGrid, height / 2 + 2, height).count, 0);
    EXPECT_EQ(countOrange(pixels), 0);

    GLint state[4] = {};
    glGetIntegerv(GL_VIEWPORT, state);
    EXPECT_EQ(state[2], 1280);
    EXPECT_EQ(state[3], 720);
    glGetIntegerv(GL_CURRENT_PROGRAM, state);
    EXPECT_EQ(static_cast<GLuint>(state[0]), program.program);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, state);
    EXPECT_EQ(static_cast<GLuint>(state[0]), meshes.avatarBox.vertexArray);
}

TEST_F(FrameTest, BoxInFrontShowsEachVisibleFaceAtItsOwnShade) {
    const PeerTable peers{{7u, {0.0f, 5.0f, 0.0f, -0.35f}}};
    const std::vector<std::uint8_t> pixels = drawAndRead(peers);

    // The face towards the camera is turned away from the light; the local +X face, on the
    // right, catches some of it.
    const Match shadow = find(pixels, BoxInShadow, 0, height);
    const Match lit = find(pixels, BoxFaceAtYaw, 0, height);
    EXPECT_GT(shadow.count, 3000);
    EXPECT_GT(lit.count, 1000);
    EXPECT_LT(shadow.meanColumn, lit.meanColumn);
    EXPECT_NEAR(shadow.meanColumn, width / 2, 60);
    // The box stands on the ground: a pixel below the horizon in the middle is orange.
    const Rgb middle = pixelAt(pixels, width / 2 - 10, height / 2 - 100);
    EXPECT_TRUE(near(middle, BoxInShadow)) << middle.r << "," << middle.g << "," << middle.b;
}

TEST_F(FrameTest, BoxBehindTheCameraIsNotDrawn) {
    const PeerTable peers{{7u, {0.0f, -5.0f, 0.0f, 0.0f}}};
    const std::vector<std::uint8_t> pixels = drawAndRead(peers);
    EXPECT_EQ(countOrange(pixels), 0);
    EXPECT_GT(find(pixels, LitGrid, 0, height / 2).count, 1000);
}

TEST_F(FrameTest, ReportedHeightDoesNotChangeThePicture) {
    const std::vector<std::uint8_t> onGround = drawAndRead({{3u, {1.0f, 6.0f, 0.0f, 0.5f}}});
    const std::vector<std::uint8_t> reportedHigh = drawAndRead({{3u, {1.0f, 6.0f, 5.0f, 0.5f}}});
    EXPECT_GT(countOrange(onGround), 1000);
    EXPECT_TRUE(onGround == reportedHigh);
}

}  // namespace
}  // namespace brassmoor
