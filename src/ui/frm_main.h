#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <string_view>

#include "base/jst_clock.h"
#include "cycle/solcal.h"
#include "cycle/window_state.h"
#include "link/controller_session.h"
#include "link/session_log.h"
#include "ui/window_options.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSessionManager;
class QTimer;
class QUdpSocket;

namespace heliostat::ui {

class ChartView;

// The operator's window. Controls carry their inventory names as member and objectName; the
// handlers only move texts between widgets, the cycle and the link session.
class frmMain : public QWidget, public cycle::CycleHost {
    Q_OBJECT

public:
    explicit frmMain(heliostat::base::UtcClock clock = heliostat::base::SystemUtcNow,
                     link::SteadyClock steady = std::chrono::steady_clock::now,
                     QWidget* parent = nullptr);
    ~frmMain() override;

    const cycle::WindowState& State() const { return state_; }

    // The command line's choices and the session record (may be null); call before the
    // first start.
    void Configure(const WindowOptions& options, std::unique_ptr<link::SessionLog> log);

    // Ends the program as a confirmed 終了 does, without asking (a termination signal).
    void EndWithoutAsking();

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
    void LinkStarted();
    void FailStart(const QString& message);
    void ShowReply(const QString& azimuth, const QString& elevation);
    void ShowHealth(link::LinkHealth health, const QString& tooltip, const QString& notice);
    void ShowStale(bool stale);
    void UpdateTargetTip();
    void UpdateClockTip();
    void EndSession();
    bool ConfirmQuit();
    void Form_QueryUnload_Session(QSessionManager& manager);
    QLineEdit* FieldEdit(cycle::Field field) const;

    base::UtcClock clock_;
    cycle::WindowState state_;
    link::ControllerSession* session_ = nullptr;
    WindowOptions options_;
    bool clockLogged_ = false;  // the clock's trouble is recorded once per run

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
