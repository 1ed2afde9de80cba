#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string_view>

#include "base/jst_clock.h"

namespace heliostat::ui {

// Where --stow puts the mirror, degrees.
struct StowPosition {
    double azimuth = 0;
    double elevation = 0;
};

// "AZ,EL": two numbers by the strict rule, azimuth 0 to 360 and elevation -90 to 90.
std::optional<StowPosition> ParseStow(std::string_view text);

// The stow command, formatted exactly like a mirror command ("0,180.00,.00").
std::string StowPayload(const StowPosition& stow);

// The clock label's text in the Japanese form "2026/12/08 1:36:22", whatever the locale.
QString JapaneseClockText(const base::JstDateTime& jst);

// Breaks `text` into at most `maxLines` lines no wider than `maxWidth` as `width` measures
// them. Breaks go after blanks and closing punctuation, before opening brackets and where the
// script changes in a way that starts a new Japanese word (kana to kanji, into or out of
// katakana or Latin text); only a run with no such place is broken between characters. What
// does not fit in the last line is cut with "…".
QStringList WrapText(const QString& text, const std::function<double(const QString&)>& width,
                     double maxWidth, int maxLines);

}  // namespace heliostat::ui
