#include "hamlib_mount.h"

#include <hamlib/rotator.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

namespace heliostat::antenna {

namespace {

std::string HamlibError(const char* call, int code) {
    std::string text = std::string(call) + ": " + rigerror2(code);
    // Hamlib's texts end in a blank or a line break.
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

}  // namespace

// Errors after which the rotator has to be reopened: the link is gone, silent or out of step.
MountStatus ClassifyHamlibStatus(int code) {
    switch (-code) {
        case RIG_OK:
            return MountStatus::kOk;
        case RIG_EIO:
        case RIG_ETIMEOUT:
        case RIG_EPROTO:
        case RIG_BUSERROR:
        case RIG_BUSBUSY:
            return MountStatus::kLost;
        default:
            return MountStatus::kFailed;
    }
}

namespace {

std::mutex g_sinkMutex;
std::function<void(std::string_view)> g_sink;

extern "C" int OnHamlibMessage(enum rig_debug_level_e, rig_ptr_t, const char* format,
                               va_list args) {
    // A message may be a fragment of a line; the rest follows in the next call of this thread.
    thread_local std::string pending;
    char buffer[1024];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n <= 0) {
        return n;
    }
    pending.append(buffer, static_cast<size_t>(std::min<int>(n, sizeof buffer - 1)));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const std::lock_guard lock(g_sinkMutex);
        if (g_sink) {
            g_sink(line);
        }
    }
    return n;
}

}  // namespace

void HamlibMount::RouteMessages(std::function<void(std::string_view)> sink) {
    {
        const std::lock_guard lock(g_sinkMutex);
        g_sink = std::move(sink);
    }
    rig_set_debug_callback(OnHamlibMessage, nullptr);
}

std::unique_ptr<HamlibMount> HamlibMount::Open(const Setup& setup) {
    // Hamlib reports at its own debug level to stderr; quiet unless the operator asked.
    rig_set_debug(setup.verbose ? RIG_DEBUG_VERBOSE : RIG_DEBUG_NONE);
    ROT* rot = rot_init(static_cast<rot_model_t>(setup.model));
    if (rot == nullptr) {
        throw MountError("Hamlib has no rotator model " + std::to_string(setup.model),
                         MountStatus::kBadSetup);
    }
    std::unique_ptr<HamlibMount> mount(new HamlibMount(rot, setup.model));
    auto setConf = [&](const std::string& key, const std::string& value) {
        const token_t token = rot_token_lookup(rot, key.c_str());
        if (token == RIG_CONF_END) {
            throw MountError("unknown Hamlib configuration key \"" + key + "\" for model " +
                                 std::to_string(setup.model),
                             MountStatus::kBadSetup);
        }
        if (const int rc = rot_set_conf(rot, token, value.c_str()); rc != RIG_OK) {
            throw MountError("configuration " + key + "=" + value + " refused: " + rigerror2(rc),
                             MountStatus::kBadSetup);
        }
    };
    if (!setup.device.empty()) {
        setConf("rot_pathname", setup.device);
    }
    for (const auto& [key, value] : setup.conf) {
        setConf(key, value);
    }
    if (const int rc = rot_open(rot); rc != RIG_OK) {
        // rot_cleanup without rot_close (the destructor's): the port was never opened.
        throw MountError(HamlibError("rot_open", rc), MountStatus::kLost);
    }
    mount->opened_ = true;
    // Limits are read after opening: the network model learns them from rotctld then.
    const rot_state& state = rot->state;
    mount->limits_ = {state.min_az, state.max_az, state.min_el, state.max_el};
    const rot_caps* caps = rot->caps;
    mount->name_ = std::string(caps->mfg_name ? caps->mfg_name : "") + " " +
                   (caps->model_name ? caps->model_name : "");
    return mount;
}

HamlibMount::HamlibMount(s_rot* rot, int model) : rot_(rot), model_(model) {}

HamlibMount::~HamlibMount() {
    if (opened_) {
        rot_close(rot_);
    }
    rot_cleanup(rot_);
}

void HamlibMount::setPosition(AzEl target) {
    const int rc = rot_set_position(rot_, static_cast<azimuth_t>(target.azimuth),
                                    static_cast<elevation_t>(target.elevation));
    if (rc != RIG_OK) {
        throw MountError(HamlibError("rot_set_position", rc), ClassifyHamlibStatus(rc));
    }
}

AzEl HamlibMount::position() {
    azimuth_t azimuth = 0;
    elevation_t elevation = 0;
    const int rc = rot_get_position(rot_, &azimuth, &elevation);
    if (rc != RIG_OK) {
        throw MountError(HamlibError("rot_get_position", rc), ClassifyHamlibStatus(rc));
    }
    if (!std::isfinite(azimuth) || !std::isfinite(elevation)) {
        throw MountError("rot_get_position gave a non-finite angle", MountStatus::kFailed);
    }
    return {.azimuth = azimuth, .elevation = elevation};
}

}  // namespace heliostat::antenna
