#include "timeline.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "base/csv_writer.h"
#include "link/link_health.h"
#include "link/wire.h"

namespace heliostat::report {

namespace {

// The datagram column's escapes (\\, \r, \n, \t, \xHH) undone.
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') {
            out += '\r';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'x' && i + 2 < text.size()) {
            unsigned value = 0;
            const auto [end, ec] =
                std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
            if (ec == std::errc{} && end == text.data() + i + 3) {
                out += static_cast<char>(value);
                i += 2;
            } else {
                out += "\\x";
            }
        } else {
            out += c;
        }
    }
    return out;
}

// Fields 2 and 3 of a comma-separated datagram (the angles of a command or a reply).
bool AngleFields(std::string_view payload, std::string& azimuth, std::string& elevation) {
    const std::size_t first = payload.find(',');
    if (first == std::string_view::npos) {
        return false;
    }
    const std::size_t second = payload.find(',', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    const std::size_t third = std::min(payload.find(',', second + 1), payload.size());
    azimuth.assign(payload.substr(first + 1, second - first - 1));
    elevation.assign(payload.substr(second + 1, third - second - 1));
    return true;
}

// A number with blanks and line breaks around it, as the window accepts reply fields.
std::optional<double> Number(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                             text.front() == '\n' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

long long CountValue(std::string_view text) {
    long long count = 0;
    bool any = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            count = count * 10 + (c - '0');
            any = true;
        } else if (c != ',') {
            break;
        }
    }
    return any ? count : 1;
}

class Builder {
public:
    explicit Builder(Timeline& out) : out_(out) {}

    void Window(const WindowRow& row) {
        const Millis t = row.time;
        out_.windowTimes.push_back(t);
        if (transitions_.empty()) {
            transitions_.push_back({t, LinkState::Stopped});
        }
        const std::string_view event = row.event;
        if (event == "start") {
            Start(t);
            if (const auto alarm = DetailValue(row.detail, "beam_alarm")) {
                if (const auto value = Number(*alarm)) {
                    out_.beamThreshold = *value;
                }
            }
        } else if (event == "stop" || event == "exit") {
            CloseOutage(t);
            running_ = false;
            Set(t, LinkState::Stopped);
        } else if (event == "command" || event == "stow") {
            // A stow the system refused to send carries the refusal as its detail.
            if (event == "command" || row.detail.empty()) {
                out_.commandCounts.push_back({t, 1});
            }
            if (!running_) {
                Start(t);
            }
            if (AngleFields(Unescape(row.datagram), commandAz_, commandEl_)) {
                haveCommand_ = true;
                const auto az = Number(commandAz_), el = Number(commandEl_);
                if (az && el) {
                    out_.commands.push_back({t, *az, *el});
                }
            }
            if (event == "stow") {
                out_.marks.push_back({t, MarkKind::Stow, row.datagram});
            }
            Track(t);
        } else if (event == "reply") {
            Reply(t, row);
        } else if (event == "invalid-reply") {
            out_.invalidCounts.push_back({t, 1});
        } else if (event == "silent" || event == "limit" || event == "parked") {
            Silence(t, event, row.detail);
        } else if (event == "recovered") {
            CloseOutage(t);
            Track(t);
        } else if (event == "failure") {
            out_.marks.push_back({t, MarkKind::Failure, row.detail});
        } else if (event == "clock") {
            out_.marks.push_back({t, MarkKind::Clock, row.detail});
        } else if (event == "beam-alarm" || event == "beam-ok") {
            if (const auto threshold = DetailValue(row.detail, "threshold")) {
                if (const auto value = Number(*threshold)) {
                    out_.beamThreshold = *value;
                }
            }
            if (event == "beam-alarm") {
                out_.marks.push_back({t, MarkKind::BeamAlarm, row.detail});
            }
        } else if (event == "lost") {
            const auto count = DetailValue(row.detail, "count");
            out_.lostCounts.push_back({t, count ? CountValue(*count) : 1});
            out_.marks.push_back({t, MarkKind::Lost, row.detail});
        } else if (event == "folded") {
            const auto kind = DetailValue(row.detail, "kind");
            const auto count = DetailValue(row.detail, "count");
            const Counted counted{t, count ? CountValue(*count) : 1};
            if (kind == "command") {
                out_.commandCounts.push_back(counted);
            } else if (kind == "reply") {
                out_.replyCounts.push_back(counted);
            } else if (kind == "invalid-reply") {
                out_.invalidCounts.push_back(counted);
            }
        }
        // Events this reader does not know (a newer window's) change nothing.
    }

    void Finish() {
        if (transitions_.empty()) {
            return;
        }
        const Millis last = out_.windowTimes.back();
        if (outage_) {
            outage_->span.end = last;
            outage_->open = true;
            out_.outages.push_back(*outage_);
        }
        for (std::size_t i = 0; i < transitions_.size(); ++i) {
            const Millis end = i + 1 < transitions_.size() ? transitions_[i + 1].time : last;
            if (end > transitions_[i].time) {
                out_.states.push_back({{transitions_[i].time, end}, transitions_[i].state});
            }
        }
    }

private:
    struct Transition {
        Millis time;
        LinkState state;
    };

    void Set(Millis t, LinkState state) {
        if (transitions_.back().state == state) {
            return;
        }
        if (transitions_.back().time == t) {
            transitions_.pop_back();
            if (!transitions_.empty() && transitions_.back().state == state) {
                return;
            }
        }
        transitions_.push_back({t, state});
    }

    void Start(Millis t) {
        CloseOutage(t);
        running_ = true;
        runStart_ = t;
        lastValidReply_.reset();
        haveCommand_ = haveReply_ = false;
        Set(t, LinkState::Moving);
    }

    void Reply(Millis t, const WindowRow& row) {
        std::string az, el;
        const std::string payload = Unescape(row.datagram);
        // Today's window records every arrival as a reply and an invalid one once more as
        // invalid-reply; only replies the window would show count here.
        if (payload.empty() || !AngleFields(payload, az, el) || !link::IsValidReplyField(az) ||
            !link::IsValidReplyField(el)) {
            return;
        }
        out_.replyCounts.push_back({t, 1});
        const auto azimuth = Number(az), elevation = Number(el);
        if (azimuth && elevation) {
            out_.replies.push_back({t, *azimuth, *elevation});
        }
        if (const auto beam = DetailValue(row.detail, "beam_error")) {
            if (const auto value = Number(*beam)) {
                out_.beamErrors.push_back({t, *value});
            }
        }
        if (!running_) {
            return;  // a late reply after the stop
        }
        replyAz_ = std::move(az);
        replyEl_ = std::move(el);
        haveReply_ = true;
        lastValidReply_ = t;
        Track(t);
    }

    void Silence(Millis t, std::string_view event, const std::string& detail) {
        if (!running_ || outage_) {
            return;
        }
        // The window says so only after its reply timeout; the link has been silent since the
        // last valid reply of this run (or since the start, when none came).
        Millis start = t;
        std::string reason = detail;
        if (event == "silent") {
            start = lastValidReply_.value_or(runStart_);
            if (reason.empty()) {
                reason = "コントローラから応答なし";
            }
        } else if (event == "limit") {
            reason = reason.empty() ? "回転器の範囲外" : "回転器の範囲外: " + reason;
        } else {
            reason = reason.empty() ? "反射鏡の退避" : "反射鏡の退避: " + reason;
        }
        outage_ = Outage{{start, t}, reason, false};
        while (transitions_.size() > 1 && transitions_.back().time > start) {
            transitions_.pop_back();
        }
        if (transitions_.back().time > start) {
            transitions_.back().time = start;
        }
        Set(start, LinkState::Silent);
    }

    void CloseOutage(Millis t) {
        if (outage_) {
            outage_->span.end = t;
            out_.outages.push_back(*outage_);
            outage_.reset();
        }
    }

    void Track(Millis t) {
        if (!running_ || outage_) {
            return;
        }
        const bool agree = haveCommand_ && haveReply_ &&
                           link::AnglesAgree(commandAz_, commandEl_, replyAz_, replyEl_);
        Set(t, agree ? LinkState::OnTarget : LinkState::Moving);
    }

    Timeline& out_;
    std::vector<Transition> transitions_;
    bool running_ = false;
    Millis runStart_ = 0;
    std::optional<Millis> lastValidReply_;
    std::optional<Outage> outage_;
    bool haveCommand_ = false, haveReply_ = false;
    std::string commandAz_, commandEl_, replyAz_, replyEl_;
};

long long CountIn(const std::vector<Counted>& counts, Span range) {
    long long total = 0;
    for (const Counted& c : counts) {
        if (c.time >= range.start && c.time <= range.end) {
            total += c.count;
        }
    }
    return total;
}

std::optional<Span> Clip(Span span, Span range) {
    const Span clipped{std::max(span.start, range.start), std::min(span.end, range.end)};
    if (clipped.end < clipped.start || (clipped.end == clipped.start && span.end > span.start)) {
        return std::nullopt;
    }
    return clipped;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

Timeline BuildTimeline(std::vector<WindowRow> window,
                       const std::vector<ControllerRow>& controller) {
    std::stable_sort(window.begin(), window.end(),
                     [](const WindowRow& a, const WindowRow& b) { return a.time < b.time; });
    Timeline out;
    Builder builder(out);
    for (const WindowRow& row : window) {
        builder.Window(row);
    }
    builder.Finish();

    for (const ControllerRow& row : controller) {
        if (row.note.rfind("rejected", 0) == 0) {
            // "rejected: 1,204 more datagrams in that second, not recorded" counts them all.
            const std::size_t colon = row.note.find(": ");
            const std::string_view rest = colon == std::string::npos
                                              ? std::string_view{}
                                              : std::string_view(row.note).substr(colon + 2);
            const bool more = rest.find(" more datagrams") != std::string_view::npos;
            out.controllerRejected.push_back({row.time, more ? CountValue(rest) : 1});
            continue;
        }
        // Rows that stand for others: commands accepted beyond the record's rate, and rows
        // the controller could not write.
        const auto countAfter = [&row](std::string_view prefix, std::string_view what) {
            return row.note.rfind(prefix, 0) == 0 && row.note.find(what) != std::string::npos
                       ? CountValue(std::string_view(row.note).substr(prefix.size()))
                       : 0;
        };
        if (const long long more = countAfter("accepted: ", " more commands")) {
            out.controllerCommands.push_back({row.time, more});
        }
        if (const long long lost = countAfter("log: ", " could not be written")) {
            out.lostCounts.push_back({row.time, lost});
            out.marks.push_back({row.time, MarkKind::Lost, row.note});
        }
        if (!row.command.empty()) {
            out.controllerCommands.push_back({row.time, 1});
        }
        std::string az, el;
        if (AngleFields(row.position, az, el)) {
            const auto azimuth = Number(az), elevation = Number(el);
            if (azimuth && elevation) {
                out.controllerPositions.push_back({row.time, *azimuth, *elevation});
            }
        }
    }
    std::stable_sort(out.controllerPositions.begin(), out.controllerPositions.end(),
                     [](const AngleSample& a, const AngleSample& b) { return a.time < b.time; });
    return out;
}

std::optional<double> Summary::OnTargetShare() const {
    if (running <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(onTarget) / static_cast<double>(running);
}

Summary Summarise(const Timeline& timeline, std::optional<Span> range) {
    Summary s;
    const Span all =
        range.value_or(timeline.windowTimes.empty()
                           ? Span{}
                           : Span{timeline.windowTimes.front(), timeline.windowTimes.back()});
    const auto first =
        std::lower_bound(timeline.windowTimes.begin(), timeline.windowTimes.end(), all.start);
    const auto last =
        std::upper_bound(timeline.windowTimes.begin(), timeline.windowTimes.end(), all.end);
    if (first != last) {
        s.span = Span{*first, *(last - 1)};
    }
    s.commands = CountIn(timeline.commandCounts, all);
    s.replies = CountIn(timeline.replyCounts, all);
    s.invalidReplies = CountIn(timeline.invalidCounts, all);
    s.recordsLost = CountIn(timeline.lostCounts, all);
    // The controller's clock and the window's need not agree to the millisecond, and its last
    // rows may come after the window's last: without a range, all of them count.
    const Span controllerRange = range.value_or(
        Span{std::numeric_limits<Millis>::min(), std::numeric_limits<Millis>::max()});
    s.controllerCommands = CountIn(timeline.controllerCommands, controllerRange);
    s.controllerRejected = CountIn(timeline.controllerRejected, controllerRange);
    for (const StateSpan& state : timeline.states) {
        if (const auto part = Clip(state.span, all)) {
            if (state.state != LinkState::Stopped) {
                s.running += part->Length();
            }
            if (state.state == LinkState::OnTarget) {
                s.onTarget += part->Length();
            }
        }
    }
    for (const Outage& outage : timeline.outages) {
        if (const auto part = Clip(outage.span, all)) {
            Outage clipped = outage;
            clipped.span = *part;
            s.outages.push_back(clipped);
        }
    }
    std::sort(s.outages.begin(), s.outages.end(),
              [](const Outage& a, const Outage& b) { return a.span.start < b.span.start; });
    std::vector<double> beam;
    for (const ValueSample& sample : timeline.beamErrors) {
        if (sample.time >= all.start && sample.time <= all.end) {
            beam.push_back(sample.value);
        }
    }
    if (!beam.empty()) {
        std::sort(beam.begin(), beam.end());
        const std::size_t n = beam.size();
        s.beamMedian = n % 2 == 1 ? beam[n / 2] : (beam[n / 2 - 1] + beam[n / 2]) / 2;
        // Nearest rank: the smallest value that at least 95 % of the values do not exceed.
        const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
        s.beamP95 = beam[std::max<std::size_t>(rank, 1) - 1];
        s.beamMax = beam.back();
    }
    return s;
}

std::string DurationText(Millis length) {
    const Millis hours = length / 3600000;
    const Millis minutes = length / 60000 % 60;
    const std::string seconds = Fixed(static_cast<double>(length % 60000) / 1000.0, 3) + " 秒";
    if (hours > 0) {
        return std::to_string(hours) + " 時間 " + std::to_string(minutes) + " 分 " + seconds;
    }
    if (minutes > 0) {
        return std::to_string(minutes) + " 分 " + seconds;
    }
    return seconds;
}

const char* StateName(LinkState state) {
    switch (state) {
        case LinkState::Stopped:
            return "停止中";
        case LinkState::Silent:
            return "途絶";
        case LinkState::Moving:
            return "移動中";
        case LinkState::OnTarget:
            return "目標上";
    }
    return "";
}

std::string SummaryText(const Summary& s) {
    std::string text;
    if (s.span) {
        text += "期間: " + JstText(s.span->start) + " ～ " + JstText(s.span->end) + "（" +
                DurationText(s.span->Length()) + "）\n";
    } else {
        text += "期間: 記録なし\n";
    }
    text += "コマンド: " + std::to_string(s.commands) + "\n";
    text += "有効な応答: " + std::to_string(s.replies) + "\n";
    text += "無効な応答: " + std::to_string(s.invalidReplies) + "\n";
    const auto share = s.OnTargetShare();
    text += "目標上の時間: " +
            (share ? Fixed(*share * 100, 1) + " %（運転中 " + DurationText(s.running) + " のうち " +
                         DurationText(s.onTarget) + "）"
                   : std::string("運転なし")) +
            "\n";
    text += "途絶: " + std::to_string(s.outages.size()) + " 回\n";
    for (const Outage& o : s.outages) {
        text += "  " + JstText(o.span.start) + " ～ " + JstText(o.span.end) + "  " +
                DurationText(o.span.Length()) + "  " + o.reason +
                (o.open ? "（記録の終わりまで）" : "") + "\n";
    }
    if (s.beamMedian) {
        text += "ビーム誤差: 中央値 " + Fixed(*s.beamMedian, 4) + "°、95 パーセンタイル " +
                Fixed(*s.beamP95, 4) + "°、最大 " + Fixed(*s.beamMax, 4) + "°\n";
    } else {
        text += "ビーム誤差: 記録なし\n";
    }
    text += "失われた記録: " + std::to_string(s.recordsLost) + "\n";
    text += "読めない行: " + std::to_string(s.malformedLines) + "（途中で切れた最後の行 " +
            std::to_string(s.truncatedLines) + "）\n";
    if (s.controllerCommands >= 0) {
        text += "コントローラが受けたコマンド: " + std::to_string(s.controllerCommands) +
                "（拒否 " + std::to_string(s.controllerRejected) + "）\n";
    }
    return text;
}

std::string SummaryCsv(const Summary& s) {
    std::string csv = "item,value,start,end,reason\r\n";
    const auto row = [&csv](std::string_view item, const std::string& value,
                            const std::string& start = {}, const std::string& end = {},
                            std::string_view reason = {}) {
        csv += std::string(item) + ',' + value + ',' + start + ',' + end + ',' +
               base::CsvField(reason) + "\r\n";
    };
    if (s.span) {
        row("span", Fixed(static_cast<double>(s.span->Length()) / 1000.0, 3),
            JstIsoText(s.span->start), JstIsoText(s.span->end));
    } else {
        row("span", "");
    }
    row("commands", std::to_string(s.commands));
    row("replies", std::to_string(s.replies));
    row("invalid_replies", std::to_string(s.invalidReplies));
    row("running_seconds", Fixed(static_cast<double>(s.running) / 1000.0, 3));
    row("on_target_seconds", Fixed(static_cast<double>(s.onTarget) / 1000.0, 3));
    const auto share = s.OnTargetShare();
    row("on_target_percent", share ? Fixed(*share * 100, 2) : std::string());
    row("outages", std::to_string(s.outages.size()));
    for (const Outage& o : s.outages) {
        row(o.open ? "outage_open" : "outage",
            Fixed(static_cast<double>(o.span.Length()) / 1000.0, 3), JstIsoText(o.span.start),
            JstIsoText(o.span.end), o.reason);
    }
    const auto optional = [](const std::optional<double>& v) {
        return v ? Fixed(*v, 4) : std::string();
    };
    row("beam_error_median", optional(s.beamMedian));
    row("beam_error_p95", optional(s.beamP95));
    row("beam_error_max", optional(s.beamMax));
    row("records_lost", std::to_string(s.recordsLost));
    row("malformed_lines", std::to_string(s.malformedLines));
    row("truncated_lines", std::to_string(s.truncatedLines));
    if (s.controllerCommands >= 0) {
        row("controller_commands", std::to_string(s.controllerCommands));
        row("controller_rejected", std::to_string(s.controllerRejected));
    }
    return csv;
}

}  // namespace heliostat::report
