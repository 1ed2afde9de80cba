#include "base/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include "base/errors.h"

namespace heliostat::base {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the run of digits from `at` ends.
std::size_t DigitsEnd(std::string_view text, std::size_t at) {
    return std::min(text.find_first_not_of("0123456789", at), text.size());
}

struct Layout {
    std::string_view prefix;  // literal text before the digits
    std::size_t minInteger;   // integer digits always shown ("0" placeholders)
    std::size_t decimals;     // digits after the point
    bool point;
};

Layout ParsePattern(std::string_view pattern) {
    Layout layout{};
    std::size_t i = 0;
    while (i < pattern.size() && pattern[i] != '#' && pattern[i] != '0' && pattern[i] != '.') {
        ++i;
    }
    if (i == pattern.size()) {
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

void RequireFinite(double value, const char* failed) {
    if (!std::isfinite(value)) {
        throw HeliostatError("数値が有限ではありません。", failed);
    }
}

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
    i = DigitsEnd(text, i);
    scan.integerDigits = text.substr(integerStart, i - integerStart);
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        i = DigitsEnd(text, i);
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
        j = DigitsEnd(text, j);
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

// The scanned number as the nearest double; nothing when it overflows.
std::optional<double> ConvertDecimal(const DecimalScan& scan) {
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
            return std::nullopt;
        }
        magnitude = 0;  // underflow: the nearest double is zero
    }
    return scan.negative ? -magnitude : magnitude;
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

// Octal digits regrouped as hexadecimal ones, so that both go through the same exact reader:
// from the right, four octal digits are twelve bits, three hexadecimal digits.
std::string OctalToHex(std::string_view digits) {
    std::string hex;
    while (!digits.empty()) {
        const std::size_t take = std::min<std::size_t>(digits.size(), 4);
        unsigned bits = 0;
        std::from_chars(digits.data() + digits.size() - take, digits.data() + digits.size(), bits,
                        8);
        std::array<char, 4> three;
        std::snprintf(three.data(), three.size(), "%03x", bits);
        hex.insert(0, three.data(), 3);
        digits.remove_suffix(take);
    }
    return hex;
}

// The shortest decimal text that reads back as |value|, written out in positional form: the
// integer digits then the fraction digits, from cell 1 of `work` (cell 0 is kept free for a
// carry out of the integer part). The shortest form is taken in scientific notation and
// expanded here: the fixed form of the library would print every binary digit of a large
// value (1e300 is not exactly representable) instead of the shortest digits.
struct Positional {
    std::array<char, 700> work;
    std::size_t integerLength = 0;  // at least 1: "0" for a magnitude below 1
    std::size_t fractionLength = 0;
};

void ShortestPositional(double value, Positional& p) {
    std::array<char, 32> scientific;
    const auto result = std::to_chars(scientific.data(), scientific.data() + scientific.size(),
                                      std::fabs(value), std::chars_format::scientific);
    const std::string_view sci(scientific.data(),
                               static_cast<std::size_t>(result.ptr - scientific.data()));
    const std::size_t e = sci.find('e');
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    // The significant digits without their point, copied to where they stand.
    const auto copyDigits = [&sci, e](char* to) {
        return static_cast<std::size_t>(std::remove_copy(sci.data(), sci.data() + e, to, '.') - to);
    };

    char* digits = p.work.data() + 1;
    if (exponent < 0) {
        digits[0] = '0';
        p.integerLength = 1;
        const auto zeros = static_cast<std::size_t>(-exponent - 1);
        std::fill_n(digits + 1, zeros, '0');
        p.fractionLength = zeros + copyDigits(digits + 1 + zeros);
    } else {
        p.integerLength = static_cast<std::size_t>(exponent) + 1;
        const std::size_t count = copyDigits(digits);
        if (count <= p.integerLength) {
            std::fill_n(digits + count, p.integerLength - count, '0');
            p.fractionLength = 0;
        } else {
            p.fractionLength = count - p.integerLength;
        }
    }
}

}  // namespace

std::string FormatPattern(double value, std::string_view pattern) {
    RequireFinite(value, "FormatPattern");
    const Layout layout = ParsePattern(pattern);

    // Rounding works on the shortest decimal text, so 2.675 rounds up as written. The digits
    // are worked on in place in one fixed buffer: the table tool formats millions of values.
    Positional p;
    ShortestPositional(value, p);
    std::array<char, 700>& work = p.work;
    std::size_t start = 1;
    std::size_t integerLength = p.integerLength;
    std::size_t fractionLength = p.fractionLength;
    char* digits = work.data() + start;

    if (fractionLength > layout.decimals) {
        const bool up = digits[integerLength + layout.decimals] >= '5';
        fractionLength = layout.decimals;
        if (up) {
            bool carry = true;
            for (std::size_t i = integerLength + fractionLength; i-- > 0 && carry;) {
                carry = digits[i] == '9';
                digits[i] = carry ? '0' : static_cast<char>(digits[i] + 1);
            }
            if (carry) {
                start = 0;
                work[0] = '1';
                ++integerLength;
            }
        }
    } else {
        std::fill_n(work.data() + start + integerLength + fractionLength,
                    layout.decimals - fractionLength, '0');
        fractionLength = layout.decimals;
    }

    const char* integer = work.data() + start;
    while (integerLength > 0 && *integer == '0') {
        ++integer;
        --integerLength;
    }
    const char* fraction = integer + integerLength;
    const bool zero = integerLength == 0 && std::all_of(fraction, fraction + fractionLength,
                                                        [](char c) { return c == '0'; });

    std::string out;
    if (value < 0 && !zero) {
        out += '-';
    }
    out += layout.prefix;
    if (integerLength < layout.minInteger) {
        out.append(layout.minInteger - integerLength, '0');
    }
    out.append(integer, integerLength);
    if (layout.point) {
        out += '.';
        out.append(fraction, fractionLength);
    }
    return out;
}

std::string ShortestText(double value) {
    RequireFinite(value, "ShortestText");
    Positional p;
    ShortestPositional(value, p);
    std::string text = value < 0 ? "-" : "";
    text.append(p.work.data() + 1, p.integerLength);
    if (p.fractionLength > 0) {
        text += '.';
        text.append(p.work.data() + 1 + p.integerLength, p.fractionLength);
    }
    return text;
}

std::optional<double> ParseStrict(std::string_view text) {
    const std::string_view body = TrimBlanks(text);
    const DecimalScan scan = ScanDecimal(body, "Ee");
    if (scan.length == 0 || scan.length != body.size()) {
        return std::nullopt;
    }
    return ConvertDecimal(scan);
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
    const auto value = ConvertDecimal(scan);
    if (!value) {
        ThrowTooLarge();
    }
    return *value;
}

std::optional<std::int32_t> ParsePort(std::string_view text) {
    const auto value = ParseStrict(text);
    if (!value) {
        return std::nullopt;
    }
    const double whole = std::nearbyint(*value);  // the default rounding: halves to even
    if (whole < -2147483648.0 || whole > 2147483647.0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(whole);
}

}  // namespace heliostat::base
