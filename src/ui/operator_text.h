#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string_view>

#include "base/angles.h"
#include "base/jst_clock.h"
#include "link/link_health.h"
#include "link/wire.h"

namespace heliostat::ui {

// "AZ,EL" of --stow: two numbers by the strict rule, azimuth 0 to 360 and elevation -90 to 90.
std::optional<base::AzEl> ParseStow(std::string_view text);

using link::StowPayload;

// The 現在 fields' background for a link health: red, yellow or green; invalid (the normal
// background) when stopped.
QColor HealthTint(link::LinkHealth health);

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
