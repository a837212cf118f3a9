// The resolver's words on POSIX systems: gai_strerror.
#include <netdb.h>

#include "name_lookup.h"

namespace brassmoor {

std::string resolverErrorText(int code) {
    return gai_strerror(code);
}

}  // namespace brassmoor
