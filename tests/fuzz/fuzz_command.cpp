// The controller's command parser: exactly three comma-separated fields, "0" and two strict
// numbers, read without touching the window's splitter remainder.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "link/get_token.h"
#include "link/wire.h"
#include "rules_model.h"

using heliostat::fuzz::Quoted;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string payload(reinterpret_cast<const char*>(bytes), size);
    heliostat::link::TokenRemainder() = "untouched,remainder";

    std::vector<std::string> fields(1);
    for (const char c : payload) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    std::optional<double> azimuth, elevation;
    if (fields.size() == 3 && fields[0] == "0") {
        azimuth = heliostat::fuzz::ModelStrict(fields[1]);
        elevation = heliostat::fuzz::ModelStrict(fields[2]);
    }
    const bool valid = azimuth && elevation;

    const auto command = heliostat::link::ParseCommand(payload);
    FUZZ_CHECK(command.has_value() == valid,
               Quoted(payload) + (valid ? " was refused" : " was accepted"));
    if (command) {
        FUZZ_CHECK(command->azimuth == *azimuth && command->elevation == *elevation,
                   Quoted(payload) + " read as other numbers");
    }
    FUZZ_CHECK(heliostat::link::TokenRemainder() == "untouched,remainder",
               "the splitter remainder changed on " + Quoted(payload));
    return 0;
}
