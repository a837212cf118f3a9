// The server's figures as Prometheus metric families, serialised by prometheus-cpp.
#include "metrics_text.h"

#include <limits>
#include <sstream>

#include <prometheus/text_serializer.h>

namespace brassmoor {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

MetricFamily gauge(const char* name, const char* help, double value) {
    ClientMetric metric;
    metric.gauge.value = value;
    return MetricFamily{name, help, MetricType::Gauge, {metric}};
}

MetricFamily counter(const char* name, const char* help, std::uint64_t value) {
    ClientMetric metric;
    metric.counter.value = static_cast<double>(value);
    return MetricFamily{name, help, MetricType::Counter, {metric}};
}

ClientMetric labelled(const char* label, const char* value, std::uint64_t count) {
    ClientMetric metric;
    metric.label = {{label, value}};
    metric.counter.value = static_cast<double>(count);
    return metric;
}

MetricFamily tickHistogram(const TickDurations& durations) {
    ClientMetric metric;
    metric.histogram.sample_count = durations.samples;
    metric.histogram.sample_sum = durations.sum;
    // The text format's buckets are cumulative and end with +Inf, which holds every sample.
    std::uint64_t below = 0;
    for (std::size_t i = 0; i < TickBucketBounds.size(); ++i) {
        below += durations.counts[i];
        metric.histogram.bucket.push_back({below, TickBucketBounds[i]});
    }
    metric.histogram.bucket.push_back({durations.samples, std::numeric_limits<double>::infinity()});
    return MetricFamily{"brassmoor_tick_duration_seconds",
                        "Time one tick took: moving the bots, forgetting the silent, sending the snapshots.",
                        MetricType::Histogram,
                        {metric}};
}

}  // namespace

std::vector<MetricFamily> metricFamilies(const ServerFigures& figures, std::string_view version) {
    const TrafficCounters& c = figures.counters;
    std::vector<MetricFamily> families = {
        gauge("brassmoor_clients", "Clients being served now.", static_cast<double>(figures.clients)),
        gauge("brassmoor_bots", "Simulated players.", static_cast<double>(figures.bots)),
        gauge("brassmoor_max_clients", "Clients served at once at most (--max-clients).",
              static_cast<double>(figures.maxClients)),
        counter("brassmoor_ticks_total", "Ticks run.", figures.ticks),
        counter("brassmoor_poses_received_total", "Well-formed poses taken from clients.", c.poses),
        counter("brassmoor_snapshots_sent_total", "Snapshots the socket took.", c.datagramsOut),
        counter("brassmoor_bytes_received_total", "Payload bytes of every datagram received.", c.bytesIn),
        counter("brassmoor_bytes_sent_total", "Payload bytes of every snapshot and info answer sent.",
                c.bytesOut),
        counter("brassmoor_queries_answered_total", "Info queries answered.", c.queriesAnswered),
        counter("brassmoor_queries_refused_total", "Info queries beyond the 50 a second answered in all.",
                c.queriesRefused),
        counter("brassmoor_send_failures_total", "Snapshots and answers the socket would not take.",
                c.sendFailures),
        counter("brassmoor_snapshots_withheld_total",
                "Snapshots not sent because a client had not earned one.", c.withheld),
    };
    // The status line's reasons for turning a received datagram away, one series each.
    families.push_back(
        MetricFamily{"brassmoor_datagrams_refused_total",
                     "Received datagrams not served, by reason: malformed (neither a pose nor a "
                     "whole query), full (a new client while --max-clients are served), "
                     "query_limit (an info query over the allowance).",
                     MetricType::Counter,
                     {labelled("reason", "malformed", c.dropped), labelled("reason", "full", c.refused),
                      labelled("reason", "query_limit", c.queriesRefused)}});
    // Windows does not say; a missing series is truer than a zero.
    if (figures.systemDrops) {
        families.push_back(counter("brassmoor_receive_drops_total",
                                   "Datagrams the kernel dropped at the server's socket for want of room.",
                                   *figures.systemDrops));
    }
    families.push_back(tickHistogram(figures.tickDurations));
    ClientMetric info;
    info.label = {{"version", std::string(version)}};
    info.gauge.value = 1.0;
    families.push_back(MetricFamily{
        "brassmoor_build_info", "The version of the running server.", MetricType::Gauge, {info}});
    return families;
}

std::string metricsText(const ServerFigures& figures, std::string_view version) {
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, metricFamilies(figures, version));
    return out.str();
}

}  // namespace brassmoor
