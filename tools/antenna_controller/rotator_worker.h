#pragma once

#include "mount.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace heliostat::antenna {

// What the rotator thread has to tell the controller.
struct RotatorReport {
    enum class Kind {
        kAnswer,  // a command was handled: position read (or not) after the optional move
        kPoll,    // a periodic position read
        kLost,    // the rotator stopped answering; it is being reopened
        kBack,    // reopened and answering again
    };
    Kind kind = Kind::kPoll;
    std::optional<AzEl> position;  // only ever a position actually read from the rotator
    std::string error;             // why there is no position, or why it was lost
    std::string moveError;         // kAnswer: set_position was refused
    bool moved = false;            // kAnswer: set_position was accepted
    std::uint64_t seq = 0;         // kAnswer: the command answered
    bool lost = false;             // kAnswer: no position because the rotator was lost
    Limits limits;                 // kBack: the reopened rotator's limits
};

// Owns the mount on a thread of its own, so that a slow or hung rotator never stalls the UDP
// side. Holds at most one pending command: a newer one replaces it, there is no queue. After a
// lost rotator it reopens it with backoff.
class RotatorWorker {
public:
    // A fresh mount, or MountError.
    using Opener = std::function<std::unique_ptr<Mount>()>;
    // Called on the rotator thread; must hand the report over to the owner's thread.
    using Sink = std::function<void(RotatorReport)>;

    struct Timing {
        std::chrono::milliseconds poll{250};
        std::chrono::milliseconds firstRetry{500};
        std::chrono::milliseconds maxRetry{4000};
    };

    RotatorWorker(std::unique_ptr<Mount> mount, Opener reopen, Timing timing, Sink sink);
    // Stops without a time limit when stop() was not called or gave up.
    ~RotatorWorker();

    RotatorWorker(const RotatorWorker&) = delete;
    RotatorWorker& operator=(const RotatorWorker&) = delete;

    // Replaces the pending command; gives the number of the one replaced before the thread took
    // it. target empty: no move, only the position is wanted (a pending target stays).
    std::optional<std::uint64_t> command(std::optional<AzEl> target, std::uint64_t seq);
    // Periodic position reads on or off.
    void setPolling(bool on);

    // Asks the thread to close the rotator and end, after commanding `last` if given; true when
    // it did within the time. False means it is stuck in a rotator call: the thread is left
    // behind and the caller should exit the process without waiting for it.
    bool stop(std::chrono::milliseconds wait, std::optional<AzEl> last = std::nullopt);

private:
    void run();
    // With the lock held: sleeps until there is something to do; false when stopping.
    bool waitForWork(std::unique_lock<std::mutex>& lock);
    void lose(std::string error);

    Opener reopen_;
    Timing timing_;
    Sink sink_;
    std::unique_ptr<Mount> mount_;  // touched only by the thread

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable ended_;
    bool stopping_ = false;
    bool finished_ = false;
    bool polling_ = false;
    bool answerWanted_ = false;
    std::uint64_t pendingSeq_ = 0;
    std::optional<AzEl> pendingTarget_;
    std::optional<AzEl> driving_;   // the target last handed to the rotator
    std::optional<AzEl> lastMove_;  // commanded before closing
    bool readWanted_ = true;        // a position read at once (at start, after a reopen)
    std::chrono::steady_clock::time_point nextPoll_;
    std::chrono::steady_clock::time_point nextRetry_;
    std::chrono::milliseconds backoff_{0};

    std::thread thread_;
};

}  // namespace heliostat::antenna
