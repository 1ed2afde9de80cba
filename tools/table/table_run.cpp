#include "table/table_run.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "astro/bisector.h"
#include "astro/mount_model.h"
#include "astro/precise_sun.h"
#include "base/command_line.h"
#include "base/csv_writer.h"
#include "base/errors.h"
#include "base/number_text.h"
#include "cycle/memory_host.h"
#include "cycle/observatory_presets.h"
#include "cycle/solcal.h"
#include "link/wire.h"
#include "mount_model_file/mount_model_file.h"
#include "version/version.h"

namespace heliostat::table {

namespace {

using cycle::Field;

constexpr const char* kUsage = R"(使い方:
  heliostat-table --lat 緯度 --lon 経度 --target-el 高度 --target-az 方位角
                  --from "YYYY-MM-DD HH:MM:SS" [--to "YYYY-MM-DD HH:MM:SS"] [--step 秒]
                  [--pointing mean|exact] [--beam-error] [--mount-model ファイル]
  heliostat-table --preset 都市 --target-el 高度 --target-az 方位角 --from ...

窓の計算サイクルを --from から --to まで（両端を含む日本標準時、--step 秒ごと。--to の既定は
--from、--step の既定は 60）の各時刻について実行し、1 サイクル 1 行の CSV（RFC 4180）を標準
出力に書きます:

  jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,
  chart_time,marker_x,marker_y,error

  branch            day（昼）、night（夜）、失敗したサイクルは error
  sun_*, mirror_*   サイクルの終わりに窓の欄が表示するとおりの文字列
  command           窓が送るはずのデータグラム（"0,方位角,高度"）。失敗時は空
  chart_time        天球図に書かれる日の入り（昼）または次の日の出（夜）の時刻
  marker_x/y        そのサイクルで点滅する太陽の印を描いたときの中心（twip）
  error             失敗したサイクルのメッセージ
  beam_error        --beam-error のときだけ最後の列: 指令どおりの反射鏡が反射する日光と目標の
                    なす角（度、小数 2 桁）。太陽は精密な暦の位置。夜と失敗の行は空
  mount_azimuth,    --mount-model のときだけ最後の 2 列: そのモデルでアンテナコントローラが
  mount_elevation   指令に対して動かす架台の角度（小数 3 桁）。失敗の行は空。このとき
                    --beam-error は、モデルがこの 2 つの文字列の向く方向とする反射鏡で求める

オプション:
)";

constexpr const char* kNotes = R"(
--lat/--lon は窓の座標欄と同じに読みます（全体が数値であること。そうでない文字列は行ごとの
失敗になります）。--target-el/--target-az は窓の目標欄と同じに読みます（先頭の数値、なければ
0）。目標高度は -90 から 90 まで。--preset に使える都市:
  八王子 東京 札幌 仙台 名古屋 大阪 広島 福岡 那覇
--lat か --lon を併せて指定すると、その座標だけ置き換わります。

日付: 日本標準時 1900-03-01 00:00:00 から 2100-02-28 23:59:59 まで。計算の日数は 4 年ごとに
うるう日を置くため、暦と合うのはこの間だけです。範囲の外にかかる指定は受け付けません。

終了状態: すべてのサイクルが成功すれば 0、失敗したサイクルがあれば 1、使い方の誤りは 2。
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
    {"", "lat", "緯度", "観測点の緯度（度、北が正）"},
    {"", "lon", "経度", "観測点の経度（度、東が正）"},
    {"", "preset", "都市", "窓の一覧の都市から --lat と --lon を取る"},
    {"", "target-el", "高度", "目標の高度（度、-90～90）"},
    {"", "target-az", "方位角", "目標の方位角（度、北から東回り）"},
    {"", "from", "\"YYYY-MM-DD HH:MM:SS\"", "最初のサイクル（日本標準時）"},
    {"", "to", "\"YYYY-MM-DD HH:MM:SS\"", "この時刻以前の最後のサイクル（既定: --from）"},
    {"", "step", "秒", "サイクルの間隔、1～31622400 の整数秒（既定: 60）"},
    {"", "pointing", "方式", "mean（既定）または exact: 精密な太陽と二等分方向の反射鏡"},
    {"", "beam-error", "", "beam_error の列を加える"},
    {"", "mount-model", "ファイル", "heliostat-calibrate で求めた架台モデルの架台角度の列を加える"},
    {"h", "help", "", "この説明を表示して終わる"},
    {"v", "version", "", "版を表示して終わる"},
};

constexpr long long kMaxStep = 366LL * 86400;

std::string HelpText() {
    std::string text = kUsage;
    for (const OptionEntry& option : kOptions) {
        QString names = QStringLiteral("  ");
        if (*option.shortName != '\0') {
            names += QStringLiteral("-%1, ").arg(QString::fromUtf8(option.shortName));
        }
        names += QStringLiteral("--%1").arg(QString::fromUtf8(option.longName));
        if (*option.valueName != '\0') {
            names += QStringLiteral(" %1").arg(QString::fromUtf8(option.valueName));
        }
        // Aligned by the terminal's columns: a Japanese character takes two.
        const auto width = static_cast<qsizetype>(
            names.size() +
            std::count_if(names.begin(), names.end(), [](QChar c) { return c.unicode() > 0x7f; }));
        names += QString(std::max<qsizetype>(2, 36 - width), u' ');
        text += names.toStdString() + option.description + "\n";
    }
    return text + kNotes;
}

struct Options {
    std::string lat, lon;
    double targetElevation = 0, targetAzimuth = 0;
    base::UtcMillis first, last;
    long long step = 60;
    cycle::Pointing pointing = cycle::Pointing::Mean;
    bool beamError = false;
    std::optional<astro::MountModel> mountModel;
};

std::string Utf8(const QString& text) {
    return text.toStdString();
}

base::UtcMillis ReadTime(const QString& text, const char* option) {
    const auto time = base::ParseJstDateTime(Utf8(text));
    if (!time) {
        throw base::UsageError(base::usage::BadValue(
            QString::fromUtf8(option), text, QStringLiteral("「YYYY-MM-DD HH:MM:SS」の日時")));
    }
    if (!base::IsSupportedDate(*time)) {
        throw base::UsageError(base::usage::BadValue(
            QString::fromUtf8(option), text,
            QStringLiteral("計算できる範囲（%1）の日時").arg(base::kSupportedRangeText)));
    }
    return base::JstToUtc(*time);
}

// A target as the start button reads it, by the lenient rule.
double ReadTarget(const QCommandLineParser& parser, const QString& name) {
    try {
        return base::ParseLenient(Utf8(parser.value(name)));
    } catch (const HeliostatError& e) {
        throw base::UsageError(QStringLiteral("--%1: %2").arg(name, QString::fromUtf8(e.what())));
    }
}

Options ReadOptions(const QStringList& arguments, QCommandLineParser& parser,
                    base::CommandLine<Options>& result) {
    const auto isSet = [&parser](const char* name) {
        return parser.isSet(QString::fromUtf8(name));
    };
    const auto value = [&parser](const char* name) {
        return parser.value(QString::fromUtf8(name));
    };

    base::Parse(parser, arguments);
    Options options;
    if (isSet("help")) {
        result.outcome = base::CommandLineOutcome::Help;
        result.text = QString::fromStdString(HelpText());
        return options;
    }
    if (isSet("version")) {
        result.outcome = base::CommandLineOutcome::Version;
        result.text = QStringLiteral("heliostat-table " HELIOSTAT_VERSION "\n");
        return options;
    }
    if (isSet("step")) {
        options.step = base::ReadInteger(QStringLiteral("step"), value("step"), 1, kMaxStep,
                                         QStringLiteral("秒"));
    }
    if (isSet("pointing")) {
        const QString mode = value("pointing");
        if (mode == QStringLiteral("exact")) {
            options.pointing = cycle::Pointing::Exact;
        } else if (mode != QStringLiteral("mean")) {
            throw base::UsageError(base::usage::BadValue(QStringLiteral("pointing"), mode,
                                                         QStringLiteral(" mean か exact ")));
        }
    }
    options.beamError = isSet("beam-error");
    if (isSet("mount-model")) {
        options.mountModel = mount_file::ReadMountModelFile(value("mount-model")).model;
    }
    // An explicit --lat or --lon wins over the city; with several cities the first counts.
    std::optional<cycle::ObservatoryTexts> city;
    for (const QString& name : parser.values(QStringLiteral("preset"))) {
        const auto found = cycle::LookupObservatory(Utf8(name));
        if (!found) {
            throw base::UsageError(base::usage::BadValue(QStringLiteral("preset"), name,
                                                         QStringLiteral("一覧の都市")));
        }
        if (!city) {
            city = found;
        }
    }
    if (!(isSet("lat") || city) || !(isSet("lon") || city)) {
        throw base::UsageError(
            base::usage::Required(QStringLiteral("--lat と --lon（または --preset）")));
    }
    options.lat = isSet("lat") ? Utf8(value("lat")) : city->latitude;
    options.lon = isSet("lon") ? Utf8(value("lon")) : city->longitude;
    if (!isSet("target-el") || !isSet("target-az")) {
        throw base::UsageError(base::usage::Required(QStringLiteral("--target-el と --target-az")));
    }
    options.targetElevation = ReadTarget(parser, QStringLiteral("target-el"));
    options.targetAzimuth = ReadTarget(parser, QStringLiteral("target-az"));
    // No direction lies beyond the zenith or the nadir; 1e300 would make a 314-character command.
    if (options.targetElevation < -90 || options.targetElevation > 90) {
        throw base::UsageError(base::usage::BadValue(
            QStringLiteral("target-el"), value("target-el"), QStringLiteral(" -90～90 の数")));
    }
    if (!isSet("from")) {
        throw base::UsageError(base::usage::Required(QStringLiteral("--from")));
    }
    options.first = ReadTime(value("from"), "from");
    options.last = isSet("to") ? ReadTime(value("to"), "to") : options.first;
    if (options.last < options.first) {
        throw base::UsageError(QStringLiteral("--to が --from より前です"));
    }
    return options;
}

// The command line as one result: the options to run with, or what to print and how to end.
base::CommandLine<Options> ParseArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionEntry& option : kOptions) {
        QStringList names;
        if (*option.shortName != '\0') {
            names << QString::fromUtf8(option.shortName);
        }
        names << QString::fromUtf8(option.longName);
        parser.addOption(QCommandLineOption(names, QString::fromUtf8(option.description),
                                            QString::fromUtf8(option.valueName)));
    }
    base::CommandLine<Options> result;
    try {
        result.options = ReadOptions(arguments, parser, result);
    } catch (const base::UsageError& e) {
        result.outcome = base::CommandLineOutcome::UsageError;
        result.text = e.message();
    }
    return result;
}

// The mirror where the row's command sends it: the two texts of the datagram, read back, so
// that their two-decimal rounding counts.
astro::SkyDirection CommandedMirror(cycle::MemoryHost& host, const char* column) {
    const auto mirrorEl = base::ParseStrict(host.Text(Field::MirrorElevation));
    const auto mirrorAz = base::ParseStrict(host.Text(Field::MirrorAzimuth));
    if (!mirrorEl || !mirrorAz) {
        throw HeliostatError("反射鏡角度が数値ではありません", column);
    }
    return {.azimuth = *mirrorAz, .elevation = *mirrorEl};
}

// The beam error of a day row: the commanded mirror, the sun where it truly stands at that
// instant, whichever method pointed the mirror.
// With a mount model the mirror is where the model puts the two mount-angle texts instead.
double RowBeamError(cycle::MemoryHost& host, const cycle::WindowState& state, astro::UtcTime utc,
                    const std::optional<astro::SkyDirection>& mirror) {
    const astro::SkyDirection commanded = CommandedMirror(host, "beam_error");
    const astro::PreciseSunPosition sun =
        astro::PreciseSun(utc, astro::Site{state.Latitude, state.Longitude, 0});
    return astro::BeamError(mirror.value_or(commanded),
                            {.azimuth = sun.azimuth, .elevation = sun.elevation},
                            {.azimuth = state.TargetAzimuth, .elevation = state.TargetElevation});
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

MountColumns RowMountAngles(cycle::MemoryHost& host, const astro::MountModel& model) {
    const astro::MountAngles drive =
        astro::MountInverse(model, CommandedMirror(host, "mount_azimuth"));
    MountColumns columns{MountText(drive.azimuth), MountText(drive.elevation), {}};
    columns.faces =
        astro::MountForward(model, {.azimuth = *base::ParseStrict(columns.azimuth),
                                    .elevation = *base::ParseStrict(columns.elevation)});
    return columns;
}

int Run(const Options& options, std::FILE* out) {
    cycle::WindowState state;
    state.TargetElevation = options.targetElevation;
    state.TargetAzimuth = options.targetAzimuth;
    cycle::MemoryHost host(options.lat, options.lon);

    base::CsvWriter csv(out);
    csv.Raw(
        "jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,"
        "chart_time,marker_x,marker_y,error");
    csv.Raw(options.beamError ? ",beam_error" : "");
    csv.Raw(options.mountModel ? ",mount_azimuth,mount_elevation\r\n" : "\r\n");
    bool anyFailed = false;
    const std::chrono::seconds step{options.step};
    for (auto t = options.first; t <= options.last; t += step) {
        const int sendsBefore = host.Sends();
        std::string error;
        // A failed step leaves its cells empty and the run fails with the reason: should the
        // precise sun refuse a place or date the cycle accepted, no made-up number is printed.
        const auto attempt = [&error, &anyFailed](const auto& compute) {
            try {
                compute();
            } catch (const std::exception& e) {
                error = e.what();
                anyFailed = true;
            }
        };
        std::optional<cycle::CycleReport> report;
        attempt([&] { report = cycle::SOLCAL(state, host, t, options.pointing); });
        const std::string_view branch = !report                                ? "error"
                                        : report->branch == cycle::Branch::Day ? "day"
                                                                               : "night";
        std::optional<MountColumns> mount;
        if (options.mountModel && host.Sends() != sendsBefore) {
            attempt([&] { mount = RowMountAngles(host, *options.mountModel); });
        }
        std::optional<double> beamError;
        if (options.beamError && report && report->branch == cycle::Branch::Day &&
            (mount || !options.mountModel)) {
            attempt([&] {
                beamError = RowBeamError(
                    host, state, t,
                    mount ? std::optional<astro::SkyDirection>(mount->faces) : std::nullopt);
            });
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
        if (host.Sends() != sendsBefore) {
            csv.Field(link::CommandPayload(host.Text(Field::MirrorAzimuth),
                                           host.Text(Field::MirrorElevation)));
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

}  // namespace

int RunTable(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    const base::CommandLine<Options> line = ParseArguments(arguments);
    switch (line.outcome) {
        case base::CommandLineOutcome::Run:
            return Run(line.options, out);
        case base::CommandLineOutcome::Help:
        case base::CommandLineOutcome::Version:
            std::fputs(line.text.toStdString().c_str(), out);
            std::fflush(out);
            return 0;
        case base::CommandLineOutcome::UsageError:
            break;
    }
    std::fputs(
        base::usage::Report(QStringLiteral("heliostat-table"), line.text).toStdString().c_str(),
        err);
    std::fflush(err);
    return 2;
}

}  // namespace heliostat::table
