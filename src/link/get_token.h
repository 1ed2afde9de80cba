#pragma once

#include <string>
#include <string_view>

namespace heliostat::link {

// The unread rest of the text the last successful GetToken call worked on; one for the whole
// program, empty at start-up.
std::string& TokenRemainder();

// Hands out the fields of a delimited text one at a time. A non-empty source starts a new
// text; an empty source continues TokenRemainder(). Texts are bytes, one character per byte.
// Throws HeliostatError (overflow) when the scan reaches position 32767; the remainder is
// then left as it was.
std::string GetToken(std::string_view source, std::string_view delimiter);

}  // namespace heliostat::link
