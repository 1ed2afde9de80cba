#include "calibrate/record.h"

#include <termios.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>

#include <array>
#include <csignal>
#include <memory>
#include <optional>
#include <string>

#include "astro/bisector.h"
#include "astro/precise_sun.h"
#include "base/jst_clock.h"
#include "base/number_text.h"
#include "link/wire.h"

namespace heliostat::calibrate {

namespace {

constexpr std::array<double, 7> kSteps{0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1};
constexpr const char* kHeader = "jst,mount_azimuth,mount_elevation";
// A reply older than this no longer says where the mount is (four command cycles).
constexpr qint64 kFreshReplyMs = 3000;

// The terminal's settings before the tool took it, for the signal handler too.
termios gSavedTerminal{};

extern "C" void RestoreTerminalAndExit(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    _exit(128 + signal);
}

// Raw keys while the tool runs, the operator's settings back afterwards, Ctrl-C included.
class RawTerminal {
public:
    RawTerminal() {
        if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0) {
            termios raw = gSavedTerminal;
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            std::signal(SIGINT, RestoreTerminalAndExit);
            std::signal(SIGTERM, RestoreTerminalAndExit);
            std::signal(SIGHUP, RestoreTerminalAndExit);
            active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
        }
    }
    ~RawTerminal() {
        if (active_) {
            tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        }
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

private:
    bool active_ = false;
};

enum class Key { None, Left, Right, Up, Down, Finer, Coarser, Record, Undo, Quit };

// Turns the bytes of standard input into keys; arrow keys arrive as ESC [ A..D.
class KeyReader {
public:
    Key Feed(char c) {
        if (state_ == 1) {
            state_ = c == '[' || c == 'O' ? 2 : 0;
            return Key::None;
        }
        if (state_ == 2) {
            state_ = 0;
            switch (c) {
                case 'A':
                    return Key::Up;
                case 'B':
                    return Key::Down;
                case 'C':
                    return Key::Right;
                case 'D':
                    return Key::Left;
                default:
                    return Key::None;
            }
        }
        switch (c) {
            case '\x1b':
                state_ = 1;
                return Key::None;
            case 'h':
                return Key::Left;
            case 'l':
                return Key::Right;
            case 'k':
                return Key::Up;
            case 'j':
                return Key::Down;
            case '+':
                return Key::Coarser;
            case '-':
                return Key::Finer;
            case '\r':
            case '\n':
                return Key::Record;
            case 'u':
                return Key::Undo;
            case 'q':
                return Key::Quit;
            default:
                return Key::None;
        }
    }

private:
    int state_ = 0;
};

QString JstText(const base::JstDateTime& t) {
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                             t.minute, t.second);
}

class Recorder {
public:
    Recorder(const Options& options, QHostAddress controller, QStringList lines)
        : options_(options),
          controller_(std::move(controller)),
          lines_(std::move(lines)),
          sessionStart_(lines_.size()) {
        astro::SkyDirection start{45, 180};
        try {
            const auto sun = astro::PreciseSun(base::SystemUtcNow(), options.site);
            start = astro::ExactBisector({sun.elevation, sun.azimuth}, options.target);
        } catch (const std::exception&) {
            // Any start will do; the operator jogs from there.
        }
        azimuth_ = start.azimuth;
        elevation_ = start.elevation;
    }

    bool Start(std::FILE* err) {
        if (!socket_.bind(QHostAddress::AnyIPv4, 0)) {
            std::fprintf(err, "heliostat-calibrate: UDP の受信口を開けません: %s\n",
                         socket_.errorString().toUtf8().constData());
            return false;
        }
        QObject::connect(&socket_, &QUdpSocket::readyRead, [this] { ReadReplies(); });
        QObject::connect(&timer_, &QTimer::timeout, [this] { Send(); });
        timer_.start(750);
        keys_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(keys_.get(), &QSocketNotifier::activated, [this] { ReadKeys(); });
        Send();
        Draw();
        return true;
    }

private:
    void Send() {
        const std::string payload =
            link::CommandPayload(base::FormatPattern(azimuth_, base::kAzimuthPattern),
                                 base::FormatPattern(elevation_, base::kElevationPattern));
        socket_.writeDatagram(payload.data(), static_cast<qint64>(payload.size()), controller_,
                              options_.controllerPort);
    }

    void ReadReplies() {
        while (socket_.hasPendingDatagrams()) {
            const QByteArray data = socket_.receiveDatagram().data();
            const auto fields = link::SplitReply(data.toStdString());
            if (!fields) {
                continue;
            }
            const QString az = QString::fromStdString(fields->azimuth).trimmed();
            const QString el = QString::fromStdString(fields->elevation).trimmed();
            // Only a reply with two numbers is a mount position worth recording.
            if (base::ParseStrict(az.toStdString()) && base::ParseStrict(el.toStdString())) {
                reply_ = {az, el};
                replyAge_.start();
            }
        }
        Draw();
    }

    void ReadKeys() {
        char buffer[64];
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            QCoreApplication::quit();
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            Handle(reader_.Feed(buffer[i]));
        }
        Draw();
    }

    void Handle(Key key) {
        const double step = kSteps[step_];
        switch (key) {
            case Key::None:
                return;
            case Key::Left:
                Move(-step, 0);
                return;
            case Key::Right:
                Move(step, 0);
                return;
            case Key::Up:
                Move(0, step);
                return;
            case Key::Down:
                Move(0, -step);
                return;
            case Key::Finer:
                step_ = step_ > 0 ? step_ - 1 : 0;
                return;
            case Key::Coarser:
                step_ = std::min(step_ + 1, kSteps.size() - 1);
                return;
            case Key::Record:
                Record();
                return;
            case Key::Undo:
                Undo();
                return;
            case Key::Quit:
                QCoreApplication::quit();
                return;
        }
    }

    void Move(double dAz, double dEl) {
        // Rounded to the hundredth the command carries, so that steps add up exactly.
        azimuth_ = std::round((azimuth_ + dAz) * 100) / 100;
        if (azimuth_ <= 0) {
            azimuth_ += 360;
        } else if (azimuth_ > 360) {
            azimuth_ -= 360;
        }
        elevation_ = std::clamp(std::round((elevation_ + dEl) * 100) / 100, -90.0, 90.0);
        Send();
    }

    void Record() {
        if (!reply_) {
            message_ = QStringLiteral("コントローラからの返信がまだないので記録できません");
            return;
        }
        if (replyAge_.elapsed() > kFreshReplyMs) {
            message_ = QStringLiteral("コントローラからの返信が %1 秒以上ないので記録できません")
                           .arg(kFreshReplyMs / 1000);
            return;
        }
        const QString row =
            JstText(base::ToJst(base::SystemUtcNow())) + "," + reply_->first + "," + reply_->second;
        lines_.append(row);
        if (Save()) {
            message_ = QStringLiteral("記録しました: %1").arg(row);
        } else {
            lines_.removeLast();
        }
    }

    void Undo() {
        if (lines_.size() <= sessionStart_) {
            message_ = QStringLiteral("この実行で記録した観測はありません");
            return;
        }
        const QString row = lines_.takeLast();
        if (Save()) {
            message_ = QStringLiteral("取り消しました: %1").arg(row);
        } else {
            lines_.append(row);
        }
    }

    bool Save() {
        QSaveFile out(options_.output);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write((lines_.join("\r\n") + "\r\n").toUtf8()) < 0 || !out.commit()) {
            message_ =
                QStringLiteral("%1 に書けません: %2").arg(options_.output, out.errorString());
            return false;
        }
        return true;
    }

    void Draw() const {
        const QString reply =
            reply_ ? QStringLiteral("方位角 %1°  仰角 %2°").arg(reply_->first, reply_->second)
                   : QStringLiteral("まだありません");
        const QString screen =
            QStringLiteral(
                "\x1b[H\x1b[J"
                "heliostat-calibrate record: 光が目標の中心に来たら Enter で記録します\n\n"
                "  指令  方位角 %1°  仰角 %2°\n"
                "  返信  %3\n"
                "  刻み  %4°\n"
                "  記録  %5 件（%6）\n"
                "  %7\n\n"
                "  ← → / h l: 方位角   ↑ ↓ / k j: 仰角   + -: 刻み   Enter: 記録   "
                "u: 取り消し   q: 終了\n")
                .arg(QString::fromStdString(base::FormatPattern(azimuth_, base::kAzimuthPattern)),
                     QString::fromStdString(
                         base::FormatPattern(elevation_, base::kElevationPattern)),
                     reply, QString::number(kSteps[step_], 'f', 2))
                .arg(lines_.size() - 1)
                .arg(options_.output, message_);
        std::fputs(screen.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }

    const Options& options_;
    QHostAddress controller_;
    QStringList lines_;  // the file's lines, the header first
    qsizetype sessionStart_;
    double azimuth_ = 180, elevation_ = 45;
    std::size_t step_ = 3;
    std::optional<std::pair<QString, QString>> reply_;
    QElapsedTimer replyAge_;
    QString message_;
    QUdpSocket socket_;
    QTimer timer_;
    std::unique_ptr<QSocketNotifier> keys_;
    KeyReader reader_;
};

}  // namespace

int RunRecord(const Options& options, std::FILE* err) {
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "heliostat-calibrate";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QHostAddress controller;
    if (!controller.setAddress(options.controllerHost)) {
        const QHostInfo info = QHostInfo::fromName(options.controllerHost);
        if (info.addresses().isEmpty()) {
            std::fprintf(err, "heliostat-calibrate: コントローラのホスト %s が見つかりません\n",
                         options.controllerHost.toUtf8().constData());
            return 1;
        }
        controller = info.addresses().first();
    }
    // Observations from earlier sessions stay; new ones go after them.
    QStringList lines{QString::fromLatin1(kHeader)};
    if (QFile::exists(options.output)) {
        for (const Observation& o : ReadObservations(options.output)) {
            lines.append(QStringLiteral("%1,%2,%3")
                             .arg(QString::fromStdString(o.jst),
                                  QString::fromStdString(base::ShortestText(o.mount.azimuth)),
                                  QString::fromStdString(base::ShortestText(o.mount.elevation))));
        }
    }
    Recorder recorder(options, controller, lines);
    RawTerminal terminal;
    if (!recorder.Start(err)) {
        return 1;
    }
    QCoreApplication::exec();
    std::fputs("\n", stdout);
    return 0;
}

}  // namespace heliostat::calibrate
