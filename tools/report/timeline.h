#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records.h"

// What the records say happened, on one time line: the link's state from moment to moment,
// the outages, the angles commanded and reported, the beam error, and the counts a summary
// gives for any stretch of it.
namespace heliostat::report {

enum class LinkState { Stopped, Silent, Moving, OnTarget };

struct Span {
    Millis start = 0;
    Millis end = 0;
    Millis Length() const { return end - start; }
};

struct StateSpan {
    Span span;
    LinkState state = LinkState::Stopped;
};

struct Outage {
    Span span;
    std::string reason;
    bool open = false;  // still silent when the record ends
};

struct AngleSample {
    Millis time = 0;
    double azimuth = 0;
    double elevation = 0;
};

struct ValueSample {
    Millis time = 0;
    double value = 0;
};

enum class MarkKind { Failure, Stow, Clock, BeamAlarm, Lost };

struct Mark {
    Millis time = 0;
    MarkKind kind = MarkKind::Failure;
    std::string text;
};

// Events counted by time, so that a summary of any span counts only its own.
struct Counted {
    Millis time = 0;
    long long count = 1;
};

struct Timeline {
    std::vector<StateSpan> states;  // in time order, adjacent, none empty
    std::vector<Outage> outages;
    std::vector<AngleSample> commands;
    std::vector<AngleSample> replies;
    std::vector<AngleSample> controllerPositions;
    std::vector<ValueSample> beamErrors;
    std::vector<Mark> marks;
    std::vector<Counted> commandCounts, replyCounts, invalidCounts, lostCounts, controllerCommands,
        controllerRejected;
    std::optional<double> beamThreshold;  // the alarm threshold, when one was set
    std::vector<Millis> windowTimes;      // every window event, in time order
};

// Builds the time line from the window's rows (several files, merged by time) and the
// controller's rows (may be empty).
Timeline BuildTimeline(std::vector<WindowRow> window, const std::vector<ControllerRow>& controller);

struct Summary {
    std::optional<Span> span;  // first to last window event in the range
    long long commands = 0;
    long long replies = 0;
    long long invalidReplies = 0;
    Millis running = 0;   // time not stopped
    Millis onTarget = 0;  // time on target
    std::vector<Outage> outages;
    std::optional<double> beamMedian, beamP95, beamMax;
    long long recordsLost = 0;
    long long malformedLines = 0;
    long long truncatedLines = 0;
    long long controllerCommands = 0;  // -1: no controller record
    long long controllerRejected = 0;
    std::optional<double> OnTargetShare() const;
};

// The summary of the part of `timeline` within `range` (all of it when not given).
Summary Summarise(const Timeline& timeline, std::optional<Span> range);

// The summary for the operator (Japanese, one item a line) and for scripts (CSV
// "item,value,start,end,reason").
std::string SummaryText(const Summary& summary);
std::string SummaryCsv(const Summary& summary);

// "6.000 秒", "12 分 3.400 秒", "2 時間 0 分 1.000 秒".
std::string DurationText(Millis length);

const char* StateName(LinkState state);

}  // namespace heliostat::report
