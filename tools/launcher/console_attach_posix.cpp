// On POSIX systems a program always has its starter's standard streams: nothing to attach.
#include "console_attach.h"

namespace brassmoor {

void attachParentConsole() {}

}  // namespace brassmoor
