// What --metrics costs the server, in parts: the copy of its figures that the tick loop publishes
// after each tick (paid whether or not metrics are served), and the text a scrape renders on the
// HTTP side's own thread. Whole-process CPU at 2000 clients varies more between identical runs than
// these add, so they are measured here on their own.
#include <benchmark/benchmark.h>

#include "figures_slot.h"
#include "metrics_text.h"

namespace brassmoor {
namespace {

ServerFigures busyFigures() {
    ServerFigures figures;
    figures.clients = 2000;
    figures.bots = 0;
    figures.maxClients = 4000;
    figures.ticks = 108000;
    figures.counters.datagramsIn = 6480000;
    figures.counters.datagramsOut = 6480000;
    figures.systemDrops = 12;
    for (int i = 0; i < 108000; ++i) recordTick(figures.tickDurations, 0.0001 * (i % 97));
    figures.tickPeriod = 1.0 / 30.0;
    return figures;
}

void BM_PublishAfterTick(benchmark::State& state) {
    FiguresSlot slot;
    const ServerFigures figures = busyFigures();
    for (auto _ : state) {
        publishFigures(slot, figures);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PublishAfterTick);

void BM_RenderOneScrape(benchmark::State& state) {
    FiguresSlot slot;
    publishFigures(slot, busyFigures());
    for (auto _ : state) {
        std::string text = metricsText(readFigures(slot).figures, "0.5.0");
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_RenderOneScrape);

}  // namespace
}  // namespace brassmoor

BENCHMARK_MAIN();
