#pragma once

// A second, deliberately plain reading of the text rules, written from their descriptions
// (README and header comments) without looking at how the program does it: character by
// character where the program searches, the C library's strtod and printf where the program
// uses from_chars and to_chars. The fuzz targets compare the two.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace heliostat::fuzz {

inline bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// --- Field splitter ------------------------------------------------------------------------

// The splitter walked one position at a time, positions counted from 1; taking a character
// (or the end) from position 32767 cannot be represented and fails.
class SplitterModel {
public:
    struct Result {
        bool overflow = false;
        std::string field;
    };

    Result Call(std::string_view source, std::string_view delimiter) {
        const std::string work = source.empty() ? remainder_ : std::string(source);
        Result result;
        long position = 1;
        for (;;) {
            const bool atEnd = position > static_cast<long>(work.size());
            const char c = atEnd ? '\0' : work[static_cast<std::size_t>(position - 1)];
            if (position == 32767) {
                result.overflow = true;
                return result;  // remainder untouched
            }
            ++position;
            if (atEnd || (delimiter.size() == 1 && c == delimiter[0])) {
                break;
            }
            result.field += c;
        }
        const auto from = static_cast<std::size_t>(position - 1);
        remainder_ = from < work.size() ? work.substr(from) : std::string();
        return result;
    }

    const std::string& remainder() const { return remainder_; }
    void set_remainder(std::string text) { remainder_ = std::move(text); }

private:
    std::string remainder_;
};

// --- Number texts ----------------------------------------------------------------------------

inline double Strtod(const std::string& text) {
    errno = 0;
    return std::strtod(text.c_str(), nullptr);
}

// The longest leading decimal number: sign, digits with at most one "." and at least one digit,
// then an exponent (one of `letters`, optional sign, at least one digit) where one follows. The
// text read, the letter written "e"; empty when no number starts the text.
inline std::string LeadingNumber(std::string_view text, std::string_view letters) {
    std::string number;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        number += text[i++];
    }
    int digits = 0;
    while (i < text.size() && Digit(text[i])) {
        number += text[i++];
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && Digit(text[i])) {
            number += text[i++];
            ++digits;
        }
    }
    if (digits == 0) {
        return {};
    }
    if (i < text.size() && letters.find(text[i]) != std::string_view::npos) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            exponent += text[j++];
        }
        bool any = false;
        while (j < text.size() && Digit(text[j])) {
            exponent += text[j++];
            any = true;
        }
        if (any) {
            number += exponent;
        }
    }
    return number;
}

// Strict rule: blanks and tabs around; sign, digits with at most one ".", at least one digit,
// optional exponent E/e with optional sign and at least one digit; nothing else. A value too
// large for a double gives nothing.
inline std::optional<double> ModelStrict(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    const std::string_view body = text.substr(begin, end - begin);
    const std::string number = LeadingNumber(body, "Ee");
    // An exponent letter without digits is left unread, so it too fails the whole-text test.
    if (number.empty() || number.size() != body.size()) {
        return std::nullopt;
    }
    const double value = Strtod(number);
    if (std::isinf(value)) {
        return std::nullopt;
    }
    return value;
}

// Rounds a binary whole number, given as its bits from the most significant one, to the
// nearest double (halves to even). Infinity when it is too large.
inline double RoundBits(std::string_view bits) {
    const std::size_t first = bits.find('1');
    if (first == std::string_view::npos) {
        return 0;
    }
    bits.remove_prefix(first);
    std::uint64_t mantissa = 0;
    const std::size_t kept = bits.size() < 53 ? bits.size() : 53;
    for (std::size_t i = 0; i < kept; ++i) {
        mantissa = mantissa * 2 + static_cast<std::uint64_t>(bits[i] - '0');
    }
    long scale = static_cast<long>(bits.size() - kept);
    if (scale > 0) {
        const bool half = bits[kept] == '1';
        const bool beyond = bits.find('1', kept + 1) != std::string_view::npos;
        if (half && (beyond || (mantissa & 1) != 0)) {
            ++mantissa;
        }
    }
    if (scale > 2000) {
        return HUGE_VAL;
    }
    return std::ldexp(static_cast<double>(mantissa), static_cast<int>(scale));
}

struct TooLarge {};
using LenientResult = std::variant<double, TooLarge>;

// Lenient rule: blanks, tabs and line feeds anywhere are dropped; then &H hexadecimal or &O
// octal whole number, or the longest leading decimal number (exponent letter E or D); no
// number gives 0; a value too large for a double is the only failure.
inline LenientResult ModelLenient(std::string_view text) {
    std::string packed;
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') {
            packed += c;
        }
    }
    if (packed.size() >= 2 && packed[0] == '&') {
        const char radix = packed[1];
        std::string bits;
        for (std::size_t i = 2; i < packed.size(); ++i) {
            const char c = packed[i];
            int value = -1;
            if (radix == 'H' || radix == 'h') {
                if (Digit(c)) {
                    value = c - '0';
                } else if (c >= 'a' && c <= 'f') {
                    value = c - 'a' + 10;
                } else if (c >= 'A' && c <= 'F') {
                    value = c - 'A' + 10;
                }
                if (value < 0) {
                    break;
                }
                for (int bit = 3; bit >= 0; --bit) {
                    bits += ((value >> bit) & 1) ? '1' : '0';
                }
            } else if (radix == 'O' || radix == 'o') {
                if (c < '0' || c > '7') {
                    break;
                }
                value = c - '0';
                for (int bit = 2; bit >= 0; --bit) {
                    bits += ((value >> bit) & 1) ? '1' : '0';
                }
            } else {
                return 0.0;
            }
        }
        const double value = RoundBits(bits);
        if (std::isinf(value)) {
            return TooLarge{};
        }
        return value;
    }

    const std::string number = LeadingNumber(packed, "EeDd");
    if (number.empty()) {
        return 0.0;
    }
    const double value = Strtod(number);
    if (std::isinf(value)) {
        return TooLarge{};
    }
    return value;
}

// Port rule: the strict rule, the nearest whole number with halves to even (the C library's
// default rounding), within a signed 32-bit integer.
inline std::optional<std::int32_t> ModelPort(std::string_view text) {
    const auto value = ModelStrict(text);
    if (!value) {
        return std::nullopt;
    }
    const double whole = std::nearbyint(*value);
    if (whole < -2147483648.0 || whole > 2147483647.0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(whole);
}

// A reply field fit to be shown as an angle: at most 32 characters; blank or empty once
// blanks, tabs and line breaks are taken off both ends, or else a decimal number by the
// strict rule's shape whose value is finite.
inline bool ModelReplyField(std::string_view text) {
    if (text.size() > 32) {
        return false;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text.empty() || ModelStrict(text).has_value();
}

// A shown angle text: blanks dropped (the sun elevation's pattern puts its literal blank after
// the sign, "- 5.25"), then the strict rule.
inline std::optional<double> ShownNumber(std::string_view text) {
    std::string packed;
    for (const char c : text) {
        if (c != ' ') {
            packed += c;
        }
    }
    return ModelStrict(packed);
}

inline bool Within(std::string_view text, double low, double high) {
    const auto value = ShownNumber(text);
    return value && *value >= low && *value <= high;
}

// --- Chart ---------------------------------------------------------------------------------

// "H時M分" with an hour of 0 to 23 and a minute of 0 to 59, no leading zeros.
inline bool ChartTime(std::string_view text) {
    const auto number = [&](std::string_view& rest, int high) {
        std::size_t n = 0;
        int value = 0;
        while (n < rest.size() && Digit(rest[n]) && n < 3) {
            value = value * 10 + (rest[n] - '0');
            ++n;
        }
        const bool ok = n > 0 && (n == 1 || rest[0] != '0') && value <= high;
        rest.remove_prefix(n);
        return ok;
    };
    std::string_view rest = text;
    if (!number(rest, 23) || !rest.starts_with("時")) {
        return false;
    }
    rest.remove_prefix(std::string_view("時").size());
    return number(rest, 59) && rest == "分";
}

// --- Number to text ---------------------------------------------------------------------------

// The shortest digits that read back as |value|, with the decimal exponent of the first one:
// printf's correctly rounded digits at growing precision, and their neighbours in the last
// place (at a power of two the nearest text may fall outside the narrower lower half).
struct Digits {
    std::string digits;
    int exponent = 0;
};

inline Digits ShortestDigits(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude == 0) {
        return {"0", 0};
    }
    for (int precision = 1; precision <= 17; ++precision) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, magnitude);
        const std::string text(buffer);
        const std::size_t e = text.find('e');
        std::string digits;
        for (std::size_t i = 0; i < e; ++i) {
            if (text[i] != '.') {
                digits += text[i];
            }
        }
        const int exponent = std::atoi(text.c_str() + e + 1);
        const auto readBack = [&](const std::string& d) {
            return Strtod(d.substr(0, 1) + "." + d.substr(1) + "e" + std::to_string(exponent));
        };
        if (readBack(digits) == magnitude) {
            return {digits, exponent};
        }
        for (const int step : {-1, 1}) {
            std::string neighbour = digits;
            char& last = neighbour.back();
            if ((step < 0 && last == '0') || (step > 0 && last == '9')) {
                continue;
            }
            last = static_cast<char>(last + step);
            if (neighbour[0] != '0' && readBack(neighbour) == magnitude) {
                return {neighbour, exponent};
            }
        }
    }
    std::abort();  // 17 digits always read back
}

// The shortest text written out without exponent.
inline std::string ModelShortest(double value) {
    const Digits d = ShortestDigits(value);
    std::string text;
    if (d.exponent < 0) {
        text = "0." + std::string(static_cast<std::size_t>(-d.exponent - 1), '0') + d.digits;
    } else if (d.digits.size() <= static_cast<std::size_t>(d.exponent) + 1) {
        text =
            d.digits + std::string(static_cast<std::size_t>(d.exponent) + 1 - d.digits.size(), '0');
    } else {
        const auto split = static_cast<std::size_t>(d.exponent) + 1;
        text = d.digits.substr(0, split) + "." + d.digits.substr(split);
    }
    return value < 0 ? "-" + text : text;
}

// A pattern applied to the shortest text: hundredths rounded half away from zero as written,
// at least minInteger integer digits, no leading zero beyond them, sign before everything.
inline std::string ModelPattern(double value, std::string_view prefix, std::size_t minInteger) {
    const std::string text = ModelShortest(std::fabs(value));
    const std::size_t point = text.find('.');
    const std::string integer = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    // Hundredths as a decimal digit string, then the rounding digit.
    std::string hundredths = integer + (fraction + "00").substr(0, 2);
    if (fraction.size() > 2 && fraction[2] >= '5') {
        std::size_t i = hundredths.size();
        while (i > 0 && hundredths[i - 1] == '9') {
            hundredths[--i] = '0';
        }
        if (i == 0) {
            hundredths.insert(hundredths.begin(), '1');
        } else {
            ++hundredths[i - 1];
        }
    }
    std::string whole = hundredths.substr(0, hundredths.size() - 2);
    const std::string cents = hundredths.substr(hundredths.size() - 2);
    while (!whole.empty() && whole[0] == '0') {
        whole.erase(0, 1);
    }
    const bool zero = whole.empty() && cents == "00";
    while (whole.size() < minInteger) {
        whole.insert(whole.begin(), '0');
    }
    std::string out = (value < 0 && !zero) ? "-" : "";
    return out + std::string(prefix) + whole + "." + cents;
}

}  // namespace heliostat::fuzz
