#include "cycle/memory_host.h"

#include <bit>
#include <cstdint>
#include <utility>

namespace heliostat::cycle {

namespace {

bool SameInput(const astro::RiseSetInput& a, const astro::RiseSetInput& b) {
    return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.DayOfYear == b.DayOfYear &&
           std::bit_cast<std::uint64_t>(a.LatitudeRad) ==
               std::bit_cast<std::uint64_t>(b.LatitudeRad) &&
           std::bit_cast<std::uint64_t>(a.Longitude) == std::bit_cast<std::uint64_t>(b.Longitude);
}

}  // namespace

MemoryHost::MemoryHost(std::string latitude, std::string longitude) {
    Text(Field::ObserverLatitude) = std::move(latitude);
    Text(Field::ObserverLongtitude) = std::move(longitude);
}

astro::RiseSet MemoryHost::Calrise(const astro::RiseSetInput& input) {
    if (!memo_ || !SameInput(memo_->input, input)) {
        memo_.emplace(Memo{input, {}, {}});
        try {
            memo_->result = astro::CALRISE(input);
        } catch (const std::exception&) {
            memo_->failure = std::current_exception();
        }
    }
    if (memo_->failure) {
        std::rethrow_exception(memo_->failure);
    }
    return memo_->result;
}

}  // namespace heliostat::cycle
