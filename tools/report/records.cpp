#include "records.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/errors.h"
#include "base/jst_clock.h"

namespace heliostat::report {

namespace {

// Reads `count` digits at `p` into `value`; false when one of them is no digit.
bool Digits(std::string_view text, std::size_t p, std::size_t count, int& value) {
    if (p + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = p; i < p + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// A CSV record as it came: its first line's number, its fields, and how it ended.
struct RawRecord {
    long long line = 0;
    std::vector<std::string> fields;
    bool terminated = false;  // ended by a line break (not by the end of the text)
    bool openQuote = false;   // a quoted field that did not close
};

// RFC 4180 with CRLF or LF line ends. A quoted field may hold line breaks, but one that is
// still open after kMaxLines lines, before a line that starts with a time stamp, or at the end
// is taken as a broken quote: the record is reported and reading goes on at the next line, so
// one stray quote costs one line.
class CsvReader {
public:
    explicit CsvReader(std::string_view text) : text_(text) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
    }

    bool Next(RawRecord& record) {
        if (pos_ >= text_.size()) {
            return false;
        }
        record.line = line_;
        record.fields.clear();
        record.terminated = false;
        record.openQuote = false;
        const std::size_t start = pos_;
        std::string field;
        bool quoted = false;
        bool atFieldStart = true;
        long long lines = 0;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (quoted) {
                if (c == '"') {
                    if (pos_ < text_.size() && text_[pos_] == '"') {
                        field += '"';
                        ++pos_;
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == '\n' && (++lines > kMaxLines || StampFollows())) {
                        break;
                    }
                    field += c;
                }
                continue;
            }
            if (c == '"' && atFieldStart) {
                quoted = true;
                atFieldStart = false;
            } else if (c == ',') {
                record.fields.push_back(std::move(field));
                field.clear();
                atFieldStart = true;
            } else if (c == '\n' || (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n')) {
                if (c == '\r') {
                    ++pos_;
                }
                record.terminated = true;
                break;
            } else {
                field += c;
                atFieldStart = false;
            }
        }
        if (quoted) {
            // Back to the line after the record's first one.
            record.openQuote = true;
            pos_ = start;
            while (pos_ < text_.size() && text_[pos_++] != '\n') {
            }
            record.terminated = text_[pos_ - 1] == '\n';
            ++line_;
            return true;
        }
        record.fields.push_back(std::move(field));
        for (std::size_t i = start; i < pos_; ++i) {
            line_ += text_[i] == '\n' ? 1 : 0;
        }
        if (!record.terminated) {
            ++line_;
        }
        return true;
    }

    std::size_t Remaining() const { return text_.size() - pos_; }

private:
    // Every record starts with its time stamp, so a line inside a quoted field that starts
    // with one is a new record: the quote before it was never closed.
    bool StampFollows() const {
        const std::string_view rest = text_.substr(pos_);
        return ParseStamp(rest.substr(0, std::min(rest.find(','), rest.size()))).has_value();
    }

    static constexpr long long kMaxLines = 8;
    std::string_view text_;
    std::size_t pos_ = 0;
    long long line_ = 1;
};

bool Blank(const RawRecord& record) {
    return record.fields.size() == 1 && record.fields[0].empty();
}

int Column(const std::vector<std::string>& header, std::string_view name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const std::string& FieldOr(const RawRecord& record, int column) {
    static const std::string empty;
    return column >= 0 && static_cast<std::size_t>(column) < record.fields.size()
               ? record.fields[static_cast<std::size_t>(column)]
               : empty;
}

// Reads the records after the header; `make` fills one row from a record whose time has been
// read, or gives a reason why the record is malformed.
template <class Row, class Make>
Record<Row> ReadRows(CsvReader& reader, const std::string& name, int timeColumn, std::size_t needed,
                     Make make) {
    Record<Row> out;
    out.rows.reserve(reader.Remaining() / 40);  // the window's rows are 40 to 60 bytes
    RawRecord record;
    while (reader.Next(record)) {
        if (Blank(record) && record.terminated) {
            continue;
        }
        const auto problem = [&](std::string reason) {
            out.problems.push_back({name, record.line, std::move(reason), false});
        };
        if (!record.terminated) {
            out.problems.push_back(
                {name, record.line, "最後の行が途中で切れています（読み飛ばしました）", true});
            break;
        }
        if (record.openQuote) {
            problem("引用符が閉じていません");
            continue;
        }
        if (record.fields.size() < needed) {
            problem("列が足りません（" + std::to_string(record.fields.size()) + " 列、必要なのは " +
                    std::to_string(needed) + " 列）");
            continue;
        }
        const std::string& stamp = FieldOr(record, timeColumn);
        const auto time = ParseStamp(stamp);
        if (!time) {
            problem("時刻「" + stamp + "」が読めません");
            continue;
        }
        Row row;
        row.time = *time;
        if (std::string reason = make(record, row); !reason.empty()) {
            problem(std::move(reason));
            continue;
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw HeliostatError(path + ": " + std::strerror(errno), "read");
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        throw HeliostatError(path + ": 読み込みに失敗しました", "read");
    }
    return std::move(buffer).str();
}

}  // namespace

std::optional<Millis> ParseStamp(std::string_view text) {
    int year, month, day, hour, minute, second = 0, millisecond = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 16 || text[4] != '-' ||
        !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) ||
        (text[10] != ' ' && text[10] != 'T') || !Digits(text, 11, 2, hour) || text[13] != ':' ||
        !Digits(text, 14, 2, minute)) {
        return std::nullopt;
    }
    std::size_t p = 16;
    if (p < text.size() && text[p] == ':') {
        if (!Digits(text, p + 1, 2, second)) {
            return std::nullopt;
        }
        p += 3;
        if (p < text.size() && text[p] == '.') {
            ++p;
            const std::size_t first = p;
            int scale = 100;
            while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
                millisecond += (text[p] - '0') * scale;
                scale /= 10;
                ++p;
            }
            if (p == first) {
                return std::nullopt;
            }
        }
    }
    Millis offset = kJstOffsetMs;  // no zone: the window's old stamps, in JST
    if (p < text.size()) {
        if (text[p] == 'Z' && p + 1 == text.size()) {
            offset = 0;
        } else if (text[p] == '+' || text[p] == '-') {
            int oh, om;
            const bool colon = p + 3 < text.size() && text[p + 3] == ':';
            if (!Digits(text, p + 1, 2, oh) || !Digits(text, p + (colon ? 4 : 3), 2, om) ||
                p + (colon ? 6 : 5) != text.size() || oh > 23 || om > 59) {
                return std::nullopt;
            }
            offset = (text[p] == '+' ? 1 : -1) * (oh * 60 + om) * Millis{60000};
        } else {
            return std::nullopt;
        }
    }
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{year},
                             std::chrono::month{static_cast<unsigned>(month)},
                             std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const Millis days = sys_days{ymd}.time_since_epoch().count();
    return ((days * 24 + hour) * 60 + minute) * Millis{60000} + second * Millis{1000} +
           millisecond - offset;
}

std::string JstText(Millis utc) {
    const base::JstDateTime c = base::ToJst(base::UtcMillis{std::chrono::milliseconds{utc}});
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day,
                  c.hour, c.minute, c.second, c.millisecond);
    return text;
}

std::string JstIsoText(Millis utc) {
    return base::RecordStamp(base::UtcMillis{std::chrono::milliseconds{utc}});
}

std::string LineProblem::Text() const {
    return file + ":" + std::to_string(line) + ": " + reason;
}

std::optional<std::string_view> DetailValue(std::string_view detail, std::string_view key) {
    std::size_t p = 0;
    while (p < detail.size()) {
        const std::size_t end = std::min(detail.find(' ', p), detail.size());
        const std::string_view item = detail.substr(p, end - p);
        if (item.size() > key.size() && item.substr(0, key.size()) == key &&
            item[key.size()] == '=') {
            return item.substr(key.size() + 1);
        }
        p = end + 1;
    }
    return std::nullopt;
}

Record<WindowRow> ParseWindowRecord(std::string_view text, const std::string& name) {
    CsvReader reader(text);
    RawRecord header;
    if (!reader.Next(header)) {
        throw HeliostatError(name + ": 空のファイルです", "read");
    }
    int time = Column(header.fields, "time");
    if (time < 0) {
        time = Column(header.fields, "time_jst");
    }
    const int event = Column(header.fields, "event");
    if (time < 0 || event < 0) {
        throw HeliostatError(
            name +
                ":1: "
                "ウィンドウのセッション記録の見出し（time,event,datagram,detail）ではありません",
            "read");
    }
    const int datagram = Column(header.fields, "datagram");
    const int detail = Column(header.fields, "detail");
    const auto needed = static_cast<std::size_t>(std::max({time, event, datagram, detail}) + 1);
    return ReadRows<WindowRow>(reader, name, time, needed,
                               [&](const RawRecord& record, WindowRow& row) -> std::string {
                                   row.event = FieldOr(record, event);
                                   if (row.event.empty()) {
                                       return "イベントがありません";
                                   }
                                   row.datagram = FieldOr(record, datagram);
                                   row.detail = FieldOr(record, detail);
                                   return {};
                               });
}

Record<ControllerRow> ParseControllerRecord(std::string_view text, const std::string& name) {
    CsvReader reader(text);
    RawRecord header;
    if (!reader.Next(header)) {
        throw HeliostatError(name + ": 空のファイルです", "read");
    }
    const int time = Column(header.fields, "time");
    const int command = Column(header.fields, "command");
    const int position = Column(header.fields, "position");
    const int note = Column(header.fields, "note");
    if (time < 0 || position < 0) {
        throw HeliostatError(
            name +
                ":1: "
                "アンテナコントローラの記録の見出し（time,command,position,note）ではありません",
            "read");
    }
    const auto needed = static_cast<std::size_t>(std::max({time, command, position, note}) + 1);
    return ReadRows<ControllerRow>(reader, name, time, needed,
                                   [&](const RawRecord& record, ControllerRow& row) -> std::string {
                                       row.command = FieldOr(record, command);
                                       row.position = FieldOr(record, position);
                                       row.note = FieldOr(record, note);
                                       return {};
                                   });
}

Record<WindowRow> ReadWindowRecord(const std::string& path) {
    return ParseWindowRecord(ReadFile(path), path);
}

Record<ControllerRow> ReadControllerRecord(const std::string& path) {
    return ParseControllerRecord(ReadFile(path), path);
}

}  // namespace heliostat::report
