#pragma once

#include <stdexcept>
#include <string>

namespace heliostat {

// Every failure of a calculation, a conversion or a send is raised as this one type. what()
// is the Japanese message shown to the operator; failed() names the step that failed, for
// logs and tests.
class HeliostatError : public std::runtime_error {
public:
    HeliostatError(const std::string& message, std::string failed)
        : std::runtime_error(message), failed_(std::move(failed)) {}

    const std::string& failed() const noexcept { return failed_; }

private:
    std::string failed_;
};

}  // namespace heliostat
