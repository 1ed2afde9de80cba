#include "cycle/observatory_presets.h"

#include "base/number_text.h"

namespace heliostat::cycle {

const std::array<ObservatoryPreset, kObservatoryPresetCount>& ObservatoryPresets() {
    static const std::array<ObservatoryPreset, kObservatoryPresetCount> presets{{
        {"八王子", 35.64, 139.3},
        {"東京", 35.65, 139.7},
        {"札幌", 43.06, 141.3},
        {"仙台", 38.27, 140.9},
        {"名古屋", 35.17, 136.9},
        {"大阪", 34.68, 135.5},
        {"広島", 34.37, 132.4},
        {"福岡", 33.58, 130.4},
        {"那覇", 26.217, 127.7},
        {"その他・任意入力", std::nullopt, std::nullopt},
    }};
    return presets;
}

std::optional<ObservatoryTexts> LookupObservatory(std::string_view text) {
    for (const ObservatoryPreset& preset : ObservatoryPresets()) {
        if (preset.latitude && preset.longitude && preset.name == text) {
            return ObservatoryTexts{base::ShortestText(*preset.latitude),
                                    base::ShortestText(*preset.longitude)};
        }
    }
    return std::nullopt;
}

}  // namespace heliostat::cycle
