#include "mount_model_file/mount_correction.h"

namespace heliostat::mount_file {

base::AzEl MountCorrection::ToMount(const base::AzEl& wanted) const {
    if (!model_) {
        return wanted;
    }
    return astro::MountInverse(*model_, {wanted.elevation, wanted.azimuth});
}

base::AzEl MountCorrection::ToDirection(const base::AzEl& mount) const {
    if (!model_) {
        return mount;
    }
    const astro::SkyDirection d = astro::MountForward(*model_, mount);
    return {d.azimuth, d.elevation};
}

}  // namespace heliostat::mount_file
