#include "report_run.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <string>
#include <vector>

#include "base/errors.h"
#include "render.h"
#include "timeline.h"
#include "version/version.h"

namespace heliostat::report {

namespace {

constexpr const char* kHelp = R"(使い方:
  heliostat-report [--controller-log FILE] [--from TIME] [--to TIME] [--page N]
                   (--output FILE.pdf|.png|.svg | --summary | --summary-csv) SESSION.csv...

ウィンドウのセッション記録（heliostat --log）と、あればアンテナコントローラの記録
（antenna-controller --log）を一本の時間軸に並べ、報告を書きます。

  --output FILE        報告を書く。拡張子で形式を選ぶ: .pdf は 1 日 1 ページ、
                       .png と .svg は 1 ページ目（--page で別のページ）
  --summary            要約を文字で標準出力へ
  --summary-csv        要約を CSV（item,value,start,end,reason）で標準出力へ
  --controller-log FILE  アンテナコントローラの記録も読む
  --from TIME          この時刻から（含む）
  --to TIME            この時刻まで（含む）
  --page N             N ページ目（1 から）だけを書く
  -h, --help           この説明を表示して終了
  -v, --version        版を表示して終了

TIME は 2026-12-08 09:30、2026-12-08 09:30:00.000、2026-12-08T09:30:00+09:00、
2026-12-08T00:30:00Z の形。時差のない時刻は日本標準時です。

各ページ: 指令と応答の方位角・仰角、ビーム誤差（しきい値つき）、リンク状態の帯
（目標上・移動中・途絶・停止中、失敗と退避の印）、その日の要約。
途絶は最後の有効な応答（なければ開始）から回復までです。

読めない行は「ファイル:行」で標準エラーに示して読み飛ばします。書きかけで
切れた最後の行も読み飛ばします。

終了状態: 0 成功、1 ファイルを読めない・書けない・描く記録がない、2 使い方の誤り。
)";

QString Option(const char* name) {
    return QString::fromLatin1(name);
}

Millis ReadTime(const QString& option, const QString& text) {
    const auto time = ParseStamp(text.toStdString());
    if (!time) {
        throw base::UsageError(base::usage::BadValue(
            option, text, QStringLiteral("日時（YYYY-MM-DD HH:MM[:SS[.mmm]][Z|±HH:MM]）")));
    }
    return *time;
}

void Print(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

base::CommandLine<Options> ParseCommandLine(const QStringList& arguments) {
    base::CommandLine<Options> result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption controller(Option("controller-log"), {}, QStringLiteral("FILE"));
    const QCommandLineOption from(Option("from"), {}, QStringLiteral("TIME"));
    const QCommandLineOption to(Option("to"), {}, QStringLiteral("TIME"));
    const QCommandLineOption page(Option("page"), {}, QStringLiteral("N"));
    const QCommandLineOption output(Option("output"), {}, QStringLiteral("FILE"));
    const QCommandLineOption summary(Option("summary"));
    const QCommandLineOption summaryCsv(Option("summary-csv"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({controller, from, to, page, output, summary, summaryCsv, help, version});
    try {
        base::Parse(parser, arguments, true);
        if (parser.isSet(help)) {
            result.outcome = base::CommandLineOutcome::Help;
            result.text = QString::fromUtf8(kHelp);
            return result;
        }
        if (parser.isSet(version)) {
            result.outcome = base::CommandLineOutcome::Version;
            result.text = QStringLiteral("heliostat-report " HELIOSTAT_VERSION "\n");
            return result;
        }
        Options& o = result.options;
        // Exactly one of the three ways to give the report.
        std::vector<QString> modes;
        if (parser.isSet(output)) {
            modes.push_back(QStringLiteral("--output"));
        }
        if (parser.isSet(summary)) {
            modes.push_back(QStringLiteral("--summary"));
        }
        if (parser.isSet(summaryCsv)) {
            modes.push_back(QStringLiteral("--summary-csv"));
        }
        if (modes.empty()) {
            throw base::UsageError(
                base::usage::Required(QStringLiteral("--output、--summary か --summary-csv")));
        }
        if (modes.size() > 1) {
            throw base::UsageError(base::usage::Conflict(modes[0], modes[1]));
        }
        if (parser.isSet(output)) {
            o.mode = Mode::Output;
            o.output = parser.value(output);
            const QString suffix = QFileInfo(o.output).suffix().toLower();
            if (suffix != QStringLiteral("pdf") && suffix != QStringLiteral("png") &&
                suffix != QStringLiteral("svg")) {
                throw base::UsageError(base::usage::BadValue(
                    QStringLiteral("output"), o.output,
                    QStringLiteral("拡張子 .pdf、.png か .svg のファイル名")));
            }
        } else {
            o.mode = parser.isSet(summary) ? Mode::Summary : Mode::SummaryCsv;
        }
        if (parser.isSet(page)) {
            if (o.mode != Mode::Output) {
                throw base::UsageError(base::usage::Conflict(QStringLiteral("--page"), modes[0]));
            }
            o.page = static_cast<int>(
                base::ReadInteger(QStringLiteral("page"), parser.value(page), 1, 100000));
        }
        if (parser.isSet(from)) {
            o.from = ReadTime(QStringLiteral("from"), parser.value(from));
        }
        if (parser.isSet(to)) {
            o.to = ReadTime(QStringLiteral("to"), parser.value(to));
            if (o.from && *o.to < *o.from) {
                throw base::UsageError(base::usage::BadValue(QStringLiteral("to"), parser.value(to),
                                                             QStringLiteral("--from 以後の日時")));
            }
        }
        o.controllerFile = parser.value(controller);
        o.sessionFiles = parser.positionalArguments();
        if (o.sessionFiles.isEmpty()) {
            throw base::UsageError(base::usage::Required(QStringLiteral("SESSION.csv")));
        }
    } catch (const base::UsageError& e) {
        result.outcome = base::CommandLineOutcome::UsageError;
        result.text = e.message();
    }
    return result;
}

namespace {

int Report(const Options& options, std::FILE* out, std::FILE* err) {
    std::vector<WindowRow> rows;
    std::vector<ControllerRow> controllerRows;
    long long malformed = 0, truncated = 0;
    const auto problems = [&](const std::vector<LineProblem>& list) {
        for (const LineProblem& p : list) {
            Print(err, "heliostat-report: " + p.Text() + "\n");
            (p.truncated ? truncated : malformed) += 1;
        }
    };
    std::vector<Record<WindowRow>> records;
    for (const QString& file : options.sessionFiles) {
        records.push_back(ReadWindowRecord(file.toStdString()));
        problems(records.back().problems);
    }
    if (records.size() == 1) {
        rows = std::move(records.front().rows);
    } else {
        std::size_t total = 0;
        for (const auto& r : records) {
            total += r.rows.size();
        }
        rows.reserve(total);
        for (auto& r : records) {
            rows.insert(rows.end(), std::make_move_iterator(r.rows.begin()),
                        std::make_move_iterator(r.rows.end()));
        }
    }
    records.clear();
    if (!options.controllerFile.isEmpty()) {
        Record<ControllerRow> record = ReadControllerRecord(options.controllerFile.toStdString());
        problems(record.problems);
        controllerRows = std::move(record.rows);
    }
    const Timeline timeline = BuildTimeline(std::move(rows), controllerRows);

    std::optional<Span> range;
    if (options.from || options.to) {
        range = Span{options.from.value_or(std::numeric_limits<Millis>::min()),
                     options.to.value_or(std::numeric_limits<Millis>::max())};
    }
    if (options.mode != Mode::Output) {
        Summary summary = Summarise(timeline, range);
        summary.malformedLines = malformed;
        summary.truncatedLines = truncated;
        if (options.controllerFile.isEmpty()) {
            summary.controllerCommands = -1;
        }
        Print(out, options.mode == Mode::Summary ? SummaryText(summary) : SummaryCsv(summary));
        return 0;
    }
    ReportInput input;
    input.timeline = &timeline;
    input.range = range;
    input.sessionFiles = options.sessionFiles;
    input.controllerFile = options.controllerFile;
    input.malformedLines = malformed;
    input.truncatedLines = truncated;
    WriteReport(input, options.output, options.page);
    return 0;
}

}  // namespace

int Run(const Options& options, std::FILE* out, std::FILE* err) {
    try {
        return Report(options, out, err);
    } catch (const HeliostatError& e) {
        Print(err, std::string("heliostat-report: ") + e.what() + "\n");
        return 1;
    }
}

std::optional<int> Answer(const base::CommandLine<Options>& parsed, std::FILE* out,
                          std::FILE* err) {
    switch (parsed.outcome) {
        case base::CommandLineOutcome::Help:
        case base::CommandLineOutcome::Version:
            Print(out, parsed.text.toStdString());
            return 0;
        case base::CommandLineOutcome::UsageError:
            Print(
                err,
                base::usage::Report(QStringLiteral("heliostat-report"), parsed.text).toStdString());
            return 2;
        case base::CommandLineOutcome::Run:
            break;
    }
    return std::nullopt;
}

}  // namespace heliostat::report
