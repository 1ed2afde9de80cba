// The number-text rules against a second reading of them: the input is read as a text by the
// strict, lenient and port rules, and its first eight bytes (and the strict value, when there
// is one) are written with the three field patterns and as the shortest text, and so is a
// value next to a rounding boundary made from the same bytes.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "base/errors.h"
#include "base/number_text.h"
#include "fuzz_check.h"
#include "rules_model.h"

namespace {

using heliostat::fuzz::Quoted;
namespace base = heliostat::base;
namespace model = heliostat::fuzz;

std::string Show(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

void CheckParsers(const std::string& text) {
    const auto strict = base::ParseStrict(text);
    const auto expectedStrict = model::ModelStrict(text);
    FUZZ_CHECK(
        strict.has_value() == expectedStrict.has_value() && (!strict || *strict == *expectedStrict),
        "ParseStrict(" + Quoted(text) + ") = " + (strict ? Show(*strict) : "nothing") +
            ", expected " + (expectedStrict ? Show(*expectedStrict) : "nothing"));

    const auto port = base::ParsePort(text);
    const auto expectedPort = model::ModelPort(text);
    FUZZ_CHECK(port == expectedPort,
               "ParsePort(" + Quoted(text) + ") = " + (port ? std::to_string(*port) : "nothing") +
                   ", expected " + (expectedPort ? std::to_string(*expectedPort) : "nothing"));

    const model::LenientResult expected = model::ModelLenient(text);
    try {
        const double lenient = base::ParseLenient(text);
        FUZZ_CHECK(
            std::holds_alternative<double>(expected) && lenient == std::get<double>(expected),
            "ParseLenient(" + Quoted(text) + ") = " + Show(lenient) + ", expected " +
                (std::holds_alternative<double>(expected) ? Show(std::get<double>(expected))
                                                          : std::string("too large")));
    } catch (const heliostat::HeliostatError&) {
        FUZZ_CHECK(std::holds_alternative<model::TooLarge>(expected),
                   "ParseLenient(" + Quoted(text) + ") failed, expected " +
                       Show(std::get<double>(expected)));
    }
}

void CheckWriters(double value) {
    if (!std::isfinite(value)) {
        for (const auto pattern :
             {base::kSunElevationPattern, base::kElevationPattern, base::kAzimuthPattern}) {
            bool threw = false;
            try {
                base::FormatPattern(value, pattern);
            } catch (const heliostat::HeliostatError&) {
                threw = true;
            }
            FUZZ_CHECK(threw, "FormatPattern accepted " + Show(value));
        }
        return;
    }
    const std::string shortest = base::ShortestText(value);
    FUZZ_CHECK(shortest == model::ModelShortest(value), "ShortestText(" + Show(value) +
                                                            ") = " + shortest + ", expected " +
                                                            model::ModelShortest(value));
    // The shortest text is itself a strict number text that reads back exactly.
    const auto back = base::ParseStrict(shortest);
    FUZZ_CHECK(back && *back == value, "ShortestText(" + Show(value) + ") does not read back");

    const struct {
        std::string_view pattern, prefix;
        std::size_t minInteger;
    } patterns[] = {{base::kSunElevationPattern, " ", 0},
                    {base::kElevationPattern, "", 0},
                    {base::kAzimuthPattern, "", 3}};
    for (const auto& p : patterns) {
        const std::string text = base::FormatPattern(value, p.pattern);
        const std::string expected = model::ModelPattern(value, p.prefix, p.minInteger);
        FUZZ_CHECK(text == expected, "FormatPattern(" + Show(value) + ", " + Quoted(p.pattern) +
                                         ") = " + Quoted(text) + ", expected " + Quoted(expected));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    CheckParsers(text);
    if (const auto value = base::ParseStrict(text)) {
        CheckWriters(*value);
    }
    if (size >= sizeof(std::uint64_t)) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, bytes, sizeof bits);
        CheckWriters(std::bit_cast<double>(bits));
        // The same bits as a value a few units in the last place from a rounding boundary
        // (a half hundredth), where a shortcut on the binary value would go wrong first.
        double near = (static_cast<double>(bits % 100'000'000'000) + 0.5) / 100;
        for (int step = static_cast<int>((bits >> 48) % 17) - 8; step != 0;
             step += step > 0 ? -1 : 1) {
            near = std::nextafter(near, step > 0 ? HUGE_VAL : -HUGE_VAL);
        }
        CheckWriters((bits >> 63) != 0 ? -near : near);
    }
    return 0;
}
