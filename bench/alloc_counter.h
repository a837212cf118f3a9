// Counts heap allocations made through the global operator new, per thread.
#pragma once

#include <cstdint>

namespace brassmoor {

// How many times operator new (any form) has been called on this thread so far.
// Only C++ allocations are seen: malloc calls inside C libraries (Mesa, Xlib) are not.
std::uint64_t allocationsOnThisThread();

}  // namespace brassmoor
