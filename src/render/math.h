// Single-precision 3-vectors and 4x4 matrices for the camera and the models.
//
// Conventions: right-handed world with Z up, angles in radians. Mat4 is stored
// column by column (row r, column c at index 4c + r) and handed to the GL as it
// is; points are column vectors, so in multiply(a, b) b is applied first.
#pragma once

#include <array>

namespace brassmoor {

struct Vec3 {
    float x;
    float y;
    float z;
};

struct Mat4 {
    std::array<float, 16> m;
};

// Vectors no longer than this are never divided by their length.
inline constexpr float NormalizeThreshold = 1e-6f;

Vec3 add(Vec3 a, Vec3 b);
Vec3 sub(Vec3 a, Vec3 b);
float dot(Vec3 a, Vec3 b);
Vec3 cross(Vec3 a, Vec3 b);
Vec3 normalize(Vec3 v);  // unit length, or v unchanged when too short (or NaN)

Mat4 identity();
// The product a·b: every element a sum from zero, left to right, of products each rounded on its
// own. multiply computes four rows at a time where the processor can; its results have the same
// bits as multiplyPlain's, which computes one element at a time.
Mat4 multiply(const Mat4& a, const Mat4& b);
Mat4 multiplyPlain(const Mat4& a, const Mat4& b);
Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up);
Mat4 perspective(float fovY, float aspect, float near, float far);
Mat4 translation(float x, float y, float z);
Mat4 rotationZ(float angle);

}  // namespace brassmoor
