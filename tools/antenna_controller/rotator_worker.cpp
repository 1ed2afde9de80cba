#include "rotator_worker.h"

#include <algorithm>
#include <utility>

namespace heliostat::antenna {

using Clock = std::chrono::steady_clock;

RotatorWorker::RotatorWorker(std::unique_ptr<Mount> mount, Opener reopen, Timing timing, Sink sink)
    : reopen_(std::move(reopen)),
      timing_(timing),
      sink_(std::move(sink)),
      mount_(std::move(mount)),
      thread_([this] { run(); }) {}

RotatorWorker::~RotatorWorker() {
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
}

std::optional<std::uint64_t> RotatorWorker::command(std::optional<AzEl> target, std::uint64_t seq) {
    std::optional<std::uint64_t> replaced;
    {
        const std::lock_guard lock(mutex_);
        if (answerWanted_) {
            replaced = pendingSeq_;
        }
        if (target) {
            pendingTarget_ = target;
        }
        answerWanted_ = true;
        pendingSeq_ = seq;
    }
    wake_.notify_all();
    return replaced;
}

void RotatorWorker::setPolling(bool on) {
    {
        const std::lock_guard lock(mutex_);
        polling_ = on;
    }
    wake_.notify_all();
}

bool RotatorWorker::stop(std::chrono::milliseconds wait, std::optional<AzEl> last) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    lastMove_ = last;
    wake_.notify_all();
    const bool ended = ended_.wait_for(lock, wait, [this] { return finished_; });
    lock.unlock();
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();
    }
    return ended;
}

bool RotatorWorker::waitForWork(std::unique_lock<std::mutex>& lock) {
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        if (!mount_) {
            if (now >= nextRetry_) {
                return true;
            }
            wake_.wait_until(lock, nextRetry_);
        } else if (pendingTarget_ || answerWanted_ || readWanted_ ||
                   (polling_ && now >= nextPoll_)) {
            return true;
        } else if (polling_) {
            wake_.wait_until(lock, nextPoll_);
        } else {
            wake_.wait(lock);
        }
    }
    return false;
}

void RotatorWorker::lose(std::string error) {
    mount_.reset();  // closes what is left of the link before it is opened afresh
    {
        const std::lock_guard lock(mutex_);
        backoff_ = timing_.firstRetry;
        nextRetry_ = Clock::now() + backoff_;
    }
    RotatorReport report;
    report.kind = RotatorReport::Kind::kLost;
    report.error = std::move(error);
    sink_(std::move(report));
}

void RotatorWorker::run() {
    std::unique_lock lock(mutex_);
    while (waitForWork(lock)) {
        if (!mount_) {
            lock.unlock();
            // Counted from the start of the attempt: an open that waits for its time-out (a
            // frozen rotctld) does not stretch the interval.
            const Clock::time_point attempt = Clock::now();
            std::unique_ptr<Mount> opened;
            try {
                opened = reopen_();
            } catch (const MountError&) {
                // Still gone: the next try comes later.
            }
            lock.lock();
            if (!opened) {
                backoff_ = std::min(backoff_ * 2, timing_.maxRetry);
                nextRetry_ = attempt + backoff_;
                continue;
            }
            mount_ = std::move(opened);
            nextPoll_ = Clock::now();
            readWanted_ = true;
            // A move cut short by the loss (or one the restarted rotator has forgotten) is
            // made again, unless a newer command is waiting.
            if (!pendingTarget_) {
                pendingTarget_ = driving_;
            }
            RotatorReport report;
            report.kind = RotatorReport::Kind::kBack;
            report.limits = mount_->limits();
            lock.unlock();
            sink_(std::move(report));
            lock.lock();
            continue;
        }

        const std::optional<AzEl> target = std::exchange(pendingTarget_, std::nullopt);
        const bool answer = std::exchange(answerWanted_, false);
        readWanted_ = false;
        const std::uint64_t seq = pendingSeq_;
        if (target) {
            driving_ = target;
        }
        lock.unlock();

        RotatorReport report;
        report.kind = answer ? RotatorReport::Kind::kAnswer : RotatorReport::Kind::kPoll;
        report.seq = seq;
        try {
            if (target) {
                try {
                    mount_->setPosition(*target);
                    report.moved = true;
                } catch (const MountError& e) {
                    if (e.lost()) {
                        throw;
                    }
                    report.moveError = e.what();
                }
            }
            try {
                report.position = mount_->position();
            } catch (const MountError& e) {
                if (e.lost()) {
                    throw;
                }
                report.error = e.what();
            }
        } catch (const MountError& e) {
            report.error = e.what();
            report.lost = true;
            if (answer) {
                sink_(report);
            }
            lose(e.what());
            lock.lock();
            continue;
        }
        lock.lock();
        nextPoll_ = Clock::now() + timing_.poll;
        lock.unlock();
        sink_(std::move(report));
        lock.lock();
    }
    const std::optional<AzEl> last = lastMove_;
    lock.unlock();
    if (last && mount_) {
        try {
            mount_->setPosition(*last);
        } catch (const MountError&) {
            // Leaving anyway: the log says the rotator is being closed.
        }
    }
    mount_.reset();  // closes the rotator on the thread that used it
    lock.lock();
    finished_ = true;
    ended_.notify_all();
}

}  // namespace heliostat::antenna
