#pragma once

#include "mount.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct s_rot;

namespace heliostat::antenna {

// A Hamlib return code (RIG_OK or a negated error) as the controller treats it: a time-out,
// I/O, protocol or bus error means the rotator is lost; any other error is a refusal.
MountStatus ClassifyHamlibStatus(int code);

// One opened Hamlib rotator; closed and released on destruction.
class HamlibMount : public Mount {
public:
    struct Setup {
        int model = 1;
        std::string device;  // empty: the model's default
        std::vector<std::pair<std::string, std::string>> conf;
        bool verbose = false;
    };

    // Throws MountError: kBadSetup when the operator's setup is wrong (unknown model or
    // configuration key), kLost when the rotator did not answer.
    static std::unique_ptr<HamlibMount> Open(const Setup& setup);
    ~HamlibMount() override;

    HamlibMount(const HamlibMount&) = delete;
    HamlibMount& operator=(const HamlibMount&) = delete;

    // Hamlib's own messages go to sink one complete, non-blank line at a time (they come in
    // fragments, with stray line breaks, and from any thread), instead of straight to stderr.
    static void RouteMessages(std::function<void(std::string_view)> sink);

    Limits limits() const override { return limits_; }
    void setPosition(AzEl target) override;
    AzEl position() override;

    int model() const { return model_; }
    std::string name() const { return name_; }

private:
    HamlibMount(s_rot* rot, int model);

    s_rot* rot_;
    bool opened_ = false;
    int model_;
    std::string name_;
    Limits limits_;
};

}  // namespace heliostat::antenna
