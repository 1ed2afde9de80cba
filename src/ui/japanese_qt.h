#pragma once

class QCoreApplication;

namespace heliostat::ui {

// Loads Qt's own Japanese texts (the message boxes' buttons, the line edits' context menus)
// from Debian's Qt translations, whatever the system locale. Returns false when the catalogue
// is not installed; the texts then stay English.
bool InstallJapaneseQtTexts(QCoreApplication& app);

}  // namespace heliostat::ui
