// The computer's host name, the name a server tells when it is given none.
#pragma once

#include <string>

namespace brassmoor {

// UTF-8; empty when the system will not say.
std::string computerHostName();

}  // namespace brassmoor
