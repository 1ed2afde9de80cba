#include "ui/japanese_qt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace heliostat::ui {

namespace {

// The few texts of QCommandLineParser that Debian's catalogue leaves in English.
class CommandLineTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "QCommandLineParser") != 0) {
            return {};
        }
        const QLatin1StringView source(sourceText);
        if (source == QLatin1StringView("Displays help on commandline options.")) {
            return QStringLiteral("オプションの説明を表示する。");
        }
        if (source == QLatin1StringView("Displays help including Qt specific options.")) {
            return QStringLiteral("Qt 共通のオプションも含めて説明を表示する。");
        }
        return {};
    }
};

}  // namespace

bool InstallJapaneseQtTexts(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(new CommandLineTexts(&app));
    return QCoreApplication::installTranslator(translator);
}

}  // namespace heliostat::ui
