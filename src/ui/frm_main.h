#pragma once

#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/jst_clock.h"
#include "cycle/solcal.h"
#include "cycle/window_state.h"
#include "link/link_health.h"
#include "link/session_log.h"
#include "ui/window_options.h"

class QComboBox;
class QHostAddress;
class QHostInfo;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSessionManager;
class QTimer;
class QUdpSocket;

namespace heliostat::link {
class ControllerLink;
}

namespace heliostat::ui {

class ChartView;

// The operator's window. Controls carry their inventory names as member and objectName; the
// handlers only move texts between widgets, the cycle and the controller link.
class frmMain : public QWidget, public cycle::CycleHost {
    Q_OBJECT

public:
    explicit frmMain(heliostat::base::UtcClock clock = heliostat::base::SystemUtcNow,
                     QWidget* parent = nullptr);
    ~frmMain() override;

    const cycle::WindowState& State() const { return state_; }

    // The command line's choices and the session record (may be null); call before the
    // first start.
    void Configure(const WindowOptions& options, std::unique_ptr<link::SessionLog> log);

    // What the 現在 fields show about the link, and the replies dropped as invalid.
    link::LinkHealth Health() const { return health_; }
    int InvalidReplies() const { return invalidReplies_; }

    // CycleHost
    std::string ReadText(cycle::Field field) override;
    void WriteText(cycle::Field field, std::string_view text) override;
    cycle::ChartSurface& Chart() override;
    void SendMirrorCommand() override;

public slots:
    void cmdStart_Click();
    void cmdClose_Click();
    void Timer_cal_Timer();
    void tmrTime_Timer();
    void Winsock1_DataArrival();
    void ComboObservatory_Click();
    void ComboObservatory_Change();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void Form_Load();
    void FillObservatoryList();
    void ApplyObservatoryText();
    void StopLink();
    void StartLink(const QHostAddress& controller, quint16 port);
    void LookupFinished(const QHostInfo& info);
    void FailStart(const QString& message);
    void CancelLookup();
    void SendStow();
    void Log(std::string_view event, std::string_view datagram = {}, std::string_view detail = {});
    void UpdateHealth();
    void ShowStale(bool stale);
    bool ConfirmQuit();
    void Form_QueryUnload_Session(QSessionManager& manager);
    QLineEdit* FieldEdit(cycle::Field field) const;

    base::UtcClock clock_;
    cycle::WindowState state_;
    link::ControllerLink* link_ = nullptr;

    WindowOptions options_;
    std::unique_ptr<link::SessionLog> log_;
    QTimer* healthTimer_ = nullptr;  // refreshes the link's colours while running
    int lookupId_ = -1;              // a host-name lookup in progress
    QString lookupHost_;
    quint16 lookupPort_ = 0;
    std::optional<std::chrono::system_clock::time_point> startedAt_, lastValidReply_;
    std::string commandedAzimuth_, commandedElevation_;
    std::string refusal_;
    link::LinkHealth health_ = link::LinkHealth::Stopped;
    int invalidReplies_ = 0;

public:
    // The controls, in the inventory's order.
    QFrame* Shape1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* txtACTLR_IP = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* txtACTLR_Port = nullptr;
    ChartView* picView = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdClose = nullptr;
    QTimer* Timer_cal = nullptr;
    QTimer* tmrTime = nullptr;
    QUdpSocket* Winsock1 = nullptr;

    QGroupBox* Frame1 = nullptr;
    QComboBox* ComboObservatory = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtObserverLatitude = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* txtObserverLongtitude = nullptr;

    QGroupBox* Frame4 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtTargetElevation = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* txtTargetAzimuth = nullptr;

    QGroupBox* Frame2 = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* txtSettingElevation = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtSettingAzimuth = nullptr;

    QGroupBox* Frame5 = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* txtMirrorElevation = nullptr;
    QLabel* Label14 = nullptr;
    QLineEdit* txtMirrorAzimuth = nullptr;

    QGroupBox* Frame3 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* txtAntennaElevation = nullptr;
    QLabel* Label11 = nullptr;
    QLineEdit* txtAntennaAzimuth = nullptr;
};

}  // namespace heliostat::ui
