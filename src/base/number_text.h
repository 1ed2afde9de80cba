#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace heliostat::base {

// The three value patterns of the result fields.
inline constexpr std::string_view kSunElevationPattern = " ##.00";
inline constexpr std::string_view kElevationPattern = "##.00";
inline constexpr std::string_view kAzimuthPattern = "000.00";

// Writes a value with one of the patterns above: rounded to two decimals, halves away from
// zero, applied to the shortest decimal text that reads back as the same double (2.675 gives
// 2.68); "#" digits only where significant (0.25 -> ".25"), "0" digits always (5.5 ->
// "005.50"), a longer integer part shown whole, a literal leading blank, a minus sign for a
// negative value (none when it rounds to zero). Throws HeliostatError for a non-finite value.
std::string FormatPattern(double value, std::string_view pattern);

// The shortest decimal text that reads back as the same double, "." as decimal point and no
// exponent (35.64 -> "35.64", 139.3 -> "139.3", 26.217 -> "26.217").
std::string ShortestText(double value);

// Strict rule (observation coordinates): the whole text must be a decimal number: optional
// sign, digits with at most one ".", optional exponent (E or e, optional sign, digits), blanks
// and tabs around it allowed. Empty text, anything else, or a value that overflows gives
// nothing.
std::optional<double> ParseStrict(std::string_view text);

// Lenient rule (target angles): blanks, tabs and line feeds anywhere are ignored, then the
// longest leading number is read (sign, digits, one ".", exponent with E or D; or &H / &O
// followed by a hexadecimal or octal whole number). No leading number gives 0. The only
// failure is a number too large for a double, which throws HeliostatError rather than
// letting an infinity into the calculation.
double ParseLenient(std::string_view text);

// Port rule: the strict rule, then rounded to the nearest whole number with halves to even;
// the result must fit a signed 32-bit integer.
std::optional<std::int32_t> ParsePort(std::string_view text);

}  // namespace heliostat::base
