// The pose send gate: one pose whenever the gathered frame time reaches the interval.
#include "net/send_cadence.h"

namespace brassmoor {

bool takePoseSendTurn(double& sendAccumulator, float dt) {
    sendAccumulator += static_cast<double>(dt);
    if (sendAccumulator < PoseSendInterval) {
        return false;
    }
    // The excess is dropped on purpose: after a long frame the next pose waits a full interval.
    sendAccumulator = 0.0;
    return true;
}

}  // namespace brassmoor
