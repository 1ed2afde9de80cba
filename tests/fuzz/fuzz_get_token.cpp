// The field splitter over a run of calls: every field and the program-wide remainder must
// match a position-by-position reading of the rule, including the 32767 position limit.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/errors.h"
#include "fuzz_check.h"
#include "link/get_token.h"
#include "rules_model.h"

using heliostat::fuzz::Quoted;

namespace {

std::string Delimiter(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return std::string();
        case 1:
            return std::string(1, data.ConsumeIntegral<char>());
        case 2:
            return data.ConsumeRandomLengthString(3);
        default:
            return ",";
    }
}

// A text near the scan limit: one byte repeated, with an optional delimiter placed anywhere.
std::string LongText(FuzzedDataProvider& data) {
    const auto length = data.ConsumeIntegralInRange<std::size_t>(32760, 32770);
    std::string text(length, data.ConsumeBool() ? 'x' : ' ');
    if (data.ConsumeBool()) {
        text[data.ConsumeIntegralInRange<std::size_t>(32755, length - 1)] = ',';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    heliostat::fuzz::SplitterModel model;
    // The remainder lives for the whole program: start each input from a known one.
    heliostat::link::TokenRemainder() = data.ConsumeRandomLengthString(64);
    model.set_remainder(heliostat::link::TokenRemainder());

    for (int call = 0; call < 16 && data.remaining_bytes() > 0; ++call) {
        std::string source;
        switch (data.ConsumeIntegralInRange(0, 15)) {
            case 0:
                source = LongText(data);
                break;
            case 1:
            case 2:
            case 3:
            case 4:
            case 5:
            case 6:
                source = data.ConsumeRandomLengthString(256);
                break;
            default:
                break;  // continue the remainder
        }
        const std::string delimiter = Delimiter(data);
        const std::string before = heliostat::link::TokenRemainder();
        const auto expected = model.Call(source, delimiter);
        const std::string context = "source " + Quoted(source.substr(0, 80)) + " (" +
                                    std::to_string(source.size()) + " bytes), delimiter " +
                                    Quoted(delimiter) + ", remainder before " +
                                    Quoted(before.substr(0, 80));
        try {
            const std::string field = heliostat::link::GetToken(source, delimiter);
            FUZZ_CHECK(!expected.overflow, "expected an overflow; " + context);
            FUZZ_CHECK(field == expected.field, "field " + Quoted(field) + " expected " +
                                                    Quoted(expected.field) + "; " + context);
        } catch (const heliostat::HeliostatError&) {
            FUZZ_CHECK(expected.overflow, "unexpected overflow; " + context);
        }
        FUZZ_CHECK(heliostat::link::TokenRemainder() == model.remainder(),
                   "remainder " + Quoted(heliostat::link::TokenRemainder().substr(0, 80)) +
                       " expected " + Quoted(model.remainder().substr(0, 80)) + "; " + context);
    }
    return 0;
}
