// The whole calculation cycle, in either pointing mode, fed arbitrary coordinate and target
// texts at instants spread over the supported years (and some of the years 1 to 9999 beyond).
// Whatever it writes or sends must be a finite number text: sun angles always within
// elevation -90..90 and azimuth 0..360, mirror angles too whenever the targets lie within
// those ranges; the chart time lies within 0:00 to 23:59. A cycle may fail only with the
// program's own error, and must fail for a date outside the supported range.

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>

#include "base/errors.h"
#include "base/number_text.h"
#include "cycle/memory_host.h"
#include "cycle/solcal.h"
#include "fuzz_check.h"
#include "link/wire.h"
#include "rules_model.h"

namespace {

using heliostat::fuzz::Quoted;
using heliostat::fuzz::ShownNumber;
using heliostat::fuzz::Within;
namespace cycle = heliostat::cycle;
namespace base = heliostat::base;

// Most instants fall in these years (the supported dates and a little beyond), the others
// anywhere in the years 1 to 9999.
constexpr int kFirstYear = 1899;
constexpr int kLastYear = 2101;

// The in-memory host, checking every text the cycle writes and every command it sends.
class CheckingHost final : public cycle::MemoryHost {
public:
    CheckingHost(std::string latitude, std::string longitude, bool targetsInRange)
        : MemoryHost(std::move(latitude), std::move(longitude)), targetsInRange_(targetsInRange) {}

    void WriteText(cycle::Field field, std::string_view text) override {
        const std::string written(text);
        const bool sun =
            field == cycle::Field::SettingElevation || field == cycle::Field::SettingAzimuth;
        const bool elevation =
            field == cycle::Field::SettingElevation || field == cycle::Field::MirrorElevation;
        FUZZ_CHECK(ShownNumber(written).has_value(), "wrote " + Quoted(written) + "; " + context);
        if (sun || targetsInRange_) {
            FUZZ_CHECK(elevation ? Within(written, -90, 90) : Within(written, 0, 360),
                       "wrote " + Quoted(written) + " (out of range); " + context);
        }
        Text(field) = written;
    }

    void SendMirrorCommand() override {
        const std::string payload = heliostat::link::CommandPayload(
            Text(cycle::Field::MirrorAzimuth), Text(cycle::Field::MirrorElevation));
        const auto command = heliostat::link::ParseCommand(payload);
        FUZZ_CHECK(command.has_value(), "sent " + Quoted(payload) + "; " + context);
        if (targetsInRange_) {
            FUZZ_CHECK(Within(Text(cycle::Field::MirrorAzimuth), 0, 360) &&
                           Within(Text(cycle::Field::MirrorElevation), -90, 90),
                       "sent " + Quoted(payload) + " (out of range); " + context);
        }
        ++sent;
    }

    std::string context;
    int sent = 0;

private:
    bool targetsInRange_;
};

// Mostly plain decimal texts near the meaningful range, sometimes any bytes at all.
std::string NumberText(FuzzedDataProvider& data, double range) {
    if (data.ConsumeIntegralInRange(0, 3) == 0) {
        return data.ConsumeRandomLengthString(24);
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", data.ConsumeIntegralInRange(0, 6),
                  data.ConsumeFloatingPointInRange(-range, range));
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string latitude = NumberText(data, 100);
    const std::string longitude = NumberText(data, 200);
    const std::string targetElevation = NumberText(data, 100);
    const std::string targetAzimuth = NumberText(data, 400);

    cycle::WindowState state;
    // The start button's reading of the targets; a refused target never starts the cycle.
    try {
        state.TargetElevation = base::ParseLenient(targetElevation);
        state.TargetAzimuth = base::ParseLenient(targetAzimuth);
    } catch (const heliostat::HeliostatError&) {
        return 0;
    }
    const bool targetsInRange = state.TargetElevation >= -90 && state.TargetElevation <= 90 &&
                                state.TargetAzimuth >= 0 && state.TargetAzimuth <= 360;
    CheckingHost host(latitude, longitude, targetsInRange);
    const auto pointing = data.ConsumeBool() ? cycle::Pointing::Exact : cycle::Pointing::Mean;

    using namespace std::chrono;
    for (int tick = 0; tick < 4 && data.remaining_bytes() > 0; ++tick) {
        const bool wide = data.ConsumeIntegralInRange(0, 7) == 0;
        const sys_seconds first{sys_days{year{wide ? 1 : kFirstYear} / January / 1}};
        const sys_seconds last{sys_days{year{wide ? 9999 : kLastYear} / December / 31} + days{1}};
        // JST instants, given to the cycle as the UTC clock reading nine hours earlier.
        const sys_seconds jst{seconds{data.ConsumeIntegralInRange<std::int64_t>(
            first.time_since_epoch().count(), last.time_since_epoch().count() - 1)}};
        const base::UtcMillis utc = jst - hours{9};
        const year_month_day date{floor<days>(jst)};
        const hh_mm_ss<seconds> time{jst - floor<days>(jst)};
        char when[48];
        std::snprintf(when, sizeof when, "%04d-%02u-%02u %02ld:%02ld:%02ld JST",
                      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                      static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                      static_cast<long>(time.minutes().count()),
                      static_cast<long>(time.seconds().count()));
        host.context = std::string(when) + ", latitude " + Quoted(latitude) + ", longitude " +
                       Quoted(longitude) + ", target elevation " + Quoted(targetElevation) +
                       ", target azimuth " + Quoted(targetAzimuth);
        if (pointing == cycle::Pointing::Exact) {
            host.context += ", exact pointing";
        }
        // The supported dates, in both modes: 1900-03-01 00:00:00 to 2100-02-28 23:59:59 JST as
        // the README and --help give them.
        const bool supported =
            jst >= sys_days{year{1900} / March / 1} && jst < sys_days{year{2100} / March / 1};
        const int sentBefore = host.sent;
        try {
            const cycle::CycleReport report = cycle::SOLCAL(state, host, utc, pointing);
            FUZZ_CHECK(heliostat::fuzz::ChartTime(report.chartTime),
                       "chart time " + Quoted(report.chartTime) + "; " + host.context);
            FUZZ_CHECK(supported,
                       "a date outside the supported range was computed; " + host.context);
            FUZZ_CHECK(host.sent == sentBefore + 1,
                       "a completed cycle sent nothing; " + host.context);
        } catch (const heliostat::HeliostatError&) {
            // A failed cycle reports its reason and sends nothing.
            FUZZ_CHECK(host.sent == sentBefore, "a failed cycle sent; " + host.context);
        }
    }
    return 0;
}
