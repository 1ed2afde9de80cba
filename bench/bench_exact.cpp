// The exact pointing mode: the precise sun per call, sunrise and sunset per date, and whole
// exact cycles as the window (every 0.75 s) and the table (every minute) run them.

#include <benchmark/benchmark.h>

#include <string>

#include "astro/bisector.h"
#include "astro/precise_sun.h"
#include "astro/sun_events.h"
#include "base/jst_clock.h"
#include "cycle/memory_host.h"
#include "cycle/solcal.h"

namespace {

using namespace heliostat;
using namespace std::chrono;

const astro::Site kTokyo{35.6581, 139.7414, 0};

astro::UtcTime Start() {
    return base::FromJst({2026, 1, 1, 0, 0, 0, 0});
}

// Successive minutes of a year: the per-day ephemeris is built once a day, as in the table.
void BM_PreciseSun(benchmark::State& bench) {
    auto t = Start();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(astro::PreciseSun(t, kTokyo));
        t += minutes(1);
    }
}
BENCHMARK(BM_PreciseSun);

// A new day every call: what building one day's ephemeris costs.
void BM_PreciseSunNewDay(benchmark::State& bench) {
    auto t = Start();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(astro::PreciseSun(t, kTokyo));
        t += days(1);
    }
}
BENCHMARK(BM_PreciseSunNewDay)->Unit(benchmark::kMicrosecond);

// Sunrise and sunset of one date, each date new (nothing remembered), ephemeris included.
void BM_SunEventsPerDate(benchmark::State& bench) {
    auto t = Start();
    for (auto _ : bench) {
        const base::JstDateTime d = base::ToJst(t);
        benchmark::DoNotOptimize(astro::SunEventsOnJstDate(d.year, d.month, d.day, kTokyo));
        t += days(1);
    }
}
BENCHMARK(BM_SunEventsPerDate)->Unit(benchmark::kMicrosecond);

void BM_BeamError(benchmark::State& bench) {
    double az = 100;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(astro::BeamError({.azimuth = az, .elevation = 30},
                                                  {.azimuth = 180, .elevation = 40},
                                                  {.azimuth = 139.3, .elevation = 35.64}));
        az += 1e-3;
    }
}
BENCHMARK(BM_BeamError);

// Exact cycles stepping the clock: 750 ms as the window does, 60 s as a one-minute table.
void BM_SolcalExact(benchmark::State& bench, milliseconds step) {
    cycle::MemoryHost host("35.6581", "139.7414");
    cycle::WindowState state;
    state.TargetElevation = 35.64;
    state.TargetAzimuth = 139.3;
    auto t = time_point_cast<milliseconds>(Start());
    for (auto _ : bench) {
        benchmark::DoNotOptimize(cycle::SOLCAL(state, host, t, cycle::Pointing::Exact));
        t += step;
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK_CAPTURE(BM_SolcalExact, window_750ms, milliseconds(750));
BENCHMARK_CAPTURE(BM_SolcalExact, table_1min, minutes(1));
// The first cycle of each date: new ephemeris samples and a new sunrise and sunset search.
BENCHMARK_CAPTURE(BM_SolcalExact, first_of_each_day, days(1))->Unit(benchmark::kMicrosecond);

}  // namespace
