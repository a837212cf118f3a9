// The store's reachability: transitions logged once each, failures counted.
#include "store_health.h"

namespace brassmoor {

void noteStoreResult(StoreHealth& health, bool succeeded, const std::string& error) {
    if (succeeded) {
        if (!health.up.exchange(true))
            std::fprintf(health.log, "store: %s reached again\n", health.name.c_str());
        return;
    }
    health.errors.fetch_add(1);
    if (health.up.exchange(false)) {
        std::fprintf(health.log, "store: lost %s: %s; serving the list last read, trying again each second\n",
                     health.name.c_str(), error.c_str());
    }
}

}  // namespace brassmoor
