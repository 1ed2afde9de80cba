#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "astro/riseset.h"
#include "cycle/chart.h"
#include "cycle/solcal.h"

namespace heliostat::cycle {

// The cycle's surroundings in plain memory, for every caller without a window: the table and
// accuracy tools, the benchmarks and the tests. Six text fields, a chart that draws nothing
// unless the caller lends one, and a count of the commands sent (their texts are the two
// mirror fields). Stepping through many cycles of one date, it runs CALRISE once: the last
// result, or failure, is kept for inputs equal to the bit.
class MemoryHost : public CycleHost {
public:
    MemoryHost() = default;
    MemoryHost(std::string latitude, std::string longitude);

    std::string& Text(Field field) { return fields_[static_cast<std::size_t>(field)]; }
    // The cycle draws on `chart` from now on; it must outlive the host's use.
    void UseChart(ChartSurface& chart) { lent_ = &chart; }
    int Sends() const { return sends_; }

    std::string ReadText(Field field) override { return Text(field); }
    void WriteText(Field field, std::string_view text) override { Text(field).assign(text); }
    ChartSurface& Chart() override { return lent_ != nullptr ? *lent_ : nullChart_; }
    void SendMirrorCommand() override { ++sends_; }
    astro::RiseSet Calrise(const astro::RiseSetInput& input) override;

private:
    struct Memo {
        astro::RiseSetInput input;
        astro::RiseSet result;
        std::exception_ptr failure;
    };

    std::array<std::string, 6> fields_;
    NullChart nullChart_;
    ChartSurface* lent_ = nullptr;
    int sends_ = 0;
    std::optional<Memo> memo_;
};

}  // namespace heliostat::cycle
