#include "ui/window_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "ui/operator_text.h"

namespace heliostat::ui {

namespace {

struct OptionText {
    const char* shortName;
    const char* name;
    const char* value;  // empty: a switch
    const char* help;
};

// The options in the order --help lists them; the parser is built from the same list.
constexpr OptionText kOptions[] = {
    {"", "log", "ファイル", "送信・受信の記録を CSV でファイル（通常のファイル）に追記する"},
    {"", "stow", "AZ,EL", "計算停止と終了のとき反射鏡を方位角 AZ・仰角 EL へ退避させる"},
    {"", "reply-timeout", "秒", "この秒数応答がなければ応答なしとする（既定 3）"},
    {"", "pointing", "方式", "反射鏡の向けかた：mean（既定）または exact（精密）"},
    {"", "reply-from-any-port", "",
     "コントローラのアドレスからの応答を送信元ポートを問わず受け入れる（別のソケットから"
     "応答するコントローラ向け）"},
    {"", "beam-alarm", "度", "光の誤差がこの角度を 5 秒超え続けたら知らせる"},
    {"h", "help", "", "この説明を表示して終了する"},
    {"v", "version", "", "版を表示して終了する"},
};

}  // namespace

QString WindowHelpText() {
    QString text = QStringLiteral(
        "使いかた: heliostat [オプション]\n"
        "太陽軌道・反射鏡角度計算：太陽を追って反射鏡の角度をアンテナコントローラへ送ります。\n"
        "\nオプション:\n");
    for (const OptionText& o : kOptions) {
        QString names = *o.shortName
                            ? QStringLiteral("-%1, --%2")
                                  .arg(QLatin1StringView(o.shortName), QLatin1StringView(o.name))
                            : QStringLiteral("--%1").arg(QLatin1StringView(o.name));
        if (*o.value) {
            names += u' ' + QString::fromUtf8(o.value);
        }
        text += QStringLiteral("  %1\n        %2\n").arg(names, QString::fromUtf8(o.help));
    }
    return text;
}

ParsedOptions ParseWindowOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    for (const OptionText& o : kOptions) {
        QStringList names{QString::fromLatin1(o.name)};
        if (*o.shortName) {
            names.prepend(QString::fromLatin1(o.shortName));
        }
        parser.addOption(
            QCommandLineOption(names, QString::fromUtf8(o.help), QString::fromUtf8(o.value)));
    }
    // The command line is read before the GUI exists, so Qt's own window-system options
    // (-platform offscreen, -style ...) are still in it: accept them silently and leave them to
    // the QApplication that follows.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style", "stylesheet"}) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("VALUE")));
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    }

    ParsedOptions parsed;
    try {
        base::Parse(parser, arguments);
        if (parser.isSet(QStringLiteral("help"))) {
            parsed.outcome = OptionsOutcome::Help;
            parsed.text = WindowHelpText();
            return parsed;
        }
        if (parser.isSet(QStringLiteral("version"))) {
            parsed.outcome = OptionsOutcome::Version;
            parsed.text = QCoreApplication::applicationName() + u' ' +
                          QCoreApplication::applicationVersion() + u'\n';
            return parsed;
        }
        WindowOptions& options = parsed.options;
        if (parser.isSet(QStringLiteral("log"))) {
            options.logPath = parser.value(QStringLiteral("log"));
            if (options.logPath.isEmpty()) {
                throw base::UsageError(base::usage::MissingValue(QStringLiteral("log")));
            }
        }
        if (parser.isSet(QStringLiteral("stow"))) {
            const QString text = parser.value(QStringLiteral("stow"));
            options.stow = ParseStow(text.toStdString());
            if (!options.stow) {
                throw base::UsageError(base::usage::BadValue(
                    QStringLiteral("stow"), text,
                    QStringLiteral(" 方位角,仰角（0～360 と -90～90 の数）")));
            }
        }
        if (parser.isSet(QStringLiteral("reply-timeout"))) {
            // A thousandth of a second is below any sensible wait, a day far beyond it.
            options.replyTimeoutSeconds = base::ReadNumber(
                QStringLiteral("reply-timeout"), parser.value(QStringLiteral("reply-timeout")),
                0.001, 86400, QStringLiteral("（秒）"));
        }
        if (parser.isSet(QStringLiteral("pointing"))) {
            const QString mode = parser.value(QStringLiteral("pointing"));
            if (mode == QStringLiteral("mean")) {
                options.pointing = cycle::Pointing::Mean;
            } else if (mode == QStringLiteral("exact")) {
                options.pointing = cycle::Pointing::Exact;
            } else {
                throw base::UsageError(base::usage::BadValue(QStringLiteral("pointing"), mode,
                                                             QStringLiteral(" mean か exact ")));
            }
        }
        options.replyFromAnyPort = parser.isSet(QStringLiteral("reply-from-any-port"));
        if (parser.isSet(QStringLiteral("beam-alarm"))) {
            options.beamAlarmDegrees = base::ReadNumber(QStringLiteral("beam-alarm"),
                                                        parser.value(QStringLiteral("beam-alarm")),
                                                        0, 180, QStringLiteral("（度）"));
        }
    } catch (const base::UsageError& error) {
        parsed.outcome = OptionsOutcome::UsageError;
        parsed.text = error.message();
    }
    return parsed;
}

}  // namespace heliostat::ui
