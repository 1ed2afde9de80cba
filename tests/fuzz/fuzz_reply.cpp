// Reply handling: a run of reply datagrams split into fields. Fields two and three, the
// dropped datagrams and the remainder left behind must match five calls of the splitter's
// reading, an empty datagram being dropped without touching the remainder; and the rule for
// fields fit to be shown must match a plain reading of it. The first sixteen bytes, read as
// two angles, make a controller reply that the window must split back into its two texts and
// find fit to be shown.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/number_text.h"
#include "fuzz_check.h"
#include "link/get_token.h"
#include "link/wire.h"
#include "rules_model.h"

using heliostat::fuzz::Quoted;

namespace {

// A controller's reply for a mount position, as the window receives it.
void CheckControllerReply(double azimuth, double elevation) {
    // A rotator reports angles of at most a few turns; within a billion degrees the texts
    // stay within the 32 characters a shown field may have.
    if (!(std::fabs(azimuth) < 1e9) || !(std::fabs(elevation) < 1e9)) {
        return;
    }
    const std::string payload = heliostat::link::ReplyPayload(azimuth, elevation);
    const auto reply = heliostat::link::SplitReply(payload);
    const std::string az = heliostat::base::FormatPattern(azimuth, "000.00");
    const std::string el = heliostat::base::FormatPattern(elevation, "##.00");
    FUZZ_CHECK(payload == "0," + az + "," + el && reply && reply->azimuth == az &&
                   reply->elevation == el && heliostat::link::IsValidReplyField(az) &&
                   heliostat::link::IsValidReplyField(el),
               "controller reply " + Quoted(payload) + " not shown as " + Quoted(az) + " and " +
                   Quoted(el));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    heliostat::fuzz::SplitterModel model;
    if (size >= 2 * sizeof(double)) {
        double angles[2];
        std::memcpy(angles, bytes, sizeof angles);
        CheckControllerReply(angles[0], angles[1]);
    }
    heliostat::link::TokenRemainder().clear();

    while (data.remaining_bytes() > 0) {
        std::string payload = data.ConsumeRandomLengthString(512);
        if (data.ConsumeIntegralInRange(0, 15) == 1) {
            // A reply whose first comma lies near the scan limit.
            payload.insert(0, data.ConsumeIntegralInRange<std::size_t>(32760, 32770), '7');
        }
        const auto reply = heliostat::link::SplitReply(payload);
        // Whether each field may be shown, the payload itself taken as one field too.
        for (const std::string_view field :
             {std::string_view(payload),
              reply ? std::string_view(reply->azimuth) : std::string_view(),
              reply ? std::string_view(reply->elevation) : std::string_view()}) {
            FUZZ_CHECK(heliostat::link::IsValidReplyField(field) ==
                           heliostat::fuzz::ModelReplyField(field),
                       "IsValidReplyField(" + Quoted(field) + ") should be " +
                           (heliostat::fuzz::ModelReplyField(field) ? "true" : "false"));
        }

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
