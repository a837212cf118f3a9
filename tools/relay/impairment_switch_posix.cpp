// The impairment switch on POSIX systems: SIGUSR1 sets a flag that the main loop reads.
#include <csignal>

#include "impairment_switch.h"

namespace brassmoor {
namespace {

// Written only by the signal handler.
volatile std::sig_atomic_t thrown = 0;

extern "C" void onImpairmentSignal(int) {
    thrown = 1;
}

}  // namespace

bool installImpairmentSwitch() {
    struct sigaction action {};
    action.sa_handler = onImpairmentSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait returns at once, and the loop sees the flag
    return sigaction(SIGUSR1, &action, nullptr) == 0;
}

bool impairmentSwitchThrown() {
    return thrown != 0;
}

}  // namespace brassmoor
