// The list's figures as Prometheus metric families, serialised by prometheus-cpp.
#include "list_metrics.h"

#include <sstream>
#include <vector>

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

namespace brassmoor {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr std::array<std::string_view, AnnounceOutcomeCount> OutcomeLabels = {
    "listed", "no_answer", "bad_request", "too_large", "rate_limited", "busy", "store_down"};

ClientMetric gaugeValue(double value) {
    ClientMetric metric;
    metric.gauge.value = value;
    return metric;
}

ClientMetric counterValue(std::uint64_t value, const char* label = nullptr,
                          std::string_view labelValue = {}) {
    ClientMetric metric;
    metric.counter.value = static_cast<double>(value);
    if (label != nullptr) metric.label = {{label, std::string(labelValue)}};
    return metric;
}

MetricFamily byKind(const char* name, const char* help, const std::array<std::uint64_t, 2>& counts) {
    return MetricFamily{
        name,
        help,
        MetricType::Counter,
        {counterValue(counts[0], "kind", "announcement"), counterValue(counts[1], "kind", "recheck")}};
}

}  // namespace

std::string_view outcomeLabel(AnnounceOutcome outcome) {
    return OutcomeLabels[static_cast<std::size_t>(outcome)];
}

std::string listMetricsText(const ListFigures& figures, std::string_view version) {
    std::vector<MetricFamily> families;
    families.push_back(MetricFamily{"brassmoor_list_games",
                                    "Games in the list served now.",
                                    MetricType::Gauge,
                                    {gaugeValue(static_cast<double>(figures.games))}});
    MetricFamily announcements{
        "brassmoor_list_announcements_total",
        "Announcements received, by outcome: listed, no_answer (nothing on UDP 40123 in "
        "time), bad_request, too_large, rate_limited, busy (too many checks in flight), "
        "store_down.",
        MetricType::Counter,
        {}};
    for (std::size_t i = 0; i < AnnounceOutcomeCount; ++i) {
        announcements.metric.push_back(counterValue(figures.announcements[i], "outcome", OutcomeLabels[i]));
    }
    families.push_back(std::move(announcements));
    families.push_back(MetricFamily{"brassmoor_list_removals_total",
                                    "Games removed at their own request (DELETE).",
                                    MetricType::Counter,
                                    {counterValue(figures.removals)}});
    families.push_back(byKind("brassmoor_list_checks_sent_total",
                              "Info queries sent to games, for an announcement or a recheck.",
                              figures.checksSent));
    families.push_back(byKind("brassmoor_list_checks_answered_total",
                              "Info queries answered in time by the game asked, with its nonce.",
                              figures.checksAnswered));
    families.push_back(MetricFamily{"brassmoor_list_checks_in_flight",
                                    "Info queries awaiting their answer.",
                                    MetricType::Gauge,
                                    {gaugeValue(static_cast<double>(figures.checksInFlight))}});
    families.push_back(MetricFamily{"brassmoor_list_store_errors_total",
                                    "Store operations that failed (Redis unreachable or refusing).",
                                    MetricType::Counter,
                                    {counterValue(figures.storeErrors)}});
    families.push_back(MetricFamily{"brassmoor_list_store_up",
                                    "1 while the store can be reached, else 0.",
                                    MetricType::Gauge,
                                    {gaugeValue(figures.storeUp ? 1.0 : 0.0)}});
    ClientMetric info = gaugeValue(1.0);
    info.label = {{"version", std::string(version)}};
    families.push_back(MetricFamily{
        "brassmoor_list_build_info", "The version of the running list.", MetricType::Gauge, {info}});
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, families);
    return out.str();
}

}  // namespace brassmoor
