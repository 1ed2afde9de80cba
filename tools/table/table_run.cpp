#include "table/table_run.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "astro/bisector.h"
#include "astro/mount_model.h"
#include "astro/precise_sun.h"
#include "base/command_line.h"
#include "base/csv_writer.h"
#include "base/errors.h"
#include "base/number_text.h"
#include "cycle/observatory_presets.h"
#include "cycle/solcal.h"
#include "link/wire.h"
#include "mount_model_file/mount_model_file.h"
#include "version/version.h"

namespace heliostat::table {

namespace {

using cycle::Field;

constexpr const char* kUsage = R"(使い方 / usage:
  heliostat-table --lat TEXT --lon TEXT --target-el TEXT --target-az TEXT
                  --from "YYYY-MM-DD HH:MM:SS" [--to "YYYY-MM-DD HH:MM:SS"] [--step SECONDS]
                  [--pointing mean|exact] [--beam-error] [--mount-model FILE]
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
  beam_error        with --beam-error only, last: degrees (two decimals) between the target
                    and the sunlight the commanded mirror reflects, the sun taken from the
                    precise ephemeris; empty on night and error rows
  mount_azimuth,    with --mount-model only, the last two: the mount angles (three decimals)
  mount_elevation   the antenna controller drives for the command with that model; empty
                    on error rows. --beam-error then takes the mirror where the model says
                    those two texts point

Options:
)";

constexpr const char* kNotes = R"(
--lat/--lon are read like the window's coordinate fields (the whole text must be a number; a
text that is not is reported per row). --target-el/--target-az are read like the target
fields (the leading number, else 0). --preset takes one of the cities:
  八王子 東京 札幌 仙台 名古屋 大阪 広島 福岡 那覇
and may be combined with --lat or --lon to override one coordinate.

Dates: 1900-03-01 00:00:00 to 2100-02-28 23:59:59 JST. The calculation's day count puts a
leap day in every fourth year, which holds only between those dates; a range reaching
outside them is refused.

Exit status: 0 when every cycle succeeded, 1 when any cycle failed, 2 on bad usage.
)";

// The options in the order --help lists them; the parser is built from the same list, so a
// new option is one line here plus its handling in ParseArguments.
struct OptionEntry {
    const char* shortName;  // "" for none
    const char* longName;
    const char* valueName;  // "" for a switch
    const char* description;
};

constexpr OptionEntry kOptions[] = {
    {"", "lat", "TEXT", "observation latitude, degrees north positive"},
    {"", "lon", "TEXT", "observation longitude, degrees east positive"},
    {"", "preset", "NAME", "take --lat and --lon from a city of the window's list"},
    {"", "target-el", "TEXT", "target elevation, degrees"},
    {"", "target-az", "TEXT", "target azimuth, degrees from north through east"},
    {"", "from", "\"YYYY-MM-DD HH:MM:SS\"", "first cycle, Japan Standard Time"},
    {"", "to", "\"YYYY-MM-DD HH:MM:SS\"", "last cycle at or before this time (default: --from)"},
    {"", "step", "SECONDS", "whole seconds between cycles, 1 to 31622400 (default: 60)"},
    {"", "pointing", "MODE", "mean (default) or exact: precise sun, mirror on the bisector"},
    {"", "beam-error", "", "add the column beam_error"},
    {"", "mount-model", "FILE", "add the mount angles for the model heliostat-calibrate fitted"},
    {"h", "help", "", "show this help and exit"},
    {"v", "version", "", "show the version and exit"},
};

std::string HelpText() {
    std::string text = kUsage;
    for (const OptionEntry& option : kOptions) {
        std::string names = "  ";
        if (*option.shortName != '\0') {
            names += std::string("-") + option.shortName + ", ";
        }
        names += std::string("--") + option.longName;
        if (*option.valueName != '\0') {
            names += std::string(" ") + option.valueName;
        }
        names.resize(std::max<std::size_t>(names.size() + 2, 36), ' ');
        text += names + option.description + "\n";
    }
    return text + kNotes;
}

struct UsageError {
    std::string message;
};

struct Options {
    std::string lat, lon;
    std::string targetEl, targetAz;
    std::string from, to;
    long long step = 60;
    cycle::Pointing pointing = cycle::Pointing::Mean;
    bool beamError = false;
    std::optional<astro::MountModel> mountModel;
};

// The fields the cycle reads and writes, in memory instead of widgets.
class TableHost final : public cycle::CycleHost {
public:
    std::array<std::string, 6> fields;
    bool sent = false;
    std::string command;

    std::string& Text(Field field) { return fields[static_cast<std::size_t>(field)]; }

    std::string ReadText(Field field) override { return Text(field); }
    void WriteText(Field field, std::string_view text) override { Text(field).assign(text); }
    cycle::ChartSurface& Chart() override { return chart_; }
    void SendMirrorCommand() override {
        command = link::CommandPayload(Text(Field::MirrorAzimuth), Text(Field::MirrorElevation));
        sent = true;
    }

    // Every cycle of one date asks for the same sunset and sunrise; the searches are most of
    // a cycle's cost, so the last result (or failure) is kept for inputs that are equal to
    // the bit.
    astro::RiseSet Calrise(const astro::RiseSetInput& input) override {
        if (!memo_ || !SameInput(memo_->input, input)) {
            memo_.emplace(Memo{input, {}, {}});
            try {
                memo_->result = astro::CALRISE(input);
            } catch (const std::exception&) {
                memo_->failure = std::current_exception();
            }
        }
        if (memo_->failure) {
            std::rethrow_exception(memo_->failure);
        }
        return memo_->result;
    }

private:
    struct Memo {
        astro::RiseSetInput input;
        astro::RiseSet result;
        std::exception_ptr failure;
    };

    static bool SameInput(const astro::RiseSetInput& a, const astro::RiseSetInput& b) {
        return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day &&
               a.DayOfYear == b.DayOfYear &&
               std::bit_cast<std::uint64_t>(a.LatitudeRad) ==
                   std::bit_cast<std::uint64_t>(b.LatitudeRad) &&
               std::bit_cast<std::uint64_t>(a.Longitude) ==
                   std::bit_cast<std::uint64_t>(b.Longitude);
    }

    // The table needs no picture; the cycle's report carries the marker and the time text.
    cycle::NullChart chart_;
    std::optional<Memo> memo_;
};

std::string Utf8(const QString& text) {
    return text.toStdString();
}

// Parses the command line; returns the exit status when the run ends here (help, version).
std::optional<int> ParseArguments(const QStringList& arguments, std::FILE* out, Options& options) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    std::vector<QCommandLineOption> parserOptions;
    for (const OptionEntry& option : kOptions) {
        QStringList names;
        if (*option.shortName != '\0') {
            names << QString::fromUtf8(option.shortName);
        }
        names << QString::fromUtf8(option.longName);
        parserOptions.emplace_back(names, QString::fromUtf8(option.description),
                                   QString::fromUtf8(option.valueName));
        parser.addOption(parserOptions.back());
    }
    const auto option = [&parserOptions](std::string_view longName) -> const QCommandLineOption& {
        for (std::size_t i = 0; i < std::size(kOptions); ++i) {
            if (longName == kOptions[i].longName) {
                return parserOptions[i];
            }
        }
        throw std::logic_error("unlisted option");
    };
    const QCommandLineOption &lat = option("lat"), &lon = option("lon"), &preset = option("preset"),
                             &targetEl = option("target-el"), &targetAz = option("target-az"),
                             &from = option("from"), &to = option("to"), &step = option("step"),
                             &pointing = option("pointing"), &beamError = option("beam-error"),
                             &mountModel = option("mount-model"), &help = option("help"),
                             &version = option("version");

    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().first();
            throw UsageError{"知らないオプションです: " +
                             std::string(name.size() > 1 ? "--" : "-") + Utf8(name)};
        }
        // A switch given a value ("--beam-error=1") is the other way a name can fail.
        for (const OptionEntry& entry : kOptions) {
            const QString prefix = QStringLiteral("--%1=").arg(QString::fromUtf8(entry.longName));
            if (*entry.valueName == '\0' &&
                std::any_of(arguments.begin() + std::min<qsizetype>(1, arguments.size()),
                            arguments.end(),
                            [&](const QString& a) { return a.startsWith(prefix); })) {
                throw UsageError{"値を取らないオプションです: --" + std::string(entry.longName)};
            }
        }
        // The only other failure is an option that wants a value at the end of the line.
        throw UsageError{"値がありません: " + Utf8(arguments.last())};
    }
    if (!parser.positionalArguments().isEmpty()) {
        throw UsageError{"知らないオプションです: " + Utf8(parser.positionalArguments().first())};
    }
    if (parser.isSet(help)) {
        std::fputs(HelpText().c_str(), out);
        std::fflush(out);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs("heliostat-table " HELIOSTAT_VERSION "\n", out);
        std::fflush(out);
        return 0;
    }

    if (parser.isSet(step)) {
        const std::string value = Utf8(parser.value(step));
        const auto seconds = base::ParseStrict(value);
        if (!seconds || *seconds < 1 || *seconds > 366.0 * 86400 ||
            *seconds != static_cast<long long>(*seconds)) {
            throw UsageError{"--step は 1 以上の整数秒です: " + value};
        }
        options.step = static_cast<long long>(*seconds);
    }
    if (parser.isSet(pointing)) {
        const std::string mode = Utf8(parser.value(pointing));
        if (mode == "exact") {
            options.pointing = cycle::Pointing::Exact;
        } else if (mode != "mean") {
            throw UsageError{"--pointing は mean か exact です: " + mode};
        }
    }
    options.beamError = parser.isSet(beamError);
    if (parser.isSet(mountModel)) {
        try {
            options.mountModel = mount_file::ReadMountModelFile(parser.value(mountModel)).model;
        } catch (const base::UsageError& e) {
            throw UsageError{Utf8(e.message())};
        }
    }
    // An explicit --lat or --lon wins over the city; with several cities the first counts.
    std::optional<cycle::ObservatoryTexts> city;
    for (const QString& name : parser.values(preset)) {
        const auto found = cycle::LookupObservatory(Utf8(name));
        if (!found) {
            throw UsageError{"--preset に知らない都市です: " + Utf8(name)};
        }
        if (!city) {
            city = found;
        }
    }
    if (!(parser.isSet(lat) || city) || !(parser.isSet(lon) || city)) {
        throw UsageError{"--lat と --lon（または --preset）が必要です"};
    }
    options.lat = parser.isSet(lat) ? Utf8(parser.value(lat)) : city->latitude;
    options.lon = parser.isSet(lon) ? Utf8(parser.value(lon)) : city->longitude;
    if (!parser.isSet(targetEl) || !parser.isSet(targetAz)) {
        throw UsageError{"--target-el と --target-az が必要です"};
    }
    options.targetEl = Utf8(parser.value(targetEl));
    options.targetAz = Utf8(parser.value(targetAz));
    if (!parser.isSet(from)) {
        throw UsageError{"--from が必要です"};
    }
    options.from = Utf8(parser.value(from));
    options.to = parser.isSet(to) ? Utf8(parser.value(to)) : options.from;
    return std::nullopt;
}

base::JstDateTime ReadTime(const std::string& text, const char* option) {
    const auto time = ParseJstDateTime(text);
    if (!time) {
        throw UsageError{std::string(option) +
                         " の日時が読めません（YYYY-MM-DD HH:MM:SS）: " + text};
    }
    if (!base::IsSupportedDate(*time)) {
        throw UsageError{std::string(option) + " の日時が計算できる範囲（" +
                         base::kSupportedRangeText + "）の外です: " + text};
    }
    return *time;
}

// The beam error of a day row: the mirror where the command sends it (the two texts of the
// datagram, so the two-decimal rounding counts), the sun where it truly stands at that instant,
// whichever method pointed the mirror.
// With a mount model the mirror is where the model puts the two mount-angle texts instead.
double RowBeamError(TableHost& host, const cycle::WindowState& state, astro::UtcTime utc,
                    const std::optional<astro::SkyDirection>& mirror) {
    const auto mirrorEl = base::ParseStrict(host.Text(Field::MirrorElevation));
    const auto mirrorAz = base::ParseStrict(host.Text(Field::MirrorAzimuth));
    if (!mirrorEl || !mirrorAz) {
        throw HeliostatError("反射鏡角度が数値ではありません", "beam_error");
    }
    const astro::PreciseSunPosition sun =
        astro::PreciseSun(utc, astro::Site{state.Latitude, state.Longitude, 0});
    return astro::BeamError(mirror.value_or(astro::SkyDirection{*mirrorEl, *mirrorAz}),
                            {sun.elevation, sun.azimuth},
                            {state.TargetElevation, state.TargetAzimuth});
}

// The controller drives the inverse model's angles unrounded. Two decimals would add up to
// 0.007° to the normal, 0.014° to the beam, on top of the command's own rounding: more than
// the model gains. Three keep the texts within 0.0015° of the beam the controller delivers.
constexpr int kMountDecimals = 3;

std::string MountText(double value) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, kMountDecimals);
    return std::string(text, result.ptr);
}

// The mount angles the controller drives for the row's command, as the texts of the table, and the
// direction the model says those texts face.
struct MountColumns {
    std::string azimuth, elevation;
    astro::SkyDirection faces;
};

MountColumns RowMountAngles(TableHost& host, const astro::MountModel& model) {
    const auto mirrorEl = base::ParseStrict(host.Text(Field::MirrorElevation));
    const auto mirrorAz = base::ParseStrict(host.Text(Field::MirrorAzimuth));
    if (!mirrorEl || !mirrorAz) {
        throw HeliostatError("反射鏡角度が数値ではありません", "mount_azimuth");
    }
    const astro::MountAngles drive = astro::MountInverse(model, {*mirrorEl, *mirrorAz});
    MountColumns columns{MountText(drive.azimuth), MountText(drive.elevation), {}};
    columns.faces = astro::MountForward(
        model, {*base::ParseStrict(columns.azimuth), *base::ParseStrict(columns.elevation)});
    return columns;
}

int Run(const Options& options, std::FILE* out) {
    const auto first = base::JstToUtc(ReadTime(options.from, "--from"));
    const auto last = base::JstToUtc(ReadTime(options.to, "--to"));
    if (last < first) {
        throw UsageError{"--to が --from より前です"};
    }

    cycle::WindowState state;
    try {
        // The start button reads the targets once, by the lenient rule.
        state.TargetElevation = base::ParseLenient(options.targetEl);
        state.TargetAzimuth = base::ParseLenient(options.targetAz);
    } catch (const HeliostatError& e) {
        throw UsageError{e.what()};
    }

    TableHost host;
    host.Text(Field::ObserverLatitude) = options.lat;
    host.Text(Field::ObserverLongtitude) = options.lon;

    base::CsvWriter csv(out);
    csv.Raw(
        "jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,"
        "chart_time,marker_x,marker_y,error");
    csv.Raw(options.beamError ? ",beam_error" : "");
    csv.Raw(options.mountModel ? ",mount_azimuth,mount_elevation\r\n" : "\r\n");
    bool anyFailed = false;
    const std::chrono::seconds step{options.step};
    for (auto t = first; t <= last; t += step) {
        host.sent = false;
        std::string_view branch;
        std::optional<cycle::CycleReport> report;
        std::string error;
        try {
            report = cycle::SOLCAL(state, host, t, options.pointing);
            branch = report->branch == cycle::Branch::Day ? "day" : "night";
        } catch (const std::exception& e) {
            branch = "error";
            error = e.what();
            anyFailed = true;
        }
        // Should the precise sun refuse a place or date the cycle accepted, the cell stays
        // empty and the run fails with the reason, rather than printing a made-up number.
        std::optional<MountColumns> mount;
        if (options.mountModel && host.sent) {
            try {
                mount = RowMountAngles(host, *options.mountModel);
            } catch (const std::exception& e) {
                error = e.what();
                anyFailed = true;
            }
        }
        std::optional<double> beamError;
        if (options.beamError && report && report->branch == cycle::Branch::Day &&
            (mount || !options.mountModel)) {
            try {
                beamError = RowBeamError(
                    host, state, t,
                    mount ? std::optional<astro::SkyDirection>(mount->faces) : std::nullopt);
            } catch (const std::exception& e) {
                error = e.what();
                anyFailed = true;
            }
        }
        csv.DateTime(base::ToJst(t));
        csv.Raw(",");
        csv.Raw(branch);
        for (const Field field : {Field::SettingElevation, Field::SettingAzimuth,
                                  Field::MirrorElevation, Field::MirrorAzimuth}) {
            csv.Raw(",");
            csv.Field(host.Text(field));
        }
        csv.Raw(",");
        if (host.sent) {
            csv.Field(host.command);
        }
        csv.Raw(",");
        if (report) {
            csv.Field(report->chartTime);
        }
        csv.Raw(",");
        if (report && report->marker) {
            csv.Fixed2(report->marker->x);
            csv.Raw(",");
            csv.Fixed2(report->marker->y);
        } else {
            csv.Raw(",");
        }
        csv.Raw(",");
        csv.Field(error);
        if (options.beamError) {
            csv.Raw(",");
            if (beamError) {
                csv.Fixed2(*beamError);
            }
        }
        if (options.mountModel) {
            csv.Raw(",");
            if (mount) {
                csv.Raw(mount->azimuth);
                csv.Raw(",");
                csv.Raw(mount->elevation);
            } else {
                csv.Raw(",");
            }
        }
        csv.Raw("\r\n");
    }
    csv.Flush();
    return anyFailed ? 1 : 0;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<base::JstDateTime> ParseJstDateTime(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    base::JstDateTime t;
    if (!Digits(text, 0, 4, t.year) || !Digits(text, 5, 2, t.month) || !Digits(text, 8, 2, t.day) ||
        !Digits(text, 11, 2, t.hour) || !Digits(text, 14, 2, t.minute) ||
        !Digits(text, 17, 2, t.second)) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{t.year},
                                           std::chrono::month{static_cast<unsigned>(t.month)},
                                           std::chrono::day{static_cast<unsigned>(t.day)}};
    if (t.year < 1 || !date.ok() || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

int RunTable(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    try {
        Options options;
        if (const auto status = ParseArguments(arguments, out, options)) {
            return *status;
        }
        return Run(options, out);
    } catch (const UsageError& e) {
        std::fprintf(err, "heliostat-table: %s\n'heliostat-table --help' で使い方を表示します。\n",
                     e.message.c_str());
        std::fflush(err);
        return 2;
    }
}

}  // namespace heliostat::table
