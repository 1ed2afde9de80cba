#include "link/controller_session.h"

#include <QHostInfo>
#include <QTimer>
#include <QUdpSocket>
#include <cmath>
#include <cstdio>

#include "astro/bisector.h"
#include "astro/precise_sun.h"
#include "base/errors.h"
#include "base/number_text.h"
#include "link/controller_link.h"

namespace heliostat::link {

namespace {

constexpr int kHealthIntervalMs = 250;
constexpr std::chrono::seconds kBeamAlarmDelay{5};

// A field text as one key=value item: blanks would split it.
std::string Item(std::string_view key, std::string_view value) {
    std::string out(key);
    out += '=';
    for (const char c : value) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Trim(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1));
}

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

base::UtcMillis Millis(std::chrono::system_clock::time_point t) {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(t);
}

bool IsRed(LinkHealth health) {
    return health == LinkHealth::Silent || health == LinkHealth::Refused ||
           health == LinkHealth::Parked;
}

}  // namespace

ControllerSession::ControllerSession(base::UtcClock utc, SteadyClock steady, QObject* parent)
    : QObject(parent),
      utc_(std::move(utc)),
      steady_(std::move(steady)),
      link_(new ControllerLink(this)),
      healthTimer_(new QTimer(this)) {
    link_->setObjectName(QStringLiteral("ControllerLink"));
    healthTimer_->setInterval(kHealthIntervalMs);
    connect(healthTimer_, &QTimer::timeout, this, &ControllerSession::UpdateHealth);
    connect(link_->Socket(), &QIODevice::readyRead, this, &ControllerSession::DataArrival);
}

ControllerSession::~ControllerSession() {
    CancelLookup();
}

void ControllerSession::Configure(const SessionOptions& options, std::unique_ptr<SessionLog> log) {
    options_ = options;
    log_ = std::move(log);
    link_->AcceptRepliesFromAnyPort(options_.replyFromAnyPort);
}

QUdpSocket* ControllerSession::Socket() const {
    return link_->Socket();
}

quint16 ControllerSession::LocalPort() const {
    return link_->LocalPort();
}

bool ControllerSession::IsRunning() const {
    return link_->IsOpen();
}

void ControllerSession::Start(const QString& host, std::string_view portText,
                              const StartTexts& texts) {
    Stop();
    texts_ = texts;
    try {
        const quint16 port = ControllerLink::PortFromText(portText);
        if (const auto address = ControllerLink::LiteralAddress(host)) {
            Open(*address, port);
            return;
        }
        // A name is looked up in the background so that the window stays responsive; a stop
        // meanwhile cancels the start.
        lookupHost_ = host;
        lookupPort_ = port;
        lookupId_ = QHostInfo::lookupHost(host, this, &ControllerSession::LookupFinished);
    } catch (const HeliostatError& error) {
        Record("failure", {}, error.what());
        emit StartFailed(QString::fromUtf8(error.what()));
    }
}

void ControllerSession::LookupFinished(const QHostInfo& info) {
    if (info.lookupId() != lookupId_) {
        return;  // a cancelled lookup
    }
    lookupId_ = -1;
    try {
        Open(ControllerLink::AddressFromLookup(info, lookupHost_), lookupPort_);
    } catch (const HeliostatError& error) {
        Stop();
        Record("failure", {}, error.what());
        emit StartFailed(QString::fromUtf8(error.what()));
    }
}

void ControllerSession::CancelLookup() {
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
}

void ControllerSession::Open(const QHostAddress& controller, quint16 port) {
    link_->Open(controller, port);
    startedAt_ = steady_();
    lastReply_.reset();
    firstUnanswered_.reset();
    lastCommand_.reset();
    beamAboveSince_.reset();
    beamAlarm_ = false;
    beamError_.reset();
    red_ = false;
    refusal_.clear();
    commandedAzimuth_.clear();
    commandedElevation_.clear();
    reportedAzimuth_.clear();
    reportedElevation_.clear();
    flag_.clear();
    health_ = LinkHealth::Stopped;
    healthTimer_->start();

    bool v4 = false;
    const quint32 v4Address = controller.toIPv4Address(&v4);
    const QString shown =
        v4 ? QHostAddress(v4Address).toString() : QStringLiteral("[%1]").arg(controller.toString());
    std::string detail =
        "controller=" + shown.toStdString() + ':' + std::to_string(port) +
        " local=" + std::to_string(link_->LocalPort()) + ' ' + Item("lat", texts_.latitude) + ' ' +
        Item("lon", texts_.longitude) + ' ' + Item("target_el", texts_.targetElevation) + ' ' +
        Item("target_az", texts_.targetAzimuth) + ' ' + Item("pointing", options_.pointing) + ' ' +
        Item("reply_timeout", base::ShortestText(options_.replyTimeoutSeconds));
    if (options_.stow) {
        detail += " stow=" + base::ShortestText(options_.stow->azimuth) + ',' +
                  base::ShortestText(options_.stow->elevation);
    }
    if (options_.beamAlarmDegrees) {
        detail += " beam_alarm=" + base::ShortestText(*options_.beamAlarmDegrees);
    }
    Record("start", {}, detail);
    emit Started();
    UpdateHealth();
}

void ControllerSession::Stop() {
    CancelLookup();
    const bool wasRunning = IsRunning();
    if (wasRunning) {
        SendStow();
    }
    link_->Close();
    healthTimer_->stop();
    if (wasRunning) {
        Record("stop");
    }
    if (log_) {
        NoteWrite(log_->Flush(Millis(utc_()) + std::chrono::seconds(1)));
    }
    UpdateHealth();
}

void ControllerSession::Exit() {
    Stop();
    Record("exit");
}

// The mirror is turned away from the sun before the link closes, when the operator asked for
// it; a refusal is recorded and does not hold up the stop.
void ControllerSession::SendStow() {
    if (!options_.stow) {
        return;
    }
    const std::string payload = StowPayload(*options_.stow);
    try {
        link_->Send(payload);
        Record("stow", payload);
    } catch (const HeliostatError& error) {
        Record("stow", payload, error.what());
    }
}

void ControllerSession::SendCommand(std::string_view azimuth, std::string_view elevation) {
    const std::string payload = CommandPayload(azimuth, elevation);
    if (!IsRunning()) {
        link_->Send(payload);  // throws: the cycle fails as a send without a link
    }
    try {
        link_->Send(payload);
    } catch (const HeliostatError& error) {
        // A refused send is the link's trouble, not the calculation's: it is shown like
        // silence, with its reason, until a valid reply arrives.
        refusal_ = error.what();
        Record("failure", payload, refusal_);
        UpdateHealth();
        return;
    }
    const Instant now = steady_();
    commandedAzimuth_ = azimuth;
    commandedElevation_ = elevation;
    lastCommand_ = now;
    if (!firstUnanswered_) {
        firstUnanswered_ = now;
    }
    Record("command", payload);
    UpdateHealth();
}

void ControllerSession::DataArrival() {
    bool answered = false;
    for (const ControllerLink::Arrival& arrival : link_->TakeArrivals()) {
        const std::string payload(arrival.payload.constData(),
                                  static_cast<std::size_t>(arrival.payload.size()));
        if (!arrival.fromController) {
            ++foreign_;
            Record("foreign", payload, "from=" + arrival.sender.toStdString());
        } else if (!arrival.fields) {
            ++invalidReplies_;
            Record("invalid-reply", payload,
                   payload.empty() ? "空の応答です" : "応答を項目に分けられません");
        } else if (!IsValidReplyField(arrival.fields->azimuth) ||
                   !IsValidReplyField(arrival.fields->elevation)) {
            ++invalidReplies_;
            Record("invalid-reply", payload, "方位角か仰角が数値ではありません");
        } else {
            Reply(payload, *arrival.fields);
            answered = true;
        }
    }
    // The controller answers now: an ICMP error met on the way is older news.
    const std::optional<QString> icmp = link_->TakeSocketError();
    if (icmp && !answered) {
        refusal_ = icmp->toStdString();
    }
    UpdateHealth();
}

void ControllerSession::Reply(const std::string& payload, const ReplyFields& fields) {
    const Instant now = steady_();
    emit ReplyShown(Latin1(fields.azimuth), Latin1(fields.elevation));
    reportedAzimuth_ = fields.azimuth;
    reportedElevation_ = fields.elevation;
    flag_ = Trim(fields.flag);
    lastReply_ = now;
    firstUnanswered_.reset();
    refusal_.clear();

    beamError_.reset();
    const auto azimuth = base::ParseStrict(Trim(fields.azimuth));
    const auto elevation = base::ParseStrict(Trim(fields.elevation));
    if (geometry_ && azimuth && elevation) {
        try {
            // The sun moves 0.0004° in 0.1 s: a burst of replies shares one ephemeris call.
            const auto utc = utc_();
            if (!sun_ || std::chrono::abs(utc - sunAt_) > std::chrono::milliseconds(100) ||
                sunSite_.latitude != geometry_->latitude ||
                sunSite_.longitude != geometry_->longitude) {
                sunSite_ = astro::Site{geometry_->latitude, geometry_->longitude, 0};
                sun_ = astro::PreciseSun(utc, sunSite_);
                sunAt_ = utc;
            }
            const astro::PreciseSunPosition sun = *sun_;
            beamError_ = astro::BeamError({*elevation, *azimuth}, {sun.elevation, sun.azimuth},
                                          {geometry_->targetElevation, geometry_->targetAzimuth});
        } catch (const std::exception&) {
            // No sun for this instant or place: the reply is shown without a beam error.
        }
    }
    std::string detail;
    if (beamError_) {
        detail = "beam_error=" + Fixed(*beamError_, 4);
    }
    if (!flag_.empty()) {
        detail += (detail.empty() ? "flag=" : " flag=") + EscapeBytes(flag_);
    }
    Record("reply", payload, detail);
    CheckBeamAlarm(now);
}

void ControllerSession::CheckBeamAlarm(Instant now) {
    if (!options_.beamAlarmDegrees || !beamError_) {
        return;
    }
    const double threshold = *options_.beamAlarmDegrees;
    const std::string detail =
        "beam_error=" + Fixed(*beamError_, 4) + " threshold=" + base::ShortestText(threshold);
    if (*beamError_ > threshold) {
        if (!beamAboveSince_) {
            beamAboveSince_ = now;
        }
        if (!beamAlarm_ && now - *beamAboveSince_ >= kBeamAlarmDelay) {
            beamAlarm_ = true;
            Record("beam-alarm", {}, detail);
        }
        return;
    }
    beamAboveSince_.reset();
    if (beamAlarm_) {
        beamAlarm_ = false;
        Record("beam-ok", {}, detail);
    }
}

std::optional<double> ControllerSession::Since(std::optional<Instant> t, Instant now) const {
    if (!t) {
        return std::nullopt;
    }
    return std::chrono::duration<double>(now - *t).count();
}

void ControllerSession::UpdateHealth() {
    const bool running = IsRunning();
    const Instant now = steady_();
    if (running) {
        if (const auto icmp = link_->TakeSocketError()) {
            refusal_ = icmp->toStdString();
        }
    }
    HealthInput input;
    input.running = running;
    input.secondsSinceStart = Since(startedAt_, now).value_or(0);
    input.secondsSinceReply = Since(lastReply_, now);
    input.secondsUnanswered = Since(firstUnanswered_, now);
    input.secondsSinceCommand = Since(lastCommand_, now);
    input.timeoutSeconds = options_.replyTimeoutSeconds;
    input.refusal = refusal_;
    input.commandedAzimuth = commandedAzimuth_;
    input.commandedElevation = commandedElevation_;
    input.reportedAzimuth = reportedAzimuth_;
    input.reportedElevation = reportedElevation_;
    input.flag = flag_;
    const LinkHealth health = ClassifyHealth(input);
    input_ = input;

    if (running && health != health_) {
        if (health == LinkHealth::Silent) {
            Record("silent", {}, SilenceLine(input));
        } else if (health == LinkHealth::Refused) {
            Record("limit", {}, SilenceLine(input));
        } else if (health == LinkHealth::Parked) {
            Record("parked", {}, SilenceLine(input));
        } else if (red_ && (health == LinkHealth::Moving || health == LinkHealth::OnTarget)) {
            Record("recovered", {}, HealthDescription(health, input));
        }
        if (IsRed(health)) {
            red_ = true;
        } else if (health == LinkHealth::Moving || health == LinkHealth::OnTarget) {
            red_ = false;
        }
    }
    health_ = health;
    if (running) {
        CheckBeamAlarm(now);
        if (log_) {
            NoteWrite(log_->Flush(Millis(utc_())));
        }
    }
    Emit();
}

void ControllerSession::Emit() {
    const HealthInput& input = input_;
    QString tip = QString::fromStdString(HealthDescription(health_, input));
    if (health_ != LinkHealth::Stopped && beamError_) {
        tip += QStringLiteral("\n光の誤差 %1°（%2 mrad）")
                   .arg(QString::number(*beamError_, 'f', 2))
                   .arg(QString::number(*beamError_ * M_PI / 180 * 1000, 'f', 1));
    }
    if (!flag_.empty() && flag_ != "limit" && flag_ != "parked") {
        tip += QStringLiteral("\nコントローラの応答に不明な印「%1」があります")
                   .arg(QString::fromStdString(EscapeBytes(flag_)));
    }
    if (invalidReplies_ > 0) {
        tip += QStringLiteral("\n数値でない応答 %1 件（表示していません）").arg(invalidReplies_);
    }
    if (foreign_ > 0) {
        tip += QStringLiteral("\nコントローラ以外からの受信 %1 件（無視しました）").arg(foreign_);
    }
    if (recordFailing_) {
        tip += QStringLiteral("\n記録できません：%1").arg(QString::fromStdString(recordError_));
    }
    QString notice;
    if (IsRed(health_)) {
        notice = QString::fromStdString(SilenceLine(input));
    } else if (recordFailing_) {
        notice = QStringLiteral("記録できません：%1").arg(QString::fromStdString(recordError_));
    } else if (beamAlarm_ && beamError_ && health_ != LinkHealth::Stopped) {
        notice = QStringLiteral("光が目標から %1° 外れています")
                     .arg(QString::number(*beamError_, 'f', 1));
    }
    emit HealthChanged(health_, tip, notice);
}

void ControllerSession::Record(std::string_view event, std::string_view datagram,
                               std::string_view detail) {
    if (log_) {
        NoteWrite(log_->Write(Millis(utc_()), event, datagram, detail));
    }
}

void ControllerSession::NoteWrite(bool ok) {
    if (ok == !recordFailing_) {
        return;
    }
    recordFailing_ = !ok;
    if (!ok) {
        // Once per spell of failures: the operator sees it on the chart, a supervisor on stderr.
        recordError_ = log_->Error();
        std::fprintf(stderr, "heliostat: 記録できません：%s\n", recordError_.c_str());
    }
    Emit();
}

}  // namespace heliostat::link
