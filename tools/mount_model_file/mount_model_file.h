#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <vector>

#include "astro/mount_model.h"

// The fitted mount model as a file: JSON, versioned, angles in degrees. heliostat-calibrate
// writes it; the antenna controller and the table tool read it with --mount-model.
namespace heliostat::mount_file {

inline constexpr int kFormatVersion = 1;
inline constexpr const char* kFormatName = "heliostat-mount-model";
// No real mount is this far out; a larger value is a mistake in the file, not a mount.
inline constexpr double kLargestParameter = 5.0;

struct ObservationResidual {
    QString jst;           // "YYYY-MM-DD HH:MM:SS"
    double beforeDeg = 0;  // beam error with the mount's angles taken as the direction
    double afterDeg = 0;   // beam error with the fitted model
    bool outlier = false;  // dropped from the fit
};

struct MountModelFile {
    astro::MountModel model;
    std::array<double, astro::kMountParameterCount> standardErrors{};  // degrees
    int observationCount = 0;
    int usedCount = 0;
    QString firstJst, lastJst;      // the observations' date range
    double rmsDeg = 0, maxDeg = 0;  // of the observations used, after the fit
    std::vector<ObservationResidual> residuals;
};

QByteArray MountModelJson(const MountModelFile& file);

// Throws base::UsageError worded in Japanese, naming the file and the field: a file that is
// missing or unreadable, text that is not a JSON object, a wrong format or version, a missing or
// non-numeric parameter value or standard error, or a parameter beyond kLargestParameter.
MountModelFile ParseMountModelJson(const QByteArray& json, const QString& path);
MountModelFile ReadMountModelFile(const QString& path);

// Writes the file whole (through a temporary file renamed into place); false with the reason
// in `error` when it cannot.
bool WriteMountModelFile(const QString& path, const MountModelFile& file, QString& error);

}  // namespace heliostat::mount_file
