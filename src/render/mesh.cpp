// Builds the avatar box and the ground grid as interleaved position/normal floats.
#include "render/mesh.h"

namespace brassmoor {

namespace {

void appendVertex(std::vector<float>& vertices, float x, float y, float z, float nx, float ny, float nz) {
    vertices.insert(vertices.end(), {x, y, z, nx, ny, nz});
}

struct Corner {
    float x;
    float y;
    float z;
};

// Corners p1..p4 run counter-clockwise seen from outside; two triangles share p1 and p3.
void appendFace(std::vector<float>& vertices, float nx, float ny, float nz, Corner p1, Corner p2, Corner p3,
                Corner p4) {
    for (const Corner& p : {p1, p2, p3, p1, p3, p4}) {
        appendVertex(vertices, p.x, p.y, p.z, nx, ny, nz);
    }
}

}  // namespace

void buildAvatarBox(std::vector<float>& vertices) {
    constexpr float w = AvatarHalfWidth;
    constexpr float h = AvatarHalfHeight;
    vertices.reserve(vertices.size() + 36 * FloatsPerVertex);
    appendFace(vertices, 0, 0, 1, {-w, -w, h}, {w, -w, h}, {w, w, h}, {-w, w, h});
    appendFace(vertices, 0, 0, -1, {-w, -w, -h}, {-w, w, -h}, {w, w, -h}, {w, -w, -h});
    appendFace(vertices, 0, -1, 0, {-w, -w, -h}, {w, -w, -h}, {w, -w, h}, {-w, -w, h});
    appendFace(vertices, 0, 1, 0, {w, w, -h}, {-w, w, -h}, {-w, w, h}, {w, w, h});
    appendFace(vertices, 1, 0, 0, {w, -w, -h}, {w, w, -h}, {w, w, h}, {w, -w, h});
    appendFace(vertices, -1, 0, 0, {-w, w, -h}, {-w, -w, -h}, {-w, -w, h}, {-w, w, h});
}

void buildGroundGrid(std::vector<float>& vertices) {
    constexpr int n = GroundGridHalfExtent;
    constexpr float e = static_cast<float>(n);
    vertices.reserve(vertices.size() + (2 * n + 1) * 4 * FloatsPerVertex);
    for (int i = -n; i <= n; ++i) {
        const float f = static_cast<float>(i);
        appendVertex(vertices, f, -e, 0, 0, 0, 1);  // line along Y at x = i
        appendVertex(vertices, f, e, 0, 0, 0, 1);
        appendVertex(vertices, -e, f, 0, 0, 0, 1);  // line along X at y = i
        appendVertex(vertices, e, f, 0, 0, 0, 1);
    }
}

}  // namespace brassmoor
