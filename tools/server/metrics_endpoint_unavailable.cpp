// The metrics endpoint where the build has no HTTP server (Windows): --metrics says so and stops.
#include "metrics_endpoint.h"

namespace brassmoor {

bool startMetricsEndpoint(const Ipv4Endpoint&, FiguresSlot&, MetricsEndpoint&, std::string& error) {
    error = "--metrics is not in this build (it needs prometheus-cpp and civetweb, on Linux)";
    return false;
}

void stopMetricsEndpoint(MetricsEndpoint&) {}

}  // namespace brassmoor
