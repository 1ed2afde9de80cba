#pragma once

#include "base/angles.h"

#include <functional>
#include <string>

namespace heliostat::antenna {

using base::AzEl;

struct Limits {
    double minAzimuth = 0;
    double maxAzimuth = 0;
    double minElevation = 0;
    double maxElevation = 0;
};

// How a call to the mount went. kLost: the rotator stopped answering (I/O error, time-out,
// garbled answer) and must be reopened; kFailed: it answered but refused.
enum class MountStatus { kOk, kFailed, kLost };

// The mount as the controller sees it; Hamlib in the program, a scripted one in tests. Only the
// rotator thread calls it. Errors come back as text for the log.
class Mount {
public:
    virtual ~Mount() = default;

    virtual Limits limits() const = 0;
    virtual MountStatus setPosition(AzEl target, std::string* error) = 0;
    virtual MountStatus position(AzEl* present, std::string* error) = 0;
};

// Between the sky and the mount's own axes: a commanded direction becomes the angles to drive
// (before the range and the cable-wrap rule), and the angles read become the direction a reply
// reports. Identity unless a model of the mount's errors is given.
struct MountGeometry {
    std::function<AzEl(AzEl)> toMount = [](AzEl sky) { return sky; };
    std::function<AzEl(AzEl)> toSky = [](AzEl mount) { return mount; };
};

}  // namespace heliostat::antenna
