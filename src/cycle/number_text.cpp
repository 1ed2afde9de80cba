#include "cycle/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "astro/errors.h"

namespace heliostat::cycle {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Shortest round-trip digits of |value|, written out without exponent ("0.5", "1000",
// "139.3"). The shortest form is taken in scientific notation and expanded by hand: the fixed
// form of the library would print every binary digit of a large value (1e300 is not exactly
// representable) instead of the shortest digits.
std::string MagnitudeText(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      std::fabs(value), std::chars_format::scientific);
    const std::string_view text(buffer.data(),
                                static_cast<std::size_t>(result.ptr - buffer.data()));
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.') {
            digits += c;
        }
    }
    int exponent = 0;
    const std::string_view exponentText = text.substr(e + 1);
    std::from_chars(exponentText.data() + (exponentText[0] == '+' ? 1 : 0),
                    exponentText.data() + exponentText.size(), exponent);
    if (exponent < 0) {
        return "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    const auto integerLength = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integerLength) {
        return digits + std::string(integerLength - digits.size(), '0');
    }
    return digits.substr(0, integerLength) + "." + digits.substr(integerLength);
}

struct Layout {
    std::string_view prefix;  // literal text before the digits
    std::size_t minInteger;   // integer digits always shown ("0" placeholders)
    std::size_t decimals;     // digits after the point
    bool point;
};

Layout ParsePattern(std::string_view pattern) {
    Layout layout{};
    std::size_t i = pattern.find_first_of("#0.");
    if (i == std::string_view::npos) {
        throw HeliostatError("書式の指定が正しくありません。", "FormatPattern");
    }
    layout.prefix = pattern.substr(0, i);
    bool zeroSeen = false;
    for (; i < pattern.size() && (pattern[i] == '#' || pattern[i] == '0'); ++i) {
        // After the first "0" every integer placeholder is shown, as in a plain zero pad.
        zeroSeen = zeroSeen || pattern[i] == '0';
        layout.minInteger += zeroSeen ? 1 : 0;
    }
    if (i < pattern.size() && pattern[i] == '.') {
        layout.point = true;
        for (++i; i < pattern.size() && pattern[i] == '0'; ++i) {
            ++layout.decimals;
        }
    }
    if (i != pattern.size()) {
        throw HeliostatError("書式の指定が正しくありません。", "FormatPattern");
    }
    return layout;
}

// Adds one unit in the last place of a digit string; returns true when it carries out.
bool IncrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return false;
        }
        *it = '0';
    }
    return true;
}

void RequireFinite(double value, const char* failed) {
    if (!std::isfinite(value)) {
        throw HeliostatError("数値が有限ではありません。", failed);
    }
}

enum class Outcome { kValue, kOverflow };

struct Converted {
    Outcome outcome;
    double value;
};

// A decimal number found at the start of a text, split into its parts.
struct DecimalScan {
    std::size_t length = 0;  // characters used; 0 when no number starts the text
    bool negative = false;
    std::string_view integerDigits;
    std::string_view fractionDigits;
    std::string_view exponent;  // sign and digits, without the letter; empty when absent
};

// Reads the longest leading number: optional sign, digits with at most one ".", and an
// exponent whose letter is one of exponentLetters. An exponent without digits is left out.
DecimalScan ScanDecimal(std::string_view text, std::string_view exponentLetters) {
    DecimalScan scan;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        scan.negative = text[i] == '-';
        ++i;
    }
    const std::size_t integerStart = i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    scan.integerDigits = text.substr(integerStart, i - integerStart);
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
        }
        scan.fractionDigits = text.substr(fractionStart, i - fractionStart);
    }
    if (scan.integerDigits.empty() && scan.fractionDigits.empty()) {
        return DecimalScan{};
    }
    scan.length = i;
    if (i < text.size() && exponentLetters.find(text[i]) != std::string_view::npos) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        const std::size_t digitsStart = j;
        while (j < text.size() && IsDigit(text[j])) {
            ++j;
        }
        if (j > digitsStart) {
            scan.exponent = text.substr(i + 1, j - i - 1);
            scan.length = j;
        }
    }
    return scan;
}

// Order of magnitude of the scanned number, saturated far beyond the range of a double; only
// its sign matters, to tell an overflow from an underflow.
long long DecimalOrder(const DecimalScan& scan) {
    constexpr long long kCap = 1'000'000'000;
    long long exponent = 0;
    bool negativeExponent = false;
    for (char c : scan.exponent) {
        if (c == '-') {
            negativeExponent = true;
        } else if (IsDigit(c)) {
            exponent = std::min(kCap, exponent * 10 + (c - '0'));
        }
    }
    exponent = negativeExponent ? -exponent : exponent;
    const std::size_t firstInteger = scan.integerDigits.find_first_not_of('0');
    if (firstInteger != std::string_view::npos) {
        return exponent + static_cast<long long>(scan.integerDigits.size() - firstInteger) - 1;
    }
    const std::size_t firstFraction = scan.fractionDigits.find_first_not_of('0');
    if (firstFraction == std::string_view::npos) {
        return std::numeric_limits<long long>::min();  // the value is zero
    }
    return exponent - static_cast<long long>(firstFraction) - 1;
}

Converted ConvertDecimal(const DecimalScan& scan) {
    std::string text(scan.integerDigits);
    text += '.';
    text += scan.fractionDigits;
    if (!scan.exponent.empty()) {
        text += 'e';
        text += scan.exponent[0] == '+' ? scan.exponent.substr(1) : scan.exponent;
    }
    double magnitude = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) {
        if (DecimalOrder(scan) > 0) {
            return {Outcome::kOverflow, 0};
        }
        magnitude = 0;  // underflow: the nearest double is zero
    }
    return {Outcome::kValue, scan.negative ? -magnitude : magnitude};
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

[[noreturn]] void ThrowTooLarge() {
    throw HeliostatError("数値が大きすぎます。", "ParseLenient");
}

// A whole number in hexadecimal digits, correctly rounded.
double HexWhole(std::string_view digits) {
    if (digits.empty()) {
        return 0;
    }
    double value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                        std::chars_format::hex);
    if (result.ec != std::errc{}) {
        ThrowTooLarge();
    }
    return value;
}

// Octal digits regrouped as hexadecimal ones, so that both go through the same exact reader.
std::string OctalToHex(std::string_view digits) {
    std::string bits;
    for (char c : digits) {
        const int d = c - '0';
        bits += (d & 4) ? '1' : '0';
        bits += (d & 2) ? '1' : '0';
        bits += (d & 1) ? '1' : '0';
    }
    bits.insert(0, (4 - bits.size() % 4) % 4, '0');
    std::string hex;
    for (std::size_t i = 0; i < bits.size(); i += 4) {
        int nibble = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            nibble = nibble * 2 + (bits[i + k] - '0');
        }
        hex += "0123456789abcdef"[nibble];
    }
    return hex;
}

}  // namespace

std::string FormatPattern(double value, std::string_view pattern) {
    RequireFinite(value, "FormatPattern");
    const Layout layout = ParsePattern(pattern);

    // Rounding works on the shortest decimal text, so 2.675 rounds up as written.
    const std::string text = MagnitudeText(value);
    const std::size_t point = text.find('.');
    std::string integer = text.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);

    if (fraction.size() > layout.decimals) {
        const bool up = fraction[layout.decimals] >= '5';
        fraction.resize(layout.decimals);
        if (up) {
            std::string digits = integer + fraction;
            if (IncrementDigits(digits)) {
                digits.insert(0, 1, '1');
            }
            integer = digits.substr(0, digits.size() - layout.decimals);
            fraction = digits.substr(digits.size() - layout.decimals);
        }
    } else {
        fraction.append(layout.decimals - fraction.size(), '0');
    }

    const std::size_t significant = integer.find_first_not_of('0');
    integer = significant == std::string::npos ? std::string() : integer.substr(significant);
    const bool zero = integer.empty() && fraction.find_first_not_of('0') == std::string::npos;
    if (integer.size() < layout.minInteger) {
        integer.insert(0, layout.minInteger - integer.size(), '0');
    }

    std::string out;
    if (value < 0 && !zero) {
        out += '-';
    }
    out += layout.prefix;
    out += integer;
    if (layout.point) {
        out += '.';
        out += fraction;
    }
    return out;
}

std::string ShortestText(double value) {
    RequireFinite(value, "ShortestText");
    std::string text = MagnitudeText(value);
    if (value < 0) {
        text.insert(0, 1, '-');
    }
    return text;
}

std::optional<double> ParseStrict(std::string_view text) {
    const std::string_view body = TrimBlanks(text);
    const DecimalScan scan = ScanDecimal(body, "Ee");
    if (scan.length == 0 || scan.length != body.size()) {
        return std::nullopt;
    }
    const Converted converted = ConvertDecimal(scan);
    if (converted.outcome == Outcome::kOverflow) {
        return std::nullopt;
    }
    return converted.value;
}

double ParseLenient(std::string_view text) {
    std::string packed;
    packed.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') {
            packed += c;
        }
    }

    if (packed.size() >= 2 && packed[0] == '&') {
        const char radix = packed[1];
        const std::string_view rest = std::string_view(packed).substr(2);
        if (radix == 'H' || radix == 'h') {
            const std::size_t end = rest.find_first_not_of("0123456789abcdefABCDEF");
            return HexWhole(rest.substr(0, end));
        }
        if (radix == 'O' || radix == 'o') {
            const std::size_t end = rest.find_first_not_of("01234567");
            return HexWhole(OctalToHex(rest.substr(0, end)));
        }
        return 0;
    }

    const DecimalScan scan = ScanDecimal(packed, "EeDd");
    if (scan.length == 0) {
        return 0;
    }
    const Converted converted = ConvertDecimal(scan);
    if (converted.outcome == Outcome::kOverflow) {
        ThrowTooLarge();
    }
    return converted.value;
}

std::optional<std::int32_t> ParsePort(std::string_view text) {
    const auto value = ParseStrict(text);
    if (!value) {
        return std::nullopt;
    }
    double whole = std::round(*value);  // halves away from zero ...
    if (std::fabs(*value - std::trunc(*value)) == 0.5 && std::fmod(whole, 2.0) != 0) {
        whole -= std::copysign(1.0, *value);  // ... but a half goes to the even neighbour
    }
    if (whole < -2147483648.0 || whole > 2147483647.0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(whole);
}

}  // namespace heliostat::cycle
