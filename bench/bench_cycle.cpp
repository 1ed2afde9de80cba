// One headless calculation cycle, and the table tool's throughput over a whole year.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/jst_clock.h"
#include "cycle/memory_host.h"
#include "cycle/solcal.h"
#include "table/table_run.h"

namespace {

using namespace heliostat;

// The window runs CALRISE afresh every cycle; so does this host.
class WindowLikeHost final : public cycle::MemoryHost {
public:
    using MemoryHost::MemoryHost;
    astro::RiseSet Calrise(const astro::RiseSetInput& input) override {
        return astro::CALRISE(input);
    }
};

void BM_SOLCAL(benchmark::State& bench, int hour) {
    WindowLikeHost host("35.64", "139.3");
    cycle::WindowState state;
    state.TargetElevation = 35.64;
    state.TargetAzimuth = 139.3;
    const auto when = base::FromJst({2026, 6, 21, hour, 0, 0, 0});
    for (auto _ : bench) {
        benchmark::DoNotOptimize(cycle::SOLCAL(state, host, when));
    }
}
BENCHMARK_CAPTURE(BM_SOLCAL, day, 12);
BENCHMARK_CAPTURE(BM_SOLCAL, night, 23);

// A year of one-minute rows takes seconds: a few timed runs, in milliseconds of the clock.
void WholeYear(benchmark::internal::Benchmark* run) {
    run->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
}

// The whole tool, process start and CSV output included: 525,600 one-minute rows.
void BM_TableToolYear(benchmark::State& bench, const char* extra) {
    const std::string command = std::string(HELIOSTAT_TABLE_PATH) +
                                " --preset 東京 --target-el 35.64 --target-az 139.3"
                                " --from '2026-01-01 00:00:00' --to '2026-12-31 23:59:00'"
                                " --step 60 " +
                                extra + " > /dev/null";
    for (auto _ : bench) {
        if (std::system(command.c_str()) != 0) {
            bench.SkipWithError("heliostat-table failed");
            return;
        }
    }
    bench.SetItemsProcessed(bench.iterations() * 525600);
}
// Two runs each: the process start adds little to learn from a third.
BENCHMARK_CAPTURE(BM_TableToolYear, mean, "")->Apply(WholeYear)->Iterations(2);
BENCHMARK_CAPTURE(BM_TableToolYear, exact_beam_error, "--pointing exact --beam-error")
    ->Apply(WholeYear)
    ->Iterations(2);

// The same year in process, CSV written to a temporary file: the cycles, the CALRISE memo and
// the formatting without the process start; also in exact mode and with the beam error.
void BM_TableYearToFile(benchmark::State& bench, const QStringList& extra) {
    const QStringList arguments =
        QStringList{"heliostat-table",    "--preset", "東京",   "--target-el",         "35.64",
                    "--target-az",        "139.3",    "--from", "2026-01-01 00:00:00", "--to",
                    "2026-12-31 23:59:00"} +
        extra;
    for (auto _ : bench) {
        std::FILE* out = std::tmpfile();
        if (out == nullptr || heliostat::table::RunTable(arguments, out, stderr) != 0) {
            bench.SkipWithError("the table run failed");
            return;
        }
        std::fclose(out);
    }
    bench.SetItemsProcessed(bench.iterations() * 525600);
}
BENCHMARK_CAPTURE(BM_TableYearToFile, mean, QStringList{})->Apply(WholeYear);
BENCHMARK_CAPTURE(BM_TableYearToFile, mean_beam_error, QStringList{"--beam-error"})
    ->Apply(WholeYear);
BENCHMARK_CAPTURE(BM_TableYearToFile, exact, QStringList{"--pointing", "exact"})->Apply(WholeYear);
BENCHMARK_CAPTURE(BM_TableYearToFile, exact_beam_error,
                  QStringList{"--pointing", "exact", "--beam-error"})
    ->Apply(WholeYear);

}  // namespace
