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

// The mount as the controller sees it; Hamlib in the program, a scripted one in tests.
// Errors come back as text for the log.
class Mount {
public:
    virtual ~Mount() = default;

    virtual Limits limits() const = 0;
    // false with *error set when the rotator refused or could not be reached.
    virtual bool setPosition(Angles target, std::string* error) = 0;
    virtual bool position(Angles* present, std::string* error) = 0;
};

}  // namespace heliostat::antenna
