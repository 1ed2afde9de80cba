// heliostat-table: runs the window's calculation cycle over a range of Japan Standard Time and
// prints one CSV row per cycle, exactly as the window's fields would show them.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "astro/errors.h"
#include "cycle/jst_clock.h"
#include "cycle/number_text.h"
#include "cycle/solcal.h"
#include "link/wire.h"
#include "ui/observatory_presets.h"

namespace {

using namespace heliostat;
using cycle::Field;

constexpr const char* kUsage =
    R"(使い方 / usage:
  heliostat-table --lat TEXT --lon TEXT --target-el TEXT --target-az TEXT
                  --from "YYYY-MM-DD HH:MM:SS" [--to "YYYY-MM-DD HH:MM:SS"] [--step SECONDS]
  heliostat-table --preset NAME --target-el TEXT --target-az TEXT --from ...

Runs the heliostat window's calculation cycle for every instant from --from to --to
(inclusive, Japan Standard Time, --step seconds apart; --to defaults to --from, --step to 60)
and prints one CSV row per cycle (RFC 4180) on standard output:

  jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,
  chart_time,marker_x,marker_y,error

  branch            day, night, or error for a cycle that failed
  sun_*, mirror_*   the field texts as the window shows them at the end of the cycle
  command           the datagram the window would send ("0,AZ,EL"), empty on failure
  chart_time        the sunset (day) or next sunrise (night) printed on the sky chart
  marker_x/y        centre of the blinking sun marker in twips, when drawn on that cycle
  error             the message of a failed cycle

--lat/--lon are read like the window's coordinate fields (the whole text must be a number; a
text that is not is reported per row). --target-el/--target-az are read like the target
fields (the leading number, else 0). --preset takes one of the cities:
  八王子 東京 札幌 仙台 名古屋 大阪 広島 福岡 那覇
and may be combined with --lat or --lon to override one coordinate.

Exit status: 0 when every cycle succeeded, 1 when any cycle failed, 2 on bad usage.
)";

struct UsageError {
    std::string message;
};

// The fields the cycle reads and writes, in memory instead of widgets.
class TableHost final : public cycle::CycleHost {
public:
    std::map<Field, std::string> fields;
    std::optional<std::string> sent;

    std::string ReadText(Field field) override { return fields[field]; }
    void WriteText(Field field, std::string_view text) override {
        fields[field] = std::string(text);
    }
    cycle::ChartSurface& Chart() override { return chart_; }
    void SendMirrorCommand() override {
        sent = link::CommandPayload(fields[Field::MirrorAzimuth], fields[Field::MirrorElevation]);
    }

private:
    // The table needs no picture; the cycle's report carries the marker and the time text.
    cycle::NullChart chart_;
};

struct Options {
    std::optional<std::string> lat, lon;
    std::string targetEl, targetAz;
    bool haveTargetEl = false, haveTargetAz = false;
    std::optional<std::string> from, to;
    long long step = 60;
};

std::optional<cycle::JstDateTime> ParseJst(std::string_view text) {
    int y, mo, d, h, mi, s;
    char tail;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
            6 ||
        copy.size() != 19) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{y},
                                           std::chrono::month{static_cast<unsigned>(mo)},
                                           std::chrono::day{static_cast<unsigned>(d)}};
    if (!date.ok() || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
        return std::nullopt;
    }
    return cycle::JstDateTime{y, mo, d, h, mi, s, 0};
}

std::string FormatJst(const cycle::JstDateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buffer;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    return quoted + '"';
}

std::string Coordinate(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (i + 1 >= args.size()) {
            throw UsageError{"値がありません: " + std::string(arg)};
        }
        const std::string value(args[++i]);
        if (arg == "--lat") {
            options.lat = value;
        } else if (arg == "--lon") {
            options.lon = value;
        } else if (arg == "--target-el") {
            options.targetEl = value;
            options.haveTargetEl = true;
        } else if (arg == "--target-az") {
            options.targetAz = value;
            options.haveTargetAz = true;
        } else if (arg == "--from") {
            options.from = value;
        } else if (arg == "--to") {
            options.to = value;
        } else if (arg == "--step") {
            const auto step = cycle::ParseStrict(value);
            if (!step || *step < 1 || *step > 366.0 * 86400 ||
                *step != static_cast<long long>(*step)) {
                throw UsageError{"--step は 1 以上の整数秒です: " + value};
            }
            options.step = static_cast<long long>(*step);
        } else if (arg == "--preset") {
            const auto preset = ui::LookupObservatory(value);
            if (!preset) {
                throw UsageError{"--preset に知らない都市です: " + value};
            }
            if (!options.lat) {
                options.lat = preset->latitude;
            }
            if (!options.lon) {
                options.lon = preset->longitude;
            }
        } else {
            throw UsageError{"知らないオプションです: " + std::string(arg)};
        }
    }
    if (!options.lat || !options.lon) {
        throw UsageError{"--lat と --lon（または --preset）が必要です"};
    }
    if (!options.haveTargetEl || !options.haveTargetAz) {
        throw UsageError{"--target-el と --target-az が必要です"};
    }
    if (!options.from) {
        throw UsageError{"--from が必要です"};
    }
    return options;
}

int Run(const Options& options) {
    const auto from = ParseJst(*options.from);
    if (!from) {
        throw UsageError{"--from の日時が読めません（YYYY-MM-DD HH:MM:SS）: " + *options.from};
    }
    const auto to = ParseJst(options.to.value_or(*options.from));
    if (!to) {
        throw UsageError{"--to の日時が読めません（YYYY-MM-DD HH:MM:SS）: " + *options.to};
    }
    const auto first = cycle::FromJst(*from);
    const auto last = cycle::FromJst(*to);
    if (last < first) {
        throw UsageError{"--to が --from より前です"};
    }

    cycle::WindowState state;
    try {
        // The start button reads the targets once, by the lenient rule.
        state.TargetElevation = cycle::ParseLenient(options.targetEl);
        state.TargetAzimuth = cycle::ParseLenient(options.targetAz);
    } catch (const HeliostatError& e) {
        throw UsageError{e.what()};
    }

    TableHost host;
    host.fields[Field::ObserverLatitude] = *options.lat;
    host.fields[Field::ObserverLongtitude] = *options.lon;

    std::string out =
        "jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,"
        "chart_time,marker_x,marker_y,error\r\n";
    bool anyFailed = false;
    const std::chrono::seconds step{options.step};
    for (auto t = first; t <= last; t += step) {
        host.sent.reset();
        std::string branch, chartTime, markerX, markerY, error;
        try {
            const cycle::CycleReport report = cycle::SOLCAL(state, host, t);
            branch = report.branch == cycle::Branch::Day ? "day" : "night";
            chartTime = report.chartTime;
            if (report.marker) {
                markerX = Coordinate(report.marker->x);
                markerY = Coordinate(report.marker->y);
            }
        } catch (const std::exception& e) {
            branch = "error";
            error = e.what();
            anyFailed = true;
        }
        const std::string command = host.sent.value_or("");
        out += FormatJst(cycle::ToJst(t));
        for (const std::string_view field :
             {std::string_view(branch), std::string_view(host.fields[Field::SettingElevation]),
              std::string_view(host.fields[Field::SettingAzimuth]),
              std::string_view(host.fields[Field::MirrorElevation]),
              std::string_view(host.fields[Field::MirrorAzimuth]), std::string_view(command),
              std::string_view(chartTime), std::string_view(markerX), std::string_view(markerY),
              std::string_view(error)}) {
            out += ',';
            out += CsvField(field);
        }
        out += "\r\n";
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return anyFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(ParseArguments(argc, argv));
    } catch (const UsageError& e) {
        std::cerr << "heliostat-table: " << e.message
                  << "\n'heliostat-table --help' で使い方を表示します。\n";
        return 2;
    }
}
