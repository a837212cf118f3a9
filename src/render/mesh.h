// The two scene meshes, built on the CPU as interleaved position/normal floats.
#pragma once

#include <vector>

namespace brassmoor {

inline constexpr int FloatsPerVertex = 6;  // position x, y, z, then normal x, y, z
inline constexpr float AvatarHalfWidth = 0.3f;
inline constexpr float AvatarHalfHeight = 0.9f;
inline constexpr int GroundGridHalfExtent = 60;

// Appends the 36 vertices of the upright avatar box, centred on its origin.
void buildAvatarBox(std::vector<float>& vertices);
// Appends the 484 line vertices of the ground grid from -60 to +60.
void buildGroundGrid(std::vector<float>& vertices);

}  // namespace brassmoor
