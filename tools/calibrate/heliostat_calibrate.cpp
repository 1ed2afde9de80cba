// heliostat-calibrate: records calibration observations through the antenna controller and
// fits the mount model to them.

#include <QStringList>
#include <cstdio>

#include "calibrate/calibrate_run.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return heliostat::calibrate::RunCalibrate(arguments, stdout, stderr);
}
