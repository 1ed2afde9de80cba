#pragma once

#include "base/angles.h"
#include "base/errors.h"

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
// garbled answer) and must be reopened; kFailed: it answered but refused; kBadSetup: it could
// not be opened because the operator's setup names no such model or configuration key.
enum class MountStatus { kOk, kFailed, kLost, kBadSetup };

// A mount call that did not succeed; what() is the text for the log.
class MountError : public HeliostatError {
public:
    MountError(const std::string& message, MountStatus status)
        : HeliostatError(message, "mount"), status_(status) {}

    MountStatus status() const noexcept { return status_; }
    bool lost() const noexcept { return status_ == MountStatus::kLost; }

private:
    MountStatus status_;
};

// The mount as the controller sees it; Hamlib in the program, a scripted one in tests. Only the
// rotator thread calls it. Both calls throw MountError.
class Mount {
public:
    virtual ~Mount() = default;

    virtual Limits limits() const = 0;
    virtual void setPosition(AzEl target) = 0;
    virtual AzEl position() = 0;
};

// Between the sky and the mount's own axes: a commanded direction becomes the angles to drive
// (before the range and the cable-wrap rule), and the angles read become the direction a reply
// reports. Identity unless a model of the mount's errors is given.
struct MountGeometry {
    std::function<AzEl(AzEl)> toMount = [](AzEl sky) { return sky; };
    std::function<AzEl(AzEl)> toSky = [](AzEl mount) { return mount; };
};

}  // namespace heliostat::antenna
