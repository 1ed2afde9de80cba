#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "base/errors.h"

// Floating-point and integer operations that raise HeliostatError instead of producing NaN,
// infinity or a wrapped integer. The astronomy routines use them for every operation that can
// fail, so no invalid value ever leaves them.
namespace heliostat::astro::checked {

// Where an operation runs: the routine, what it computes (for the operator) and the step.
struct Step {
    const char* routine;  // "CALSUN"
    const char* task;     // "太陽位置"
    const char* name;     // "天頂角"
};

[[noreturn]] inline void Fail(const Step& step, const std::string& reason) {
    throw HeliostatError(
        std::string(step.task) + "の計算に失敗しました（" + step.name + "）：" + reason,
        std::string(step.routine) + ": " + step.name);
}

inline double Finite(double value, const Step& step) {
    if (!std::isfinite(value)) {
        Fail(step, "数値が範囲を超えたか、無効な演算になりました。");
    }
    return value;
}

inline double Div(double numerator, double divisor, const Step& step) {
    if (divisor == 0) {
        Fail(step, "0 で割る演算になりました。");
    }
    return Finite(numerator / divisor, step);
}

inline double Sqrt(double value, const Step& step) {
    if (!(value >= 0)) {
        Fail(step, "負の数の平方根を求める演算になりました。");
    }
    return Finite(std::sqrt(value), step);
}

inline std::int64_t Add(std::int64_t a, std::int64_t b, const Step& step) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) {
        Fail(step, "整数の範囲を超えました。");
    }
    return r;
}

inline std::int64_t Mul(std::int64_t a, std::int64_t b, const Step& step) {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) {
        Fail(step, "整数の範囲を超えました。");
    }
    return r;
}

}  // namespace heliostat::astro::checked
