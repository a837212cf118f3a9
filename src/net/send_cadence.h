// When the next pose is due: about thirty a second, driven by the frame time.
#pragma once

namespace brassmoor {

inline constexpr double PoseSendInterval = 0.033;  // seconds

// Adds the frame time to the accumulator. When it reaches the interval a pose is
// due: the accumulator restarts from exactly zero and the excess is dropped, so a
// long frame never causes a burst of sends afterwards.
bool takePoseSendTurn(double& sendAccumulator, float dt);

}  // namespace brassmoor
