#include "base/command_line.h"

#include <cmath>

namespace heliostat::base {

UsageError::UsageError(const QString& message) : std::runtime_error(message.toStdString()) {}

namespace usage {
QString UnknownOption(const QString& nameWithDashes) {
    return QStringLiteral("不明なオプションです: %1").arg(nameWithDashes);
}
QString MissingValue(const QString& option) {
    return QStringLiteral("--%1 に値がありません").arg(option);
}
QString UnexpectedValue(const QString& option) {
    return QStringLiteral("--%1 は値を取りません").arg(option);
}
QString ExtraArgument(const QString& text) {
    return QStringLiteral("余分な引数です: %1").arg(text);
}
QString UnknownCommand(const QString& text) {
    return QStringLiteral("不明なサブコマンドです: %1").arg(text);
}
QString Required(const QString& what) {
    return QStringLiteral("%1 が必要です").arg(what);
}
QString Conflict(const QString& first, const QString& second) {
    return QStringLiteral("%1 と %2 は同時に使えません").arg(first, second);
}
QString BadValue(const QString& option, const QString& text, const QString& expected) {
    return QStringLiteral("--%1「%2」は%3ではありません").arg(option, text, expected);
}
QString SeeHelp(const QString& program) {
    return QStringLiteral("'%1 --help' で使い方を表示します。\n").arg(program);
}
QString Report(const QString& program, const QString& message) {
    return QStringLiteral("%1: %2\n").arg(program, message) + SeeHelp(program);
}
}  // namespace usage

namespace {

// The option named by an argument such as "--log", "-log" or "--log=x", without dashes.
QString OptionName(const QString& argument) {
    QString name = argument;
    while (name.startsWith(u'-')) {
        name.remove(0, 1);
    }
    const qsizetype equals = name.indexOf(u'=');
    return equals < 0 ? name : name.left(equals);
}

}  // namespace

void Parse(QCommandLineParser& parser, const QStringList& arguments, bool allowPositional) {
    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().first();
            throw UsageError(usage::UnknownOption((name.size() > 1 ? "--" : "-") + name));
        }
        // QCommandLineParser's other failures are a switch given a value and an option that
        // wants a value at the end of the line.
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            const QString& argument = arguments[i];
            if (argument == QStringLiteral("--")) {
                break;
            }
            if (argument.startsWith(u'-') && argument.contains(u'=')) {
                throw UsageError(usage::UnexpectedValue(OptionName(argument)));
            }
        }
        if (arguments.size() > 1) {
            throw UsageError(usage::MissingValue(OptionName(arguments.last())));
        }
        throw UsageError(parser.errorText());
    }
    if (!allowPositional && !parser.positionalArguments().isEmpty()) {
        throw UsageError(usage::ExtraArgument(parser.positionalArguments().first()));
    }
}

namespace {

// The mistake of a number outside [min, max] or no number at all; `kind` is 数 or 整数.
UsageError OutOfRange(const QString& option, const QString& text, const QString& min,
                      const QString& max, const char* kind, const QString& unit) {
    return UsageError(usage::BadValue(
        option, text,
        QStringLiteral(" %1～%2 の%3%4").arg(min, max, QString::fromUtf8(kind), unit)));
}

}  // namespace

double ReadNumber(const QString& option, const QString& text, double min, double max,
                  const QString& unit) {
    // The whole text must be a decimal number; Qt's reader takes no leading or trailing space,
    // hex or thousands separators in the C locale.
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < min || value > max) {
        throw OutOfRange(option, text, QString::number(min), QString::number(max), "数", unit);
    }
    return value;
}

long long ReadInteger(const QString& option, const QString& text, long long min, long long max,
                      const QString& unit) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < min || value > max) {
        throw OutOfRange(option, text, QString::number(min), QString::number(max), "整数", unit);
    }
    return value;
}

}  // namespace heliostat::base
