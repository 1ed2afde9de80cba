#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace heliostat::link {

// The command datagram "0,AZ,EL" from the texts of txtMirrorAzimuth and txtMirrorElevation,
// unchanged; no terminator.
std::string CommandPayload(std::string_view azimuthText, std::string_view elevationText);

struct ReplyFields {
    std::string azimuth;    // second field, shown in txtAntennaAzimuth
    std::string elevation;  // third field, shown in txtAntennaElevation
};

// Splits a reply datagram with five GetToken calls on ",". Gives nothing (the datagram is
// dropped) when the payload is empty or the splitter overflows.
std::optional<ReplyFields> SplitReply(std::string_view payload);

}  // namespace heliostat::link
