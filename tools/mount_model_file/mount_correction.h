#pragma once

#include <optional>

#include "astro/mount_model.h"
#include "base/angles.h"

namespace heliostat::mount_file {

// What the antenna controller does with a mount model: a commanded mirror direction becomes
// the mount angles to drive, and the angles the mount reports become the direction the
// mirror truly faces, so that the window compares like with like. Without a model both are
// the identity, to the bit.
class MountCorrection {
public:
    MountCorrection() = default;
    explicit MountCorrection(const astro::MountModel& model) : model_(model) {}

    bool Active() const { return model_.has_value(); }

    // The inverse model; throws HeliostatError for a direction the mount cannot face.
    base::AzEl ToMount(const base::AzEl& wanted) const;
    // The forward model.
    base::AzEl ToDirection(const base::AzEl& mount) const;

private:
    std::optional<astro::MountModel> model_;
};

}  // namespace heliostat::mount_file
