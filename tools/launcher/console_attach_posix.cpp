// On POSIX systems a program always has its starter's standard streams: nothing to attach.
#include "console_attach.h"

#include <unistd.h>

namespace brassmoor {

void attachParentConsole() {}

bool errorsReachAConsole() {
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace brassmoor
