#include <benchmark/benchmark.h>

#include "astro/riseset.h"
#include "astro/solar.h"

using namespace heliostat::astro;

namespace {

// One daytime sun position, as every cycle computes it (21 June, 12:00 local, 35N 135E).
void BM_CALSUN(benchmark::State& state) {
    double ut = 3;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ut);
        benchmark::DoNotOptimize(CALSUN(172, ut, 35, 135));
    }
}
BENCHMARK(BM_CALSUN);

// Sunset and next sunrise for 東京, 15 June 2008: fits and four root searches.
void BM_CALRISE(benchmark::State& state) {
    RiseSetInput in{2008, 6, 15, DayOfYear(6, 15), 35.65 * kTwoPi / 360, 139.7};
    for (auto _ : state) {
        benchmark::DoNotOptimize(in);
        benchmark::DoNotOptimize(CALRISE(in));
    }
}
BENCHMARK(BM_CALRISE);

}  // namespace
