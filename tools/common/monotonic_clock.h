// The helper programs' clock: seconds that only go forward, whatever happens to the wall clock.
#pragma once

#include <chrono>

namespace brassmoor {

inline double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace brassmoor
