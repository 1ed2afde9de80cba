#include "ui/window_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "base/number_text.h"

namespace heliostat::ui {

ParsedOptions ParseWindowOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("太陽軌道・反射鏡角度計算（heliostat）：太陽を追って反射鏡の角度を"
                       "アンテナコントローラへ送ります。"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("送信と受信を CSV の記録 (session log) として FILE に追記する"),
        QStringLiteral("FILE"));
    const QCommandLineOption stow(
        QStringLiteral("stow"),
        QStringLiteral("計算停止と終了のとき反射鏡を方位角 AZ・仰角 EL へ退避 (stow) させる"),
        QStringLiteral("AZ,EL"));
    const QCommandLineOption timeout(
        QStringLiteral("reply-timeout"),
        QStringLiteral("この秒数応答がなければ応答なし (silent) とする（既定 3）"),
        QStringLiteral("SECONDS"));
    const QCommandLineOption pointing(
        QStringLiteral("pointing"),
        QStringLiteral("反射鏡の向けかた (pointing)：mean（既定）または exact（精密）"),
        QStringLiteral("MODE"));
    parser.addOptions({log, stow, timeout, pointing});
    // The command line is read before the GUI exists, so Qt's own window-system options
    // (-platform offscreen, -style ...) are still in it: accept them silently and leave them to
    // the QApplication that follows.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style", "stylesheet"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("VALUE"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    ParsedOptions parsed;
    const auto usage = [&parsed](const QString& message) {
        parsed.outcome = OptionsOutcome::UsageError;
        parsed.text = message;
        return parsed;
    };
    if (!parser.parse(arguments)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(help)) {
        parsed.outcome = OptionsOutcome::Help;
        parsed.text = parser.helpText();
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.outcome = OptionsOutcome::Version;
        parsed.text = QCoreApplication::applicationName() + u' ' +
                      QCoreApplication::applicationVersion() + u'\n';
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usage(
            QStringLiteral("余分な引数です: %1").arg(parser.positionalArguments().join(u' ')));
    }
    WindowOptions& options = parsed.options;
    if (parser.isSet(log)) {
        options.logPath = parser.value(log);
        if (options.logPath.isEmpty()) {
            return usage(QStringLiteral("--log にはファイル名が要ります"));
        }
    }
    if (parser.isSet(stow)) {
        options.stow = ParseStow(parser.value(stow).toStdString());
        if (!options.stow) {
            return usage(
                QStringLiteral("--stow「%1」は 方位角,仰角（0～360, -90～90）ではありません")
                    .arg(parser.value(stow)));
        }
    }
    if (parser.isSet(timeout)) {
        const auto seconds = base::ParseStrict(parser.value(timeout).toStdString());
        // The comparison is false for NaN; a day is far beyond any sensible wait.
        if (!seconds || !(*seconds > 0 && *seconds <= 86400)) {
            return usage(QStringLiteral("--reply-timeout「%1」は正の秒数ではありません")
                             .arg(parser.value(timeout)));
        }
        options.replyTimeoutSeconds = *seconds;
    }
    if (parser.isSet(pointing)) {
        const QString mode = parser.value(pointing);
        if (mode == QStringLiteral("mean")) {
            options.pointing = cycle::Pointing::Mean;
        } else if (mode == QStringLiteral("exact")) {
            options.pointing = cycle::Pointing::Exact;
        } else {
            return usage(QStringLiteral("--pointing「%1」は mean か exact で指定します").arg(mode));
        }
    }
    return parsed;
}

}  // namespace heliostat::ui
