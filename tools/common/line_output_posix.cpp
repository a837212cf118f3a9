// Line-at-a-time output on POSIX systems: the C library's own line buffering.
#include "line_output.h"

namespace brassmoor {

void makeLineBuffered(std::FILE* stream) {
    std::setvbuf(stream, nullptr, _IOLBF, 0);
}

}  // namespace brassmoor
