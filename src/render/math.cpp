// Vector and matrix operations, all in single precision, matrices column by column.
#include "render/math.h"

#include <cmath>

namespace brassmoor {

Vec3 add(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

Vec3 sub(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 normalize(Vec3 v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    // Written so that a NaN length fails the test too and v comes back as it was.
    if (!(length > NormalizeThreshold)) {
        return v;
    }
    const float k = 1.0f / length;
    return {v.x * k, v.y * k, v.z * k};
}

Mat4 identity() {
    Mat4 r{};
    r.m[0] = 1.0f;
    r.m[5] = 1.0f;
    r.m[10] = 1.0f;
    r.m[15] = 1.0f;
    return r;
}

Mat4 multiplyPlain(const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            // Each product is rounded on its own and the sum runs left to right from zero,
            // so the bits do not depend on the compiler contracting into fused multiply-adds.
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) {
                const float product = a.m[4 * k + row] * b.m[4 * c + k];
                sum = sum + product;
            }
            r.m[4 * c + row] = sum;
        }
    }
    return r;
}

Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up) {
    const Vec3 f = normalize(sub(target, eye));
    const Vec3 s = normalize(cross(f, up));
    const Vec3 u = cross(s, f);

    Mat4 r = identity();
    r.m[0] = s.x;
    r.m[4] = s.y;
    r.m[8] = s.z;
    r.m[12] = -dot(s, eye);
    r.m[1] = u.x;
    r.m[5] = u.y;
    r.m[9] = u.z;
    r.m[13] = -dot(u, eye);
    r.m[2] = -f.x;
    r.m[6] = -f.y;
    r.m[10] = -f.z;
    r.m[14] = dot(f, eye);
    return r;
}

Mat4 perspective(float fovY, float aspect, float near, float far) {
    const float focal = 1.0f / std::tan(fovY / 2.0f);
    Mat4 r{};
    // No guard on the aspect: the caller keeps it away from zero where that matters.
    r.m[0] = focal / aspect;
    r.m[5] = focal;
    r.m[10] = (far + near) / (near - far);
    r.m[11] = -1.0f;
    r.m[14] = (2.0f * far * near) / (near - far);
    return r;
}

Mat4 translation(float x, float y, float z) {
    Mat4 r = identity();
    r.m[12] = x;
    r.m[13] = y;
    r.m[14] = z;
    return r;
}

Mat4 rotationZ(float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    Mat4 r = identity();
    r.m[0] = c;
    r.m[1] = s;
    r.m[4] = -s;
    r.m[5] = c;
    return r;
}

}  // namespace brassmoor
