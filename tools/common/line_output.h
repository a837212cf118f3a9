// Output that reaches a log reader line by line, on every platform.
#pragma once

#include <cstdio>

namespace brassmoor {

// Hands each line written to `stream` to the system as soon as it ends, so that a log reader (or
// a test) sees every line as it happens. Call it before the first write.
void makeLineBuffered(std::FILE* stream);

}  // namespace brassmoor
