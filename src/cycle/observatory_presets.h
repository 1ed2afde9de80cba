#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace heliostat::cycle {

// One entry of the observation-point list; the free-input entry has no coordinates.
struct ObservatoryPreset {
    std::string_view name;            // UTF-8
    std::optional<double> latitude;   // degrees, north positive
    std::optional<double> longitude;  // degrees, east positive
};

inline constexpr std::size_t kObservatoryPresetCount = 10;

// The list in its display order: nine cities, then "その他・任意入力".
const std::array<ObservatoryPreset, kObservatoryPresetCount>& ObservatoryPresets();

struct ObservatoryTexts {
    std::string latitude;
    std::string longitude;
};

// The coordinate texts (shortest decimal text of each double) of the city whose name equals
// `text` exactly, code unit by code unit; nothing for the free-input entry or any other text.
std::optional<ObservatoryTexts> LookupObservatory(std::string_view text);

}  // namespace heliostat::cycle
