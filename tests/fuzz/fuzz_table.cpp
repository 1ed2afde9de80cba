// The table tool: its date-time reader against a plain reading of "YYYY-MM-DD HH:MM:SS", and
// whole command lines of options, dates, numbers and arbitrary texts. Whatever the arguments,
// the tool must end with 0, 1 or 2; refuse with a message and no CSV, or print well-formed CSV
// whose rows lie in the supported dates, one step apart, with finite angle texts in range, a
// command built from the mirror texts and a chart time within 0:00 to 23:59.

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/jst_clock.h"
#include "fuzz_check.h"
#include "rules_model.h"
#include "table/table_run.h"

namespace {

using heliostat::fuzz::Quoted;
using heliostat::fuzz::ShownNumber;
using heliostat::fuzz::Within;
namespace model = heliostat::fuzz;
using Seconds = std::chrono::sys_seconds;

// "YYYY-MM-DD HH:MM:SS" read by hand: a proleptic Gregorian date of the years 1 to 9999.
std::optional<Seconds> ModelDateTime(std::string_view text) {
    if (text.size() != 19) {
        return std::nullopt;
    }
    int parts[6] = {};
    const std::size_t starts[6] = {0, 5, 8, 11, 14, 17};
    const std::size_t lengths[6] = {4, 2, 2, 2, 2, 2};
    for (int k = 0; k < 6; ++k) {
        for (std::size_t i = starts[k]; i < starts[k] + lengths[k]; ++i) {
            if (!model::Digit(text[i])) {
                return std::nullopt;
            }
            parts[k] = parts[k] * 10 + (text[i] - '0');
        }
    }
    if (text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const int y = parts[0], m = parts[1], d = parts[2];
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int monthDays[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > monthDays[m - 1] || parts[3] > 23 ||
        parts[4] > 59 || parts[5] > 59) {
        return std::nullopt;
    }
    using namespace std::chrono;
    return Seconds{sys_days{year{y} / m / d}} + hours{parts[3]} + minutes{parts[4]} +
           seconds{parts[5]};
}

bool Supported(Seconds t) {
    using namespace std::chrono;
    return t >= sys_days{year{1900} / March / 1} && t < sys_days{year{2100} / March / 1};
}

// RFC 4180 records ending in CR LF; gives nothing when the text is not well formed.
std::optional<std::vector<std::vector<std::string>>> ParseCsv(std::string_view text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '"') {
            for (++i;; ++i) {
                if (i >= text.size()) {
                    return std::nullopt;
                }
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    field += text[i];
                }
            }
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"') {
                    return std::nullopt;
                }
                field += text[i++];
            }
        }
        record.push_back(std::move(field));
        field.clear();
        if (i < text.size() && text[i] == ',') {
            ++i;
            if (i == text.size()) {
                return std::nullopt;
            }
        } else if (text.substr(i, 2) == "\r\n") {
            i += 2;
            records.push_back(std::move(record));
            record.clear();
        } else {
            return std::nullopt;  // a lone line break, or text after a closing quote
        }
    }
    if (!record.empty()) {
        return std::nullopt;  // the last record lacks its CR LF
    }
    return records;
}

// Mostly real dates near the supported range, sometimes any digits in the right shape.
std::string DateText(FuzzedDataProvider& data) {
    char text[64];
    if (data.ConsumeIntegralInRange(0, 3) == 0) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d",
                      data.ConsumeIntegralInRange(0, 10000), data.ConsumeIntegralInRange(0, 13),
                      data.ConsumeIntegralInRange(0, 32), data.ConsumeIntegralInRange(0, 24),
                      data.ConsumeIntegralInRange(0, 60), data.ConsumeIntegralInRange(0, 60));
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d",
                      data.ConsumeIntegralInRange(1899, 2101), data.ConsumeIntegralInRange(1, 12),
                      data.ConsumeIntegralInRange(1, 28), data.ConsumeIntegralInRange(0, 23),
                      data.ConsumeIntegralInRange(0, 59), data.ConsumeIntegralInRange(0, 59));
    }
    return text;
}

std::string NumberText(FuzzedDataProvider& data, double range) {
    if (data.ConsumeIntegralInRange(0, 4) == 0) {
        return data.ConsumeRandomLengthString(16);
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", data.ConsumeIntegralInRange(0, 4),
                  data.ConsumeFloatingPointInRange(-range, range));
    return text;
}

std::string Token(FuzzedDataProvider& data) {
    static const char* const kOptions[] = {"--lat",       "--lon",   "--preset",  "--target-el",
                                           "--target-az", "--from",  "--to",      "--step",
                                           "--help",      "-h",      "--version", "-v",
                                           "--",          "-hv",     "--lat=",    "--target-",
                                           "-",           "--from=", "--step=",   "--to=",
                                           "--pointing",  "exact",   "mean",      "--beam-error",
                                           "--pointing="};
    static const char* const kCities[] = {"東京", "那覇", "札幌", "八王子", "Tokyo", ""};
    switch (data.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
            return data.PickValueInArray(kOptions);
        case 3:
        case 4:
            return DateText(data);
        case 5:
            return NumberText(data, 400);
        case 6:
            return data.PickValueInArray(kCities);
        case 7:
            return std::string(data.PickValueInArray(kOptions)) + "=" + DateText(data);
        default:
            return data.ConsumeRandomLengthString(32);
    }
}

// Degrees with two decimals and no blank or sign, at most 180: the angle between two directions.
bool BeamErrorText(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos || point == 0 || text.size() != point + 3) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != point && !model::Digit(text[i])) {
            return false;
        }
    }
    return Within(text, 0, 180);
}

std::string Drain(std::FILE*& file, char*& buffer, std::size_t& size) {
    std::fclose(file);
    file = nullptr;
    std::string text(buffer, size);
    std::free(buffer);
    buffer = nullptr;
    return text;
}

void CheckTable(const std::vector<std::string>& tokens, int status, const std::string& out,
                const std::string& err) {
    std::string context = "arguments";
    for (const std::string& token : tokens) {
        context += " " + Quoted(token);
    }
    FUZZ_CHECK(status >= 0 && status <= 2,
               "exit status " + std::to_string(status) + "; " + context);
    if (status == 2) {
        FUZZ_CHECK(out.empty(),
                   "a refused run wrote " + Quoted(out.substr(0, 80)) + "; " + context);
        FUZZ_CHECK(err.starts_with("heliostat-table: ") && err.ends_with("\n"),
                   "refused with " + Quoted(err) + "; " + context);
        return;
    }
    FUZZ_CHECK(err.empty(), "a run wrote " + Quoted(err) + " to stderr; " + context);
    const std::string header =
        "jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,"
        "chart_time,marker_x,marker_y,error";
    const bool beamColumn = out.starts_with(header + ",beam_error\r\n");
    if (!beamColumn && !out.starts_with(header + "\r\n")) {
        // --help or --version.
        FUZZ_CHECK(
            status == 0 && (out.starts_with("使い方") || out.starts_with("heliostat-table ")),
            "output " + Quoted(out.substr(0, 80)) + "; " + context);
        return;
    }
    const auto records = ParseCsv(out);
    FUZZ_CHECK(records && records->size() >= 2,
               "CSV not well formed: " + Quoted(out.substr(0, 400)) + "; " + context);
    bool anyError = false;
    std::optional<Seconds> previous;
    std::optional<std::chrono::seconds> step;
    for (std::size_t r = 1; r < records->size(); ++r) {
        const std::vector<std::string>& row = (*records)[r];
        const std::string where = "row " + std::to_string(r) + "; " + context;
        const std::size_t fields = beamColumn ? 12 : 11;
        FUZZ_CHECK(row.size() == fields,
                   "row of " + std::to_string(row.size()) + " fields; " + where);
        const auto when = ModelDateTime(row[0]);
        FUZZ_CHECK(when && Supported(*when), "row time " + Quoted(row[0]) + "; " + where);
        if (previous) {
            FUZZ_CHECK(*when > *previous && (!step || *when - *previous == *step),
                       "rows not one step apart at " + row[0] + "; " + where);
            step = *when - *previous;
        }
        previous = when;
        if (beamColumn && row[1] == "day" && row[11].empty() && !row[10].empty()) {
            // The true sun could not be found for the beam error: reported on the row.
            anyError = true;
            continue;
        }
        if (beamColumn) {
            FUZZ_CHECK(row[1] == "day" ? BeamErrorText(row[11]) : row[11].empty(),
                       "beam error " + Quoted(row[11]) + " on a " + row[1] + " row; " + where);
        }
        if (row[1] == "error") {
            anyError = true;
            FUZZ_CHECK(row[6].empty() && row[7].empty() && !row[10].empty(),
                       "error row " + Quoted(row[6]) + " " + Quoted(row[10]) + "; " + where);
            continue;
        }
        FUZZ_CHECK(row[1] == "day" || row[1] == "night", "branch " + Quoted(row[1]) + "; " + where);
        FUZZ_CHECK(row[10].empty(), "error text on a " + row[1] + " row; " + where);
        FUZZ_CHECK(Within(row[2], -90, 90) && Within(row[3], 0, 360),
                   "sun " + Quoted(row[2]) + " " + Quoted(row[3]) + "; " + where);
        FUZZ_CHECK(
            ShownNumber(row[4]) && ShownNumber(row[5]) && row[6] == "0," + row[5] + "," + row[4],
            "mirror " + Quoted(row[4]) + " " + Quoted(row[5]) + " sent as " + Quoted(row[6]) +
                "; " + where);
        FUZZ_CHECK(model::ChartTime(row[7]), "chart time " + Quoted(row[7]) + "; " + where);
        FUZZ_CHECK(row[8].empty() == row[9].empty() &&
                       (row[8].empty() || (ShownNumber(row[8]) && ShownNumber(row[9]))),
                   "marker " + Quoted(row[8]) + " " + Quoted(row[9]) + "; " + where);
    }
    FUZZ_CHECK((status == 1) == anyError, "exit status " + std::to_string(status) + " with" +
                                              (anyError ? "" : "out") + " failed rows; " + context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);

    const std::string text =
        data.ConsumeBool() ? DateText(data) : data.ConsumeRandomLengthString(24);
    const auto parsed = heliostat::base::ParseJstDateTime(text);
    const auto expected = ModelDateTime(text);
    FUZZ_CHECK(parsed.has_value() == expected.has_value(),
               "ParseJstDateTime(" + Quoted(text) + ") " + (parsed ? "accepted" : "refused"));
    if (parsed) {
        using namespace std::chrono;
        const Seconds got = Seconds{sys_days{year{parsed->year} / parsed->month / parsed->day}} +
                            hours{parsed->hour} + minutes{parsed->minute} + seconds{parsed->second};
        FUZZ_CHECK(got == *expected && parsed->millisecond == 0,
                   "ParseJstDateTime(" + Quoted(text) + ") read another time");
    }

    std::vector<std::string> tokens;
    if (data.ConsumeIntegralInRange(0, 3) != 0) {
        // A complete command line, so that most runs get as far as the cycles.
        if (data.ConsumeIntegralInRange(0, 3) == 0) {
            tokens.insert(tokens.end(), {"--preset", Token(data)});
        } else {
            tokens.insert(tokens.end(),
                          {"--lat", NumberText(data, 100), "--lon", NumberText(data, 200)});
        }
        tokens.insert(tokens.end(), {"--target-el", NumberText(data, 100), "--target-az",
                                     NumberText(data, 400), "--from", DateText(data)});
        if (data.ConsumeBool()) {
            tokens.insert(tokens.end(), {"--to", DateText(data)});
        }
        if (data.ConsumeBool()) {
            tokens.insert(tokens.end(), {"--step", NumberText(data, 7200)});
        }
        if (data.ConsumeIntegralInRange(0, 3) == 0) {
            tokens.insert(tokens.end(), {"--pointing", "exact"});
        }
        if (data.ConsumeIntegralInRange(0, 3) == 0) {
            tokens.emplace_back("--beam-error");
        }
    }
    const int extra = data.ConsumeIntegralInRange(0, tokens.empty() ? 12 : 2);
    for (int i = 0; i < extra; ++i) {
        const auto at = data.ConsumeIntegralInRange<std::size_t>(0, tokens.size());
        tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(at), Token(data));
    }

    // Keep each run short: the rows can be no more than the widest span between any two date
    // texts among the arguments over the smallest step any of them could give.
    std::vector<Seconds> dates;
    double smallestStep = 60;
    for (const std::string& token : tokens) {
        for (const std::string_view part :
             {std::string_view(token),
              std::string_view(token).substr(std::min(token.size(), token.find('=') + 1))}) {
            if (const auto date = ModelDateTime(part)) {
                dates.push_back(*date);
            }
            if (const auto number = model::ModelStrict(part); number && *number >= 1) {
                smallestStep = std::min(smallestStep, *number);
            }
        }
    }
    if (dates.size() >= 2) {
        const auto [low, high] = std::minmax_element(dates.begin(), dates.end());
        if (static_cast<double>((*high - *low).count()) / smallestStep > 500) {
            return 0;
        }
    }

    QStringList arguments{QStringLiteral("heliostat-table")};
    for (const std::string& token : tokens) {
        arguments << QString::fromStdString(token);
    }
    char* outBuffer = nullptr;
    char* errBuffer = nullptr;
    std::size_t outSize = 0;
    std::size_t errSize = 0;
    std::FILE* out = open_memstream(&outBuffer, &outSize);
    std::FILE* err = open_memstream(&errBuffer, &errSize);
    const int status = heliostat::table::RunTable(arguments, out, err);
    const std::string outText = Drain(out, outBuffer, outSize);
    const std::string errText = Drain(err, errBuffer, errSize);
    CheckTable(tokens, status, outText, errText);
    return 0;
}
