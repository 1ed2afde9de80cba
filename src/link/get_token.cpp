#include "link/get_token.h"

#include <algorithm>

#include "base/errors.h"

namespace heliostat::link {

namespace {

// Positions are counted from 1 in a 16-bit signed integer; a scan that would have to step past
// this position cannot be represented and fails.
constexpr std::size_t kLastStopPosition = 32766;

}  // namespace

std::string& TokenRemainder() {
    static std::string remainder;
    return remainder;
}

std::string GetToken(std::string_view source, std::string_view delimiter) {
    std::string& remainder = TokenRemainder();
    const std::string_view work = source.empty() ? std::string_view(remainder) : source;

    // Only a single character can ever equal the one character the scan compares.
    std::size_t stop = work.size();
    if (delimiter.size() == 1) {
        stop = std::min(work.find(delimiter.front()), work.size());
    }
    if (stop + 1 > kLastStopPosition) {
        throw HeliostatError("オーバーフローしました。", "GetToken");
    }

    std::string field(work.substr(0, stop));
    // Built before the assignment because work may view the remainder itself.
    std::string rest(stop < work.size() ? work.substr(stop + 1) : std::string_view());
    remainder = std::move(rest);
    return field;
}

}  // namespace heliostat::link
