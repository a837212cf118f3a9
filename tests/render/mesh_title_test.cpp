// Tests of the scene meshes and of the window title text.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/mesh.h"
#include "render/title.h"

namespace brassmoor {
namespace {

struct Vertex {
    float x, y, z, nx, ny, nz;
};

Vertex vertexAt(const std::vector<float>& v, std::size_t index) {
    const float* f = v.data() + index * FloatsPerVertex;
    return {f[0], f[1], f[2], f[3], f[4], f[5]};
}

void expectPoint(const Vertex& v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

TEST(GroundGrid, HasOneLinePairPerUnitFromMinusSixtyToSixty) {
    std::vector<float> grid;
    buildGroundGrid(grid);
    ASSERT_EQ(grid.size(), 2904u);

    expectPoint(vertexAt(grid, 0), -60, -60, 0);
    expectPoint(vertexAt(grid, 1), -60, 60, 0);
    expectPoint(vertexAt(grid, 2), -60, -60, 0);
    expectPoint(vertexAt(grid, 3), 60, -60, 0);
    expectPoint(vertexAt(grid, 480), 60, -60, 0);
    expectPoint(vertexAt(grid, 481), 60, 60, 0);
    expectPoint(vertexAt(grid, 482), -60, 60, 0);
    expectPoint(vertexAt(grid, 483), 60, 60, 0);
    // The line at x = 0 is the 61st pair of lines.
    expectPoint(vertexAt(grid, 240), 0, -60, 0);
    expectPoint(vertexAt(grid, 241), 0, 60, 0);

    for (std::size_t i = 0; i < 484; ++i) {
        const Vertex v = vertexAt(grid, i);
        EXPECT_EQ(v.z, 0.0f) << "vertex " << i;
        EXPECT_EQ(v.nx, 0.0f) << "vertex " << i;
        EXPECT_EQ(v.ny, 0.0f) << "vertex " << i;
        EXPECT_EQ(v.nz, 1.0f) << "vertex " << i;
    }
}

TEST(AvatarBox, IsTwelveOutwardCounterClockwiseTrianglesOnTheCorners) {
    std::vector<float> box;
    buildAvatarBox(box);
    ASSERT_EQ(box.size(), 216u);

    const float faceNormals[6][3] = {{0, 0, 1}, {0, 0, -1}, {0, -1, 0}, {0, 1, 0}, {1, 0, 0}, {-1, 0, 0}};
    for (std::size_t i = 0; i < 36; ++i) {
        const Vertex v = vertexAt(box, i);
        const float* n = faceNormals[i / 6];
        EXPECT_EQ(v.nx, n[0]) << "vertex " << i;
        EXPECT_EQ(v.ny, n[1]) << "vertex " << i;
        EXPECT_EQ(v.nz, n[2]) << "vertex " << i;
        EXPECT_EQ(std::fabs(v.x), 0.3f) << "vertex " << i;
        EXPECT_EQ(std::fabs(v.y), 0.3f) << "vertex " << i;
        EXPECT_EQ(std::fabs(v.z), 0.9f) << "vertex " << i;
        // On the face the normal points out of: the coordinate along the normal has its sign.
        EXPECT_GT(v.x * n[0] + v.y * n[1] + v.z * n[2], 0.0f) << "vertex " << i;
    }

    for (std::size_t t = 0; t < 12; ++t) {
        const Vertex a = vertexAt(box, 3 * t);
        const Vertex b = vertexAt(box, 3 * t + 1);
        const Vertex c = vertexAt(box, 3 * t + 2);
        const float e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
        const float e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
        const float crossed[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                  e1[0] * e2[1] - e1[1] * e2[0]};
        EXPECT_GT(crossed[0] * a.nx + crossed[1] * a.ny + crossed[2] * a.nz, 0.0f) << "triangle " << t;
    }

    // Each face is (P1, P2, P3) then (P1, P3, P4).
    for (std::size_t face = 0; face < 6; ++face) {
        const Vertex p1 = vertexAt(box, 6 * face);
        const Vertex p3 = vertexAt(box, 6 * face + 2);
        expectPoint(vertexAt(box, 6 * face + 3), p1.x, p1.y, p1.z);
        expectPoint(vertexAt(box, 6 * face + 4), p3.x, p3.y, p3.z);
    }
    expectPoint(vertexAt(box, 0), -0.3f, -0.3f, 0.9f);
    expectPoint(vertexAt(box, 35), -0.3f, 0.3f, 0.9f);
}

TEST(WindowTitle, ShowsAddressOthersAndPositionToOneDecimal) {
    char title[WindowTitleCapacity];
    formatWindowTitle(title, "xyz", 3, {-1.26f, 7.06f});
    EXPECT_STREQ(title, "Brassmoor  |  xyz  |  others: 3  |  pos -1.3,7.1");

    formatWindowTitle(title, "127.0.0.1", 0, {0.0f, 0.0f});
    EXPECT_STREQ(title, "Brassmoor  |  127.0.0.1  |  others: 0  |  pos 0.0,0.0");
}

TEST(WindowTitle, LongAddressIsCutAt127CharactersAndTerminated) {
    const std::string address(200, 'a');
    char title[WindowTitleCapacity];
    std::memset(title, 'X', sizeof title);
    formatWindowTitle(title, address.c_str(), 2, {1.0f, 2.0f});
    EXPECT_EQ(title[127], '\0');
    EXPECT_EQ(std::string(title), "Brassmoor  |  " + std::string(113, 'a'));
}

}  // namespace
}  // namespace brassmoor
