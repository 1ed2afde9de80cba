#include "calibrate/calibrate_run.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QHostAddress>
#include <cmath>
#include <string>

#include "base/errors.h"
#include "base/jst_clock.h"
#include "base/number_text.h"
#include "calibrate/record.h"
#include "cycle/observatory_presets.h"
#include "mount_model_file/mount_model_file.h"
#include "table/table_run.h"
#include "version/version.h"

namespace heliostat::calibrate {

namespace {

constexpr const char* kProgram = "heliostat-calibrate";
constexpr double kRad = 3.14159265358979323846 / 180.0;

constexpr const char* kHelp = R"(使い方:
  heliostat-calibrate fit (--lat TEXT --lon TEXT | --preset NAME) --target-el TEXT --target-az TEXT
                      --observations FILE --output MODEL.json
  heliostat-calibrate record --controller HOST:PORT --output FILE
                      (--lat TEXT --lon TEXT | --preset NAME) --target-el TEXT --target-az TEXT

架台の誤差モデル（方位角・仰角エンコーダの零点、方位軸の傾き 2 成分、仰角軸の直角からのずれ、
鏡の法線の傾き）を較正します。

record  アンテナコントローラ（架台モデルなしで起動したもの）を端末から動かし、光が目標の中心に
        来た時刻と架台の角度を観測として FILE（CSV: jst,mount_azimuth,mount_elevation）に
        追記します。矢印キーか h j k l で指令方向を刻みだけ動かし、+ / - で刻みを
        0.01° から 1° の間で変え、Enter で記録、u で最後の記録を取り消し、q で終了します。
        初めの指令は精密な太陽位置から求めた太陽と目標の二等分方向です。
fit     観測に精密な太陽位置で架台モデルを当てはめ（頑健な損失、外れ値は名前を挙げて除外）、
        観測ごとの光の誤差（前・後、mrad と度）、RMS と最大、各パラメータと標準誤差を表示して
        MODEL.json に書きます。観測は 6 件以上必要です。

オプション:
  --lat TEXT             観測地点の緯度（度、北が正）
  --lon TEXT             観測地点の経度（度、東が正）
  --preset NAME          観測地点を画面の都市一覧から選びます（--lat / --lon で片方を上書き可）:
                         八王子 東京 札幌 仙台 名古屋 大阪 広島 福岡 那覇
  --target-el TEXT       目標の仰角（度。画面の目標欄と同じく先頭の数を読みます）
  --target-az TEXT       目標の方位角（度、北から東回り）
  --observations FILE    fit: 観測の CSV
  --output FILE          fit: 書き出す架台モデル（JSON）; record: 観測を追記する CSV
  --controller HOST:PORT record: アンテナコントローラのアドレスとポート（例 127.0.0.1:10006）
  -h, --help             この説明を表示します
  -v, --version          バージョンを表示します

終了コード: 0 正常終了、1 失敗（当てはめや書き出しができない等）、2 使い方の誤り（観測ファイルや
架台モデルファイルが読めない、観測が 6 件未満を含む）。
)";

const char* const kParameterLabels[astro::kMountParameterCount] = {
    "方位角エンコーダの零点",     "仰角エンコーダの零点",   "方位軸の傾き（北向き成分）",
    "方位軸の傾き（東向き成分）", "仰角軸の直角からのずれ", "鏡の法線の傾き"};

double Mrad(double degrees) {
    return degrees * kRad * 1000;
}

QString Fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

double Coordinate(const QString& option, const QString& text, double limit) {
    const auto value = base::ParseStrict(text.toStdString());
    if (!value || std::abs(*value) > limit) {
        throw base::UsageError(
            base::usage::BadValue(option, text, QStringLiteral(" -%1～%1 の数").arg(limit)));
    }
    return *value;
}

double Target(const QString& text) {
    try {
        return base::ParseLenient(text.toStdString());
    } catch (const HeliostatError& e) {
        throw base::UsageError(QString::fromStdString(e.what()));
    }
}

void ParseController(const QString& text, Options& options) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0) {
        throw base::UsageError(
            base::usage::BadValue("controller", text, QStringLiteral(" HOST:PORT 形式")));
    }
    options.controllerHost = text.left(colon);
    options.controllerPort =
        static_cast<quint16>(base::ReadInteger("controller", text.mid(colon + 1), 1, 65535));
}

QString ReportText(const std::vector<Observation>& observations, const FitResult& fit,
                   const QString& output) {
    QString text;
    text += QStringLiteral("架台モデルの当てはめ: 観測 %1 件（%2 ～ %3）、使用 %4 件\n")
                .arg(observations.size())
                .arg(QString::fromStdString(observations.front().jst),
                     QString::fromStdString(observations.back().jst))
                .arg(fit.used);
    for (std::size_t i = 0; i < observations.size(); ++i) {
        if (fit.outlier[i]) {
            text +=
                QStringLiteral("外れ値として除いた観測: %1 行目 %2（当てはめ後の光の誤差 %3°）\n")
                    .arg(i + 2)
                    .arg(QString::fromStdString(observations[i].jst))
                    .arg(Fixed(fit.afterDeg[i], 3));
        }
    }
    text += QStringLiteral(
        "\n観測ごとの光の誤差（当てはめ前 → 後）\n"
        "  日時（日本標準時）       前 mrad      前 °   後 mrad      後 °\n");
    double beforeSquares = 0, beforeMax = 0;
    for (std::size_t i = 0; i < observations.size(); ++i) {
        text += QStringLiteral("  %1 %2 %3 %4 %5%6\n")
                    .arg(QString::fromStdString(observations[i].jst))
                    .arg(Fixed(Mrad(fit.beforeDeg[i]), 2), 9)
                    .arg(Fixed(fit.beforeDeg[i], 4), 9)
                    .arg(Fixed(Mrad(fit.afterDeg[i]), 2), 9)
                    .arg(Fixed(fit.afterDeg[i], 4), 9)
                    .arg(fit.outlier[i] ? QStringLiteral("  外れ値") : QString());
        if (!fit.outlier[i]) {
            beforeSquares += fit.beforeDeg[i] * fit.beforeDeg[i];
            beforeMax = std::max(beforeMax, fit.beforeDeg[i]);
        }
    }
    const double beforeRms = std::sqrt(beforeSquares / static_cast<double>(fit.used));
    const auto summary = [](const char* label, double rms, double max) {
        return QStringLiteral("%1: RMS %2 mrad（%3°）、最大 %4 mrad（%5°）\n")
            .arg(QString::fromUtf8(label), Fixed(Mrad(rms), 2), Fixed(rms, 4), Fixed(Mrad(max), 2),
                 Fixed(max, 4));
    };
    text += "\n" + summary("当てはめ前", beforeRms, beforeMax) +
            summary("当てはめ後", fit.rmsDeg, fit.maxDeg);
    text += QStringLiteral("\nパラメータ（度、± は標準誤差）\n");
    const auto values = astro::MountParameters(fit.model);
    for (std::size_t k = 0; k < astro::kMountParameterCount; ++k) {
        text += QStringLiteral("  %1 %2 %3 ± %4%5\n")
                    .arg(QString::fromLatin1(
                             astro::kMountParameterNames[k].data(),
                             static_cast<qsizetype>(astro::kMountParameterNames[k].size())),
                         -17)
                    .arg(QString::fromUtf8(kParameterLabels[k]), -14, QChar(0x3000))
                    .arg(Fixed(values[k], 4), 8)
                    .arg(Fixed(fit.standardErrors[k], 4))
                    .arg(fit.poorlyDetermined[k] ? QStringLiteral("  （よく決まりません）")
                                                 : QString());
    }
    const double tilt = std::hypot(fit.model.tiltNorth, fit.model.tiltEast);
    double toward = std::atan2(fit.model.tiltEast, fit.model.tiltNorth) / kRad;
    if (toward < 0) {
        toward += 360;
    }
    text += QStringLiteral("  方位軸の傾きは %1° で、方位角 %2° の向きです\n")
                .arg(Fixed(tilt, 4), Fixed(toward, 1));
    for (std::size_t k = 0; k < astro::kMountParameterCount; ++k) {
        if (fit.poorlyDetermined[k]) {
            text += QStringLiteral(
                        "警告: %1（%2）はこの観測ではよく決まりません。別の日や時刻の観測を"
                        "加えてください\n")
                        .arg(QString::fromLatin1(
                                 astro::kMountParameterNames[k].data(),
                                 static_cast<qsizetype>(astro::kMountParameterNames[k].size())),
                             QString::fromUtf8(kParameterLabels[k]));
        }
    }
    if (fit.singleDay) {
        text += QStringLiteral(
            "警告: すべての観測が同じ日です。季節の違う日の観測を加えるとモデルがよく決まります\n");
    }
    text += QStringLiteral("\n架台モデルを %1 に書きました\n").arg(output);
    return text;
}

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

int Fit(const Options& options, std::FILE* out) {
    const std::vector<Observation> observations = ReadObservations(options.observations);
    if (observations.size() < kMinimumObservations) {
        throw base::UsageError(
            QStringLiteral(
                "観測ファイル %1 の観測は %2 件です。架台モデルの当てはめには %3 件以上が必要です")
                .arg(options.observations)
                .arg(observations.size())
                .arg(kMinimumObservations));
    }
    const FitResult fit = FitMountModel(observations, options.site, options.target);
    mount_file::MountModelFile file;
    file.model = fit.model;
    file.standardErrors = fit.standardErrors;
    file.observationCount = static_cast<int>(observations.size());
    file.usedCount = static_cast<int>(fit.used);
    file.firstJst = QString::fromStdString(observations.front().jst);
    file.lastJst = QString::fromStdString(observations.back().jst);
    for (const Observation& o : observations) {
        file.firstJst = std::min(file.firstJst, QString::fromStdString(o.jst));
        file.lastJst = std::max(file.lastJst, QString::fromStdString(o.jst));
    }
    file.rmsDeg = fit.rmsDeg;
    file.maxDeg = fit.maxDeg;
    for (std::size_t i = 0; i < observations.size(); ++i) {
        file.residuals.push_back({QString::fromStdString(observations[i].jst), fit.beforeDeg[i],
                                  fit.afterDeg[i], fit.outlier[i]});
    }
    QString error;
    if (!mount_file::WriteMountModelFile(options.output, file, error)) {
        throw HeliostatError(QStringLiteral("架台モデルを %1 に書けません: %2")
                                 .arg(options.output, error)
                                 .toStdString(),
                             "WriteMountModelFile");
    }
    Print(out, ReportText(observations, fit, options.output));
    return 0;
}

}  // namespace

base::CommandLine<Options> ParseCalibrateCommandLine(const QStringList& arguments) {
    base::CommandLine<Options> result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption lat("lat", "", "TEXT"), lon("lon", "", "TEXT"),
        preset("preset", "", "NAME"), targetEl("target-el", "", "TEXT"),
        targetAz("target-az", "", "TEXT"), observations("observations", "", "FILE"),
        output("output", "", "FILE"), controller("controller", "", "HOST:PORT"),
        help({"h", "help"}, ""), version({"v", "version"}, "");
    parser.addOptions(
        {lat, lon, preset, targetEl, targetAz, observations, output, controller, help, version});
    try {
        base::Parse(parser, arguments, true);
        if (parser.isSet(help)) {
            result.outcome = base::CommandLineOutcome::Help;
            result.text = QString::fromUtf8(kHelp);
            return result;
        }
        if (parser.isSet(version)) {
            result.outcome = base::CommandLineOutcome::Version;
            result.text = QStringLiteral("%1 %2\n").arg(kProgram, HELIOSTAT_VERSION);
            return result;
        }
        const QStringList positional = parser.positionalArguments();
        if (positional.isEmpty()) {
            throw base::UsageError(
                base::usage::Required(QStringLiteral("サブコマンド fit か record")));
        }
        if (positional.size() > 1) {
            throw base::UsageError(base::usage::ExtraArgument(positional[1]));
        }
        Options& o = result.options;
        if (positional[0] == "fit") {
            o.subcommand = Subcommand::Fit;
        } else if (positional[0] == "record") {
            o.subcommand = Subcommand::Record;
        } else {
            throw base::UsageError(base::usage::UnknownCommand(positional[0]));
        }
        // An explicit --lat or --lon wins over the city.
        std::optional<cycle::ObservatoryTexts> city;
        if (parser.isSet(preset)) {
            city = cycle::LookupObservatory(parser.value(preset).toStdString());
            if (!city) {
                throw base::UsageError(base::usage::BadValue("preset", parser.value(preset),
                                                             QStringLiteral("一覧にある都市")));
            }
        }
        if (!parser.isSet(lat) && !city) {
            throw base::UsageError(base::usage::Required("--lat（または --preset）"));
        }
        if (!parser.isSet(lon) && !city) {
            throw base::UsageError(base::usage::Required("--lon（または --preset）"));
        }
        o.site.latitude = Coordinate(
            "lat", parser.isSet(lat) ? parser.value(lat) : QString::fromStdString(city->latitude),
            90);
        o.site.longitude = Coordinate(
            "lon", parser.isSet(lon) ? parser.value(lon) : QString::fromStdString(city->longitude),
            360);
        if (!parser.isSet(targetEl)) {
            throw base::UsageError(base::usage::Required("--target-el"));
        }
        if (!parser.isSet(targetAz)) {
            throw base::UsageError(base::usage::Required("--target-az"));
        }
        o.target = {.azimuth = Target(parser.value(targetAz)),
                    .elevation = Target(parser.value(targetEl))};
        if (!parser.isSet(output)) {
            throw base::UsageError(base::usage::Required("--output"));
        }
        o.output = parser.value(output);
        if (o.subcommand == Subcommand::Fit) {
            if (!parser.isSet(observations)) {
                throw base::UsageError(base::usage::Required("--observations"));
            }
            o.observations = parser.value(observations);
        } else {
            if (!parser.isSet(controller)) {
                throw base::UsageError(base::usage::Required("--controller"));
            }
            ParseController(parser.value(controller), o);
        }
    } catch (const base::UsageError& e) {
        result.outcome = base::CommandLineOutcome::UsageError;
        result.text = e.message();
    }
    return result;
}

std::vector<Observation> ReadObservations(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        throw base::UsageError(
            QStringLiteral("観測ファイル %1 を開けません: %2").arg(path, in.errorString()));
    }
    const QList<QByteArray> lines = in.readAll().split('\n');
    const auto fail = [&path](qsizetype line, const QString& what) {
        throw base::UsageError(
            QStringLiteral("観測ファイル %1 の %2 行目: %3").arg(path).arg(line).arg(what));
    };
    std::vector<Observation> observations;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (i == 0) {
            if (line != "jst,mount_azimuth,mount_elevation") {
                fail(1,
                     QStringLiteral("見出しが jst,mount_azimuth,mount_elevation ではありません"));
            }
            continue;
        }
        if (line.isEmpty()) {
            continue;
        }
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() != 3) {
            fail(i + 1, QStringLiteral("欄が %1 個あります（3 個のはずです）").arg(fields.size()));
        }
        Observation o;
        o.jst = fields[0].toStdString();
        const auto jst = base::ParseJstDateTime(o.jst);
        if (!jst || !base::IsSupportedDate(*jst)) {
            fail(i + 1, QStringLiteral("jst「%1」が YYYY-MM-DD HH:MM:SS の日時（%2）ではありません")
                            .arg(QString::fromUtf8(fields[0]),
                                 QString::fromUtf8(base::kSupportedRangeText)));
        }
        o.utc = base::FromJst(*jst);
        const char* const names[2] = {"mount_azimuth", "mount_elevation"};
        double values[2];
        for (int k = 0; k < 2; ++k) {
            const auto value = base::ParseStrict(fields[k + 1].toStdString());
            if (!value) {
                fail(i + 1,
                     QStringLiteral("%1「%2」が数値ではありません")
                         .arg(QString::fromLatin1(names[k]), QString::fromUtf8(fields[k + 1])));
            }
            values[k] = *value;
        }
        o.mount = {.azimuth = values[0], .elevation = values[1]};
        observations.push_back(std::move(o));
    }
    return observations;
}

int RunCalibrate(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    const base::CommandLine<Options> command = ParseCalibrateCommandLine(arguments);
    switch (command.outcome) {
        case base::CommandLineOutcome::Help:
        case base::CommandLineOutcome::Version:
            Print(out, command.text);
            return 0;
        case base::CommandLineOutcome::UsageError:
            Print(err, base::usage::Report(kProgram, command.text));
            return 2;
        case base::CommandLineOutcome::Run:
            break;
    }
    try {
        if (command.options.subcommand == Subcommand::Record) {
            return RunRecord(command.options, err);
        }
        return Fit(command.options, out);
    } catch (const base::UsageError& e) {
        Print(err, QStringLiteral("%1: %2\n").arg(kProgram, e.message()));
        return 2;
    } catch (const std::exception& e) {
        Print(err, QStringLiteral("%1: %2\n").arg(kProgram, QString::fromUtf8(e.what())));
        return 1;
    }
}

}  // namespace heliostat::calibrate
