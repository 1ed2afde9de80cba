#include "calibrate/calibration.h"

#include <ceres/ceres.h>
#include <erfa.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <memory>

#include "base/errors.h"

namespace heliostat::calibrate {

namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;
using Parameters = std::array<double, astro::kMountParameterCount>;

struct Vec {
    double v[3];
};

double Dot(const double* a, const double* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The horizon frame of the mount model: x north, y west, z up.
Vec Unit(const astro::SkyDirection& d) {
    Vec u;
    eraS2c(-d.azimuth * kRad, d.elevation * kRad, u.v);
    return u;
}

// One observation: the sunlight the modelled mirror reflects, against the target, as two
// small angles in mrad across the target direction (along growing azimuth and elevation).
// Two components rather than the angle itself keep the least squares smooth at zero.
class BeamResidual {
public:
    BeamResidual(const astro::SkyDirection& sun, const astro::SkyDirection& target,
                 astro::MountAngles mount)
        : sun_(Unit(sun)), mount_(mount) {
        const double az = target.azimuth * kRad, el = target.elevation * kRad;
        eAz_ = {{-std::sin(az), -std::cos(az), 0}};
        eEl_ = {{-std::sin(el) * std::cos(az), std::sin(el) * std::sin(az), std::cos(el)}};
    }

    bool operator()(const double* p, double* residual) const {
        Parameters values;
        std::copy(p, p + values.size(), values.begin());
        astro::SkyDirection normal;
        try {
            normal = astro::MountForward(astro::MountModelFromParameters(values), mount_);
        } catch (const HeliostatError&) {
            return false;
        }
        const Vec n = Unit(normal);
        const double sn = Dot(sun_.v, n.v);
        double reflected[3];
        for (int i = 0; i < 3; ++i) {
            reflected[i] = 2 * sn * n.v[i] - sun_.v[i];
        }
        residual[0] = 1000 * Dot(reflected, eAz_.v);
        residual[1] = 1000 * Dot(reflected, eEl_.v);
        return std::isfinite(residual[0]) && std::isfinite(residual[1]);
    }

private:
    Vec sun_;
    astro::MountAngles mount_;
    Vec eAz_{}, eEl_{};
};

// Levenberg-Marquardt over the chosen observations, from `p` in place; `robust` puts a Cauchy
// loss on each observation so that a few gross ones cannot pull the rest.
void Solve(const std::vector<BeamResidual>& residuals, const std::vector<bool>& use, bool robust,
           Parameters& p) {
    ceres::Problem::Options problemOptions;
    problemOptions.cost_function_ownership = ceres::TAKE_OWNERSHIP;
    problemOptions.loss_function_ownership = ceres::TAKE_OWNERSHIP;
    ceres::Problem problem(problemOptions);
    problem.AddParameterBlock(p.data(), static_cast<int>(p.size()));
    for (std::size_t i = 0; i < residuals.size(); ++i) {
        if (!use[i]) {
            continue;
        }
        auto* cost =
            new ceres::NumericDiffCostFunction<BeamResidual, ceres::CENTRAL, 2,
                                               static_cast<int>(astro::kMountParameterCount)>(
                new BeamResidual(residuals[i]));
        // Beam errors up to about a milliradian count in full; beyond, ever less.
        problem.AddResidualBlock(cost, robust ? new ceres::CauchyLoss(1.0) : nullptr, p.data());
    }
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_QR;
    options.max_num_iterations = 100;
    options.function_tolerance = 1e-14;
    options.parameter_tolerance = 1e-14;
    options.gradient_tolerance = 1e-16;
    options.logging_type = ceres::SILENT;
    options.num_threads = 1;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
}

double BeamErrorDeg(const BeamResidual& residual, const Parameters& p) {
    double r[2];
    if (!residual(p.data(), r)) {
        return HUGE_VAL;
    }
    // The two components are the sines of the offsets across the target.
    return std::asin(std::min(1.0, std::hypot(r[0], r[1]) / 1000)) / kRad;
}

}  // namespace

FitResult FitMountModel(const std::vector<Observation>& observations, const astro::Site& site,
                        const astro::SkyDirection& target) {
    if (observations.size() < kMinimumObservations) {
        throw HeliostatError("観測が " + std::to_string(observations.size()) +
                                 " 件しかありません。架台モデルの当てはめには " +
                                 std::to_string(kMinimumObservations) + " 件以上が必要です",
                             "FitMountModel");
    }
    std::vector<BeamResidual> residuals;
    std::vector<astro::SkyDirection> suns;
    residuals.reserve(observations.size());
    for (const Observation& o : observations) {
        const astro::PreciseSunPosition sun = astro::PreciseSun(o.utc, site);
        suns.push_back({sun.elevation, sun.azimuth});
        residuals.emplace_back(suns.back(), target, o.mount);
    }
    const std::size_t n = observations.size();
    FitResult result;
    result.singleDay = std::all_of(observations.begin(), observations.end(), [&](const auto& o) {
        return o.jst.substr(0, 10) == observations.front().jst.substr(0, 10);
    });
    for (std::size_t i = 0; i < n; ++i) {
        result.beforeDeg.push_back(astro::BeamError(
            {observations[i].mount.elevation, observations[i].mount.azimuth}, suns[i], target));
    }

    // Plain least squares from the perfect mount to get near, then robust from there.
    Parameters p{};
    std::vector<bool> use(n, true);
    Solve(residuals, use, false, p);
    Solve(residuals, use, true, p);

    std::vector<double> errors(n);
    for (std::size_t i = 0; i < n; ++i) {
        errors[i] = BeamErrorDeg(residuals[i], p);
    }
    std::vector<double> sorted = errors;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 2),
                     sorted.end());
    const double limit = std::max(kOutlierFloorDeg, 5 * 1.4826 * sorted[n / 2]);
    result.outlier.assign(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        result.outlier[i] = !(errors[i] <= limit);
        use[i] = !result.outlier[i];
    }
    result.used = static_cast<std::size_t>(std::count(use.begin(), use.end(), true));
    if (result.used < kMinimumObservations) {
        throw HeliostatError("外れ値を除くと観測が " + std::to_string(result.used) +
                                 " 件になり、当てはめに必要な " +
                                 std::to_string(kMinimumObservations) + " 件に足りません",
                             "FitMountModel");
    }
    // The model itself and its uncertainty come from plain least squares over the rest.
    Solve(residuals, use, false, p);
    result.model = astro::MountModelFromParameters(p);

    // Jacobian of the residuals by central differences (mrad per degree) for the covariance.
    constexpr std::size_t kP = astro::kMountParameterCount;
    Eigen::MatrixXd jacobian(2 * static_cast<Eigen::Index>(result.used), kP);
    double squares = 0;
    Eigen::Index row = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!use[i]) {
            continue;
        }
        double r[2];
        residuals[i](p.data(), r);
        squares += r[0] * r[0] + r[1] * r[1];
        for (std::size_t k = 0; k < kP; ++k) {
            constexpr double h = 1e-4;
            Parameters up = p, down = p;
            up[k] += h;
            down[k] -= h;
            double ru[2], rd[2];
            residuals[i](up.data(), ru);
            residuals[i](down.data(), rd);
            jacobian(row, static_cast<Eigen::Index>(k)) = (ru[0] - rd[0]) / (2 * h);
            jacobian(row + 1, static_cast<Eigen::Index>(k)) = (ru[1] - rd[1]) / (2 * h);
        }
        row += 2;
    }
    const double freedom = 2.0 * static_cast<double>(result.used) - static_cast<double>(kP);
    const double sigma = freedom > 0 ? std::sqrt(squares / freedom) : 0;
    // Directions the observations do not see at all get a tiny eigenvalue rather than none, so
    // that their parameters come out with a huge standard error instead of a division by zero.
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(jacobian.transpose() * jacobian);
    Eigen::VectorXd values = eigen.eigenvalues();
    const double floor = std::max(values.maxCoeff(), 1e-300) * 1e-14;
    for (Eigen::Index k = 0; k < values.size(); ++k) {
        values[k] = 1 / std::max(values[k], floor);
    }
    const Eigen::MatrixXd covariance =
        eigen.eigenvectors() * values.asDiagonal() * eigen.eigenvectors().transpose();
    for (std::size_t k = 0; k < kP; ++k) {
        const double spread =
            std::sqrt(covariance(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k)));
        result.standardErrors[k] = sigma * spread;
        result.poorlyDetermined[k] = std::max(sigma, kNoiseFloorMrad) * spread > kPoorlyDetermined;
    }

    for (std::size_t i = 0; i < n; ++i) {
        result.afterDeg.push_back(astro::BeamError(
            astro::MountForward(result.model, observations[i].mount), suns[i], target));
        if (use[i]) {
            result.rmsDeg += result.afterDeg[i] * result.afterDeg[i];
            result.maxDeg = std::max(result.maxDeg, result.afterDeg[i]);
        }
    }
    result.rmsDeg = std::sqrt(result.rmsDeg / static_cast<double>(result.used));
    return result;
}

}  // namespace heliostat::calibrate
