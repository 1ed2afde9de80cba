#include "link/wire.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "base/number_text.h"
#include "link/get_token.h"

namespace heliostat::link {

std::string CommandPayload(std::string_view azimuthText, std::string_view elevationText) {
    std::string payload = "0,";
    payload += azimuthText;
    payload += ',';
    payload += elevationText;
    return payload;
}

std::string StowPayload(const base::AzEl& stow) {
    return CommandPayload(base::FormatPattern(stow.azimuth, base::kAzimuthPattern),
                          base::FormatPattern(stow.elevation, base::kElevationPattern));
}

std::optional<ReplyFields> SplitReply(std::string_view payload) {
    // An empty datagram would otherwise continue the remainder of an older reply and show
    // stale fields; it carries nothing, so it is dropped.
    if (payload.empty()) {
        return std::nullopt;
    }
    std::array<std::string, 5> fields;
    try {
        fields[0] = GetToken(payload, ",");
        for (std::size_t i = 1; i < fields.size(); ++i) {
            fields[i] = GetToken({}, ",");
        }
    } catch (const HeliostatError&) {
        return std::nullopt;  // all fields are split before any is shown, so nothing is shown
    }
    return ReplyFields{std::move(fields[1]), std::move(fields[2]), std::move(fields[3])};
}

bool IsValidReplyField(std::string_view text) {
    constexpr std::size_t kMaxLength = 32;
    if (text.size() > kMaxLength) {
        return false;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    if (begin == end) {
        return true;
    }
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = begin;
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    std::size_t digits = 0;
    while (i < end && digit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < end && text[i] == '.') {
        ++i;
        while (i < end && digit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        while (i < end && digit(text[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    if (i != end) {
        return false;
    }
    // The syntax is a decimal number; what is left is whether its value is finite (1e100 is,
    // 1e400 is not). strtod reads the C locale's point, like the syntax above.
    const std::string number(text.substr(begin, end - begin));
    return std::isfinite(std::strtod(number.c_str(), nullptr));
}

std::optional<base::AzEl> ParseCommand(std::string_view payload) {
    const std::size_t first = payload.find(',');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t second = payload.find(',', first + 1);
    if (second == std::string_view::npos ||
        payload.find(',', second + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    if (payload.substr(0, first) != "0") {
        return std::nullopt;
    }
    const auto azimuth = base::ParseStrict(payload.substr(first + 1, second - first - 1));
    const auto elevation = base::ParseStrict(payload.substr(second + 1));
    if (!azimuth || !elevation) {
        return std::nullopt;
    }
    return base::AzEl{.azimuth = *azimuth, .elevation = *elevation};
}

std::string ReplyPayload(double azimuth, double elevation) {
    return CommandPayload(base::FormatPattern(azimuth, base::kAzimuthPattern),
                          base::FormatPattern(elevation, base::kElevationPattern));
}

}  // namespace heliostat::link
