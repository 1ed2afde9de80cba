#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace heliostat::link {

// What the operator is told about the mount, from the age of the last valid reply and how
// well it agrees with the command.
enum class LinkHealth {
    Stopped,   // the link is not running
    Waiting,   // running, no reply yet, the timeout has not run out
    Silent,    // commands go out and none was answered for longer than the timeout, or the
               // send was refused
    Refused,   // the controller answered that the command lies outside the rotator's range
    Parked,    // the controller parked the mirror because commands stopped
    Moving,    // a fresh reply, not yet within the tolerance of the command
    OnTarget,  // a fresh reply within the tolerance on both axes
};

inline constexpr double kOnTargetToleranceDegrees = 0.1;
inline constexpr double kDefaultReplyTimeoutSeconds = 3;

struct HealthInput {
    bool running = false;
    double secondsSinceStart = 0;
    std::optional<double> secondsSinceReply;  // since the last valid reply of this run
    // Since the first command that no valid reply has followed, and since the last command:
    // silence is counted only while commands go out, so a run of failed cycles (which send
    // nothing) is not blamed on the controller.
    std::optional<double> secondsUnanswered;
    std::optional<double> secondsSinceCommand;
    double timeoutSeconds = kDefaultReplyTimeoutSeconds;
    std::string refusal;  // why the last send was refused; empty when it was not
    // The last command sent and the last valid reply shown (field texts).
    std::string commandedAzimuth, commandedElevation;
    std::string reportedAzimuth, reportedElevation;
    std::string flag;  // the last valid reply's fourth field ("limit", "parked", ...), trimmed
};

LinkHealth ClassifyHealth(const HealthInput& input);

// Both axes within `tolerance` degrees; azimuths compared around the circle (360.00 and 000.00
// agree). Texts that are not numbers never agree.
bool AnglesAgree(std::string_view commandedAzimuth, std::string_view commandedElevation,
                 std::string_view reportedAzimuth, std::string_view reportedElevation,
                 double tolerance = kOnTargetToleranceDegrees);

// The state in words for the fields' tooltip (UTF-8 Japanese), with the reply's age.
std::string HealthDescription(LinkHealth health, const HealthInput& input);

// The chart's one line for a red link: "コントローラから応答なし（12秒）", the refusal's
// reason up to its first full-width parenthesis, or what the controller refused or did.
std::string SilenceLine(const HealthInput& input);

}  // namespace heliostat::link
