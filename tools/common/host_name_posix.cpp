// The computer's host name on POSIX systems: gethostname.
#include "host_name.h"

#include <unistd.h>

namespace brassmoor {

std::string computerHostName() {
    // 255 bytes is the longest a host name may be; the last byte keeps a terminator in any case.
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace brassmoor
