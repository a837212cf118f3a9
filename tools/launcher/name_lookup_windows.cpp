// The resolver's words on Windows: gai_strerrorA, the narrow form of Winsock's.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "name_lookup.h"

namespace brassmoor {

std::string resolverErrorText(int code) {
    return gai_strerrorA(code);
}

}  // namespace brassmoor
