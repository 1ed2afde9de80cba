#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <stdexcept>

// The command-line vocabulary every program shares: one result type, and each mistake worded
// once, in Japanese.
namespace heliostat::base {

enum class CommandLineOutcome { Run, Help, Version, UsageError };

// What a program's parser returns: the options to run with, or the text to print (help,
// version, or the usage error's message) and how to end.
template <class Options>
struct CommandLine {
    CommandLineOutcome outcome = CommandLineOutcome::Run;
    Options options{};
    QString text;
};

// Thrown by the option readers below and by a program's own checks; caught once, where the
// program's parser turns it into a CommandLine with CommandLineOutcome::UsageError.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// The one wording of each mistake. `option` is the long name without dashes.
namespace usage {
QString UnknownOption(const QString& nameWithDashes);  // 不明なオプションです: --bogus
QString MissingValue(const QString& option);           // --log に値がありません
QString UnexpectedValue(const QString& option);        // --verbose は値を取りません
QString ExtraArgument(const QString& text);            // 余分な引数です: x
QString UnknownCommand(const QString& text);           // 不明なサブコマンドです: x
QString Required(const QString& what);                 // --from が必要です
QString Conflict(const QString& first, const QString& second);  // --a と --b は同時に使えません
// --step「0」は 1～31622400 の整数秒ではありません
QString BadValue(const QString& option, const QString& text, const QString& expected);
// What every program prints on stderr for a usage error: the message after the program's name,
// then where to read the usage.
QString Report(const QString& program, const QString& message);
// The second line of that alone, for a mistake found after the command line was read.
QString SeeHelp(const QString& program);
}  // namespace usage

// Runs the parser; throws UsageError worded as above for an unknown option, a missing value,
// a switch given a value or (unless positionals are allowed) a stray argument.
void Parse(QCommandLineParser& parser, const QStringList& arguments, bool allowPositional = false);

// Strict number readers for option values; a text that is not a number, or a number outside
// [min, max], throws UsageError naming the option, the text and both bounds.
double ReadNumber(const QString& option, const QString& text, double min, double max,
                  const QString& unit = QString());
long long ReadInteger(const QString& option, const QString& text, long long min, long long max,
                      const QString& unit = QString());

}  // namespace heliostat::base
