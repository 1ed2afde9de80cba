#include "ui/operator_text.h"

#include <QDate>
#include <QTime>

#include "base/number_text.h"
#include "link/wire.h"

namespace heliostat::ui {

std::optional<base::AzEl> ParseStow(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const auto azimuth = base::ParseStrict(text.substr(0, comma));
    const auto elevation = base::ParseStrict(text.substr(comma + 1));
    // The comparisons are false for NaN, so a non-finite value never passes.
    if (!azimuth || !elevation || !(*azimuth >= 0 && *azimuth <= 360) ||
        !(*elevation >= -90 && *elevation <= 90)) {
        return std::nullopt;
    }
    return base::AzEl{*azimuth, *elevation};
}

QColor HealthTint(link::LinkHealth health) {
    switch (health) {
        case link::LinkHealth::Silent:
        case link::LinkHealth::Refused:
        case link::LinkHealth::Parked:
            return QColor(255, 150, 150);
        case link::LinkHealth::Moving:
        case link::LinkHealth::Waiting:
            return QColor(255, 235, 110);
        case link::LinkHealth::OnTarget:
            return QColor(150, 230, 150);
        case link::LinkHealth::Stopped:
            break;
    }
    return {};
}

QString JapaneseClockText(const base::JstDateTime& jst) {
    return QStringLiteral("%1/%2/%3 %4:%5:%6")
        .arg(jst.year, 4, 10, QLatin1Char('0'))
        .arg(jst.month, 2, 10, QLatin1Char('0'))
        .arg(jst.day, 2, 10, QLatin1Char('0'))
        .arg(jst.hour)
        .arg(jst.minute, 2, 10, QLatin1Char('0'))
        .arg(jst.second, 2, 10, QLatin1Char('0'));
}

namespace {

enum class Script { Blank, Open, Close, Kanji, Hiragana, Katakana, Latin, Other };

Script ScriptOf(QChar c) {
    const char16_t u = c.unicode();
    if (c.isSpace()) {
        return Script::Blank;
    }
    if (u == u'（' || u == u'「' || u == u'『' || u == u'(' || u == u'[') {
        return Script::Open;
    }
    if (u == u'）' || u == u'」' || u == u'』' || u == u'、' || u == u'。' || u == u')' ||
        u == u']' || u == u',' || u == u'.' || u == u'：' || u == u':') {
        return Script::Close;
    }
    if (u >= 0x3041 && u <= 0x309f) {
        return Script::Hiragana;
    }
    if ((u >= 0x30a0 && u <= 0x30ff) || u == 0x30fc) {
        return Script::Katakana;
    }
    if ((u >= 0x4e00 && u <= 0x9fff) || u == 0x3005) {
        return Script::Kanji;
    }
    if (u < 0x80) {
        return Script::Latin;
    }
    return Script::Other;
}

// Whether a line may end between `before` and `after` without cutting a word.
bool WordBreak(QChar before, QChar after) {
    const Script a = ScriptOf(before);
    const Script b = ScriptOf(after);
    if (b == Script::Close || a == Script::Open) {
        return false;  // punctuation stays with what it closes or opens
    }
    if (a == Script::Blank || a == Script::Close || b == Script::Open) {
        return true;
    }
    if (a == b) {
        return false;
    }
    // Kanji followed by kana is one word ("見つかり"); the other changes start a new one.
    return !(a == Script::Kanji && b == Script::Hiragana);
}

// The last place after `start` and at most `end` where a line may end without cutting a word;
// `end` itself when there is none.
qsizetype LastWordBreak(const QString& text, qsizetype start, qsizetype end) {
    for (qsizetype i = end; i > start; --i) {
        if (WordBreak(text.at(i - 1), text.at(i))) {
            return i;
        }
    }
    return end;
}

}  // namespace

QStringList WrapText(const QString& text, const std::function<double(const QString&)>& width,
                     double maxWidth, int maxLines) {
    QStringList lines;
    const QString ellipsis = QStringLiteral("…");
    qsizetype start = 0;
    while (start < text.size() && static_cast<int>(lines.size()) < maxLines) {
        // The longest piece from `start` that fits, whole characters only.
        qsizetype end = start;
        while (end < text.size()) {
            qsizetype next = end + (text.at(end).isHighSurrogate() ? 2 : 1);
            if (width(text.mid(start, next - start)) > maxWidth && end > start) {
                break;
            }
            end = next;
        }
        const bool last = static_cast<int>(lines.size()) + 1 == maxLines;
        if (end >= text.size()) {
            lines << text.mid(start).trimmed();
            break;
        }
        if (last) {
            qsizetype cut = end;
            while (cut > start && width(text.mid(start, cut - start) + ellipsis) > maxWidth) {
                --cut;
            }
            cut = LastWordBreak(text, start, cut);
            lines << text.mid(start, cut - start).trimmed() + ellipsis;
            break;
        }
        const qsizetype breakAt = LastWordBreak(text, start, end);
        lines << text.mid(start, breakAt - start).trimmed();
        start = breakAt;
        while (start < text.size() && text.at(start).isSpace()) {
            ++start;
        }
    }
    return lines;
}

}  // namespace heliostat::ui
