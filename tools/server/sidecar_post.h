// One POST to the orchestrator's SDK sidecar on 127.0.0.1: body "{}", JSON, the connection closed after.
#pragma once

#include <cstdint>
#include <string>

namespace brassmoor {

// The sidecar's answer is waited for this long at most (on the sidecar's thread, never a tick's).
inline constexpr int SidecarAnswerMilliseconds = 2000;

// True when the sidecar answered 2xx; false with `failure` set to a few words otherwise.
bool postToSidecar(std::uint16_t port, const char* path, std::string& failure);

// Readies the HTTP client before the first call; false, with `error` set, where this build cannot
// make the calls at all.
bool startSidecarCalls(std::string& error);
void stopSidecarCalls();

}  // namespace brassmoor
