// Line-at-a-time output on Windows, whose C library has no line buffering: there _IOLBF means
// full buffering, and a piped log would see nothing until the buffer fills. Unbuffered instead.
#include "line_output.h"

namespace brassmoor {

void makeLineBuffered(std::FILE* stream) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
}

}  // namespace brassmoor
