#include "link/link_health.h"

#include <cmath>

#include "base/number_text.h"

namespace heliostat::link {

namespace {

std::string WholeSeconds(double seconds) {
    return std::to_string(static_cast<long long>(std::floor(std::max(0.0, seconds))));
}

// A valid reply field may carry line breaks around its number (the controller's terminator).
std::optional<double> Angle(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    return base::ParseStrict(text.substr(begin, end - begin + 1));
}

}  // namespace

bool AnglesAgree(std::string_view commandedAzimuth, std::string_view commandedElevation,
                 std::string_view reportedAzimuth, std::string_view reportedElevation,
                 double tolerance) {
    const auto ca = Angle(commandedAzimuth);
    const auto ce = Angle(commandedElevation);
    const auto ra = Angle(reportedAzimuth);
    const auto re = Angle(reportedElevation);
    if (!ca || !ce || !ra || !re) {
        return false;
    }
    double azimuthGap = std::fmod(std::fabs(*ca - *ra), 360.0);
    azimuthGap = std::min(azimuthGap, 360.0 - azimuthGap);
    // A hair of slack so that a gap of exactly the tolerance between two-decimal texts counts.
    constexpr double kSlack = 1e-9;
    return azimuthGap <= tolerance + kSlack && std::fabs(*ce - *re) <= tolerance + kSlack;
}

LinkHealth ClassifyHealth(const HealthInput& input) {
    if (!input.running) {
        return LinkHealth::Stopped;
    }
    if (!input.refusal.empty()) {
        return LinkHealth::Silent;
    }
    const bool sending =
        input.secondsSinceCommand && *input.secondsSinceCommand <= input.timeoutSeconds;
    if (sending && input.secondsUnanswered && *input.secondsUnanswered > input.timeoutSeconds) {
        return LinkHealth::Silent;
    }
    if (!input.secondsSinceReply || *input.secondsSinceReply > input.timeoutSeconds) {
        return LinkHealth::Waiting;
    }
    if (input.flag == "limit") {
        return LinkHealth::Refused;
    }
    if (input.flag == "parked") {
        return LinkHealth::Parked;
    }
    return AnglesAgree(input.commandedAzimuth, input.commandedElevation, input.reportedAzimuth,
                       input.reportedElevation)
               ? LinkHealth::OnTarget
               : LinkHealth::Moving;
}

static std::string Trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1));
}

std::string SilenceLine(const HealthInput& input) {
    if (ClassifyHealth(input) == LinkHealth::Refused) {
        return "コントローラが範囲外の指令を拒否しました（方位角 " +
               Trimmed(input.commandedAzimuth) + " 仰角 " + Trimmed(input.commandedElevation) +
               "）";
    }
    if (ClassifyHealth(input) == LinkHealth::Parked) {
        return "コントローラが反射鏡を退避させました（指令が途絶えたため）";
    }
    if (!input.refusal.empty()) {
        // The chart is narrow: the reason without its technical remark, which the tooltip
        // keeps.
        return input.refusal.substr(0, input.refusal.find("（"));
    }
    const double age =
        input.secondsSinceReply ? *input.secondsSinceReply : input.secondsUnanswered.value_or(0);
    return "コントローラから応答なし（" + WholeSeconds(age) + "秒）";
}

std::string HealthDescription(LinkHealth health, const HealthInput& input) {
    const std::string age = input.secondsSinceReply
                                ? "最後の応答は" + WholeSeconds(*input.secondsSinceReply) + "秒前"
                                : std::string("応答はまだありません");
    switch (health) {
        case LinkHealth::Stopped:
            return "停止中";
        case LinkHealth::Waiting:
            return "アンテナコントローラの応答を待っています（" + age + "）";
        case LinkHealth::Silent:
            if (!input.refusal.empty()) {
                return input.refusal + "（" + age + "）";
            }
            return "アンテナコントローラから応答がありません（" + age + "）";
        case LinkHealth::Refused:
        case LinkHealth::Parked:
            return SilenceLine(input) + "（" + age + "）";
        case LinkHealth::Moving:
            return "移動中：設定角度との差が0.1°を超えています（" + age + "）";
        case LinkHealth::OnTarget:
            return "追尾中：設定角度との差は0.1°以内です（" + age + "）";
    }
    return {};
}

}  // namespace heliostat::link
