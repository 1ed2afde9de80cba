// Reply handling: a run of reply datagrams split into fields. Fields two and three, the
// dropped datagrams and the remainder left behind must match five calls of the splitter's
// reading, an empty datagram being dropped without touching the remainder.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "link/get_token.h"
#include "link/wire.h"
#include "rules_model.h"

using heliostat::fuzz::Quoted;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    heliostat::fuzz::SplitterModel model;
    heliostat::link::TokenRemainder().clear();

    while (data.remaining_bytes() > 0) {
        std::string payload = data.ConsumeRandomLengthString(512);
        if (data.ConsumeIntegralInRange(0, 15) == 0) {
            // A reply whose first comma lies near the scan limit.
            payload.insert(0, data.ConsumeIntegralInRange<std::size_t>(32760, 32770), '7');
        }
        const auto reply = heliostat::link::SplitReply(payload);

        std::string fields[5];
        bool dropped = payload.empty();
        for (int i = 0; i < 5 && !dropped; ++i) {
            const auto call =
                model.Call(i == 0 ? std::string_view(payload) : std::string_view(), ",");
            dropped = call.overflow;
            fields[i] = call.field;
        }
        const std::string context = "payload " + Quoted(payload.substr(0, 120)) + " (" +
                                    std::to_string(payload.size()) + " bytes)";
        FUZZ_CHECK(reply.has_value() == !dropped,
                   std::string(dropped ? "should be dropped; " : "was dropped; ") + context);
        if (reply) {
            FUZZ_CHECK(reply->azimuth == fields[1] && reply->elevation == fields[2],
                       "fields " + Quoted(reply->azimuth) + " " + Quoted(reply->elevation) +
                           " expected " + Quoted(fields[1]) + " " + Quoted(fields[2]) + "; " +
                           context);
        }
        FUZZ_CHECK(heliostat::link::TokenRemainder() == model.remainder(),
                   "remainder " + Quoted(heliostat::link::TokenRemainder().substr(0, 80)) +
                       " expected " + Quoted(model.remainder().substr(0, 80)) + "; " + context);
    }
    return 0;
}
