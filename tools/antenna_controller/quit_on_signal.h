#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace heliostat::antenna {

// Turns SIGINT and SIGTERM into QCoreApplication::quit() on the event thread: the handler only
// writes a byte to a socket pair, which is async-signal-safe; the notifier reads it.
class QuitOnSignal : public QObject {
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    bool installed() const { return notifier_ != nullptr; }
    // The number of the signal that asked to quit, 0 if none yet.
    int received() const { return received_; }

private:
    void drain();

    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace heliostat::antenna
