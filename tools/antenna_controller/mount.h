#pragma once

#include <string>

namespace heliostat::antenna {

struct Angles {
    double azimuth = 0;
    double elevation = 0;
};

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
    virtual MountStatus setPosition(Angles target, std::string* error) = 0;
    virtual MountStatus position(Angles* present, std::string* error) = 0;
};

}  // namespace heliostat::antenna
