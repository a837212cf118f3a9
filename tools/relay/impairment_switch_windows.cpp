// The impairment switch on Windows, which has no SIGUSR1: never thrown; --impair-for still works.
#include "impairment_switch.h"

namespace brassmoor {

bool installImpairmentSwitch() {
    return true;
}

bool impairmentSwitchThrown() {
    return false;
}

}  // namespace brassmoor
