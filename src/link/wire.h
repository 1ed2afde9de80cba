#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/angles.h"

namespace heliostat::link {

// The command datagram "0,AZ,EL" from the texts of txtMirrorAzimuth and txtMirrorElevation,
// unchanged; no terminator.
std::string CommandPayload(std::string_view azimuthText, std::string_view elevationText);

struct ReplyFields {
    std::string azimuth;    // second field, shown in txtAntennaAzimuth
    std::string elevation;  // third field, shown in txtAntennaElevation
    std::string flag;       // fourth field: the controller's word when it did not obey
};

// Splits a reply datagram with five GetToken calls on ",". Gives nothing (the datagram is
// dropped) when the payload is empty or the splitter overflows.
std::optional<ReplyFields> SplitReply(std::string_view payload);

// Whether a reply field may be shown as the mount's angle: empty, or a finite decimal number
// (optional sign, digits with at most one point, optional exponent) with blanks and line
// breaks around it, and at most 32 characters in all. Anything else (nan, inf, letters,
// control characters) would show the operator a position the mount does not have.
bool IsValidReplyField(std::string_view text);

// The controller's side. A command is exactly three fields: "0", then azimuth and elevation,
// each a number by the strict rule. Anything else gives nothing. Does not touch the program-wide
// GetToken remainder.
std::optional<base::AzEl> ParseCommand(std::string_view payload);

// The stow command, formatted exactly like a mirror command ("0,180.00,.00").
std::string StowPayload(const base::AzEl& stow);

// The reply "0,AZ,EL" of a mount position, in the window's formats ("000.00" and "##.00").
std::string ReplyPayload(double azimuth, double elevation);

}  // namespace heliostat::link
