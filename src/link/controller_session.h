#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "astro/precise_sun.h"
#include "base/angles.h"
#include "base/jst_clock.h"
#include "link/link_health.h"
#include "link/session_log.h"
#include "link/wire.h"

class QHostAddress;
class QHostInfo;
class QTimer;
class QUdpSocket;

namespace heliostat::link {

class ControllerLink;

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// The command line's choices that concern the link.
struct SessionOptions {
    std::optional<base::AzEl> stow;  // sent at every stop and exit of a running link
    double replyTimeoutSeconds = kDefaultReplyTimeoutSeconds;
    bool replyFromAnyPort = false;
    std::optional<double> beamAlarmDegrees;
    std::string pointing = "mean";  // for the record's start row
};

// What a start row records about the site and the target: the field texts as pressed.
struct StartTexts {
    std::string latitude, longitude, targetElevation, targetAzimuth;
};

// Where the light is meant to go, for the beam error of every reply: the site and the target
// the running cycle uses, degrees.
struct BeamGeometry {
    double latitude = 0, longitude = 0;
    double targetElevation = 0, targetAzimuth = 0;
};

// One run of the link to the antenna controller after another: the endpoint, the background
// host lookup, the commands, the replies and their checks, the stow, the session record and
// the health the window shows. Health is timed on a monotonic clock, so that a stepped system
// clock can neither age nor freshen a reply. All texts it emits are Japanese.
class ControllerSession : public QObject {
    Q_OBJECT

public:
    explicit ControllerSession(base::UtcClock utc = base::SystemUtcNow,
                               SteadyClock steady = std::chrono::steady_clock::now,
                               QObject* parent = nullptr);
    ~ControllerSession() override;

    // Before the first start. `log` may be null (no record).
    void Configure(const SessionOptions& options, std::unique_ptr<SessionLog> log);

    // Starts a run: the port by the port rule (a failure throws HeliostatError at once); a
    // literal address binds now and emits Started, a name is looked up in the background and
    // ends in Started or StartFailed.
    void Start(const QString& host, std::string_view portText, const StartTexts& texts);
    // Ends a run or a pending start: the stow (when asked for), the endpoint closed, a `stop`
    // row. Harmless when stopped.
    void Stop();
    // The program ends: a running link stops as above, then the `exit` row.
    void Exit();

    bool IsRunning() const;
    bool IsStarting() const { return lookupId_ >= 0; }

    // One command datagram "0,AZ,EL" of the field texts. Throws HeliostatError when the link
    // is not running; a refused send is the link's trouble (red, recorded), not the cycle's.
    void SendCommand(std::string_view azimuth, std::string_view elevation);
    void SetBeamGeometry(const BeamGeometry& geometry) { geometry_ = geometry; }

    // A row of the record (a failed cycle, the clock's state).
    void Record(std::string_view event, std::string_view datagram = {},
                std::string_view detail = {});

    // Re-reads the socket's state and the clocks and emits HealthChanged.
    void UpdateHealth();

    LinkHealth Health() const { return health_; }
    int InvalidReplies() const { return invalidReplies_; }
    int ForeignDatagrams() const { return foreign_; }
    std::optional<double> BeamErrorDegrees() const { return beamError_; }
    quint16 LocalPort() const;
    QUdpSocket* Socket() const;

signals:
    void Started();
    void StartFailed(const QString& message);
    // A valid reply's fields 2 and 3, to be shown unchanged.
    void ReplyShown(const QString& azimuth, const QString& elevation);
    // The health, the 現在 fields' tooltip and the chart's red line (empty: none); after every
    // change and on every update while running.
    void HealthChanged(heliostat::link::LinkHealth health, const QString& tooltip,
                       const QString& notice);

private:
    void Open(const QHostAddress& controller, quint16 port);
    void LookupFinished(const QHostInfo& info);
    void CancelLookup();
    void SendStow();
    void DataArrival();
    void TakeRefusal();
    void Reply(const std::string& payload, const ReplyFields& fields);
    void CheckBeamAlarm(std::chrono::steady_clock::time_point now);
    void Emit();
    void NoteWrite(bool ok);
    std::optional<double> Since(std::optional<std::chrono::steady_clock::time_point> t,
                                std::chrono::steady_clock::time_point now) const;

    base::UtcClock utc_;
    SteadyClock steady_;
    ControllerLink* link_;
    QTimer* healthTimer_;
    SessionOptions options_;
    std::unique_ptr<SessionLog> log_;
    bool recordFailing_ = false;
    std::string recordError_;

    int lookupId_ = -1;
    QString lookupHost_;
    quint16 lookupPort_ = 0;
    StartTexts texts_;

    using Instant = std::chrono::steady_clock::time_point;
    std::optional<Instant> startedAt_, lastReply_, firstUnanswered_, lastCommand_;
    std::optional<Instant> beamAboveSince_;
    bool beamAlarm_ = false;
    std::string commandedAzimuth_, commandedElevation_;
    std::string reportedAzimuth_, reportedElevation_, flag_;
    std::string refusal_;
    LinkHealth health_ = LinkHealth::Stopped;
    int invalidReplies_ = 0;
    int foreign_ = 0;
    std::optional<BeamGeometry> geometry_;
    std::optional<double> beamError_;
    std::optional<astro::PreciseSunPosition> sun_;  // the last ephemeris call, for bursts
    std::chrono::system_clock::time_point sunAt_;
    astro::Site sunSite_;
    bool red_ = false;  // in a silent, refused or parked spell since the last tracking state
    HealthInput input_;
};

}  // namespace heliostat::link
