// The server's figures as Prometheus metric families and their text exposition: pure, so the
// names, the labels and the histogram's arithmetic are tested without HTTP.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <prometheus/metric_family.h>

#include "server_figures.h"

namespace brassmoor {

// Every family /metrics serves; the names are fixed (dashboards and alerts rely on them).
std::vector<prometheus::MetricFamily> metricFamilies(const ServerFigures& figures, std::string_view version);

// The families in the Prometheus text format (version 0.0.4).
std::string metricsText(const ServerFigures& figures, std::string_view version);

inline constexpr const char* MetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace brassmoor
