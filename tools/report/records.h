#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/jst_clock.h"

// Reading the two programs' CSV records: the window's session record (either header, stamps
// with or without an offset) and the antenna controller's record, onto one UTC time line.
namespace heliostat::report {

// Milliseconds since 1970-01-01 00:00 UTC.
using Millis = std::int64_t;

inline constexpr Millis kJstOffsetMs = std::chrono::milliseconds{base::kJstOffset}.count();

// A stamp "2026-12-08 02:57:26.400" (JST when no zone is given), "2026-12-08T02:57:26.400+09:00"
// or "2026-12-07T17:57:26.400Z"; seconds and fraction are optional, digits beyond the
// millisecond are dropped. Nothing when the text is no such stamp or names no real date.
std::optional<Millis> ParseStamp(std::string_view text);

// "2026-12-08 02:57:26.400" in JST, and the same with its offset for scripts.
std::string JstText(Millis utc);
std::string JstIsoText(Millis utc);

// One problem with a line, for stderr: "FILE:LINE: reason".
struct LineProblem {
    std::string file;
    long long line = 0;
    std::string reason;
    bool truncated = false;  // the last line, cut off while it was being written
    std::string Text() const;
};

struct WindowRow {
    Millis time = 0;
    std::string event;
    std::string datagram;
    std::string detail;
};

struct ControllerRow {
    Millis time = 0;
    std::string command;
    std::string position;
    std::string note;
};

template <class Row>
struct Record {
    std::vector<Row> rows;
    std::vector<LineProblem> problems;
};

// Reads a whole file; HeliostatError with the file's name and the reason (Japanese, or the
// system's) when it cannot be read or its first line is no header of that kind. Malformed lines
// are skipped and listed; a last line without its line break is skipped as truncated.
Record<WindowRow> ReadWindowRecord(const std::string& path);
Record<ControllerRow> ReadControllerRecord(const std::string& path);

// The same from text already in memory (`name` stands for the file in the problems).
Record<WindowRow> ParseWindowRecord(std::string_view text, const std::string& name);
Record<ControllerRow> ParseControllerRecord(std::string_view text, const std::string& name);

// The value of `key` in a detail of space-separated key=value items, or nothing.
std::optional<std::string_view> DetailValue(std::string_view detail, std::string_view key);

}  // namespace heliostat::report
