// How the relay is told, while it runs, to stop impairing: SIGUSR1 where there is one.
#pragma once

namespace brassmoor {

// Installs the handler; false when that fails. Where there is no such signal it does nothing.
bool installImpairmentSwitch();

// True once the switch was thrown; it stays thrown.
bool impairmentSwitchThrown();

}  // namespace brassmoor
