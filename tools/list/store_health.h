// Whether the store can be reached, as every thread that uses it finds out: one log line when it goes
// away and one when it is back, whoever notices, and the count of failed operations for /metrics.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace brassmoor {

struct StoreHealth {
    std::string name;  // "redis://10.0.0.5:6379", for the log lines
    std::FILE* log = stdout;
    std::atomic<bool> up{true};
    std::atomic<std::uint64_t> errors{0};
};

// Notes the result of one store operation; `error` is read only when it failed.
void noteStoreResult(StoreHealth& health, bool succeeded, const std::string& error);

}  // namespace brassmoor
