#include "ui/frm_main.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSessionManager>
#include <QTimer>
#include <QToolTip>

#include "base/errors.h"
#include "base/number_text.h"
#include "cycle/chart.h"
#include "cycle/observatory_presets.h"
#include "ui/chart_view.h"
#include "ui/clock_sync.h"
#include "ui/operator_text.h"

namespace heliostat::ui {

namespace {

std::string Utf8(const QLineEdit* edit) {
    return edit->text().toStdString();
}

// Sets a tooltip, and refreshes it in place when it is being shown for that widget.
void SetLiveToolTip(QWidget* widget, const QString& tip) {
    if (widget->toolTip() == tip) {
        return;
    }
    widget->setToolTip(tip);
    if (QToolTip::isVisible() && widget->underMouse()) {
        QToolTip::showText(QCursor::pos(), tip, widget);
    }
}

}  // namespace

frmMain::frmMain(base::UtcClock clock, link::SteadyClock steady, QWidget* parent)
    : QWidget(parent),
      clock_(std::move(clock)),
      session_(new link::ControllerSession(clock_, std::move(steady), this)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("太陽軌道・反射鏡角度計算"));
    setFixedSize(498, 415);  // 7464 × 6228 twips
    // The layout was made for small 9-point text; larger default fonts would not fit it.
    QFont windowFont = font();
    windowFont.setPixelSize(11);
    setFont(windowFont);
    BuildControls();

    connect(cmdStart, &QPushButton::clicked, this, &frmMain::cmdStart_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmMain::cmdClose_Click);
    connect(Timer_cal, &QTimer::timeout, this, &frmMain::Timer_cal_Timer);
    connect(tmrTime, &QTimer::timeout, this, &frmMain::tmrTime_Timer);
    connect(ComboObservatory, qOverload<int>(&QComboBox::activated), this,
            &frmMain::ComboObservatory_Click);
    connect(ComboObservatory->lineEdit(), &QLineEdit::textEdited, this,
            &frmMain::ComboObservatory_Change);
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &frmMain::Form_QueryUnload_Session);
    connect(session_, &link::ControllerSession::Started, this, &frmMain::LinkStarted);
    connect(session_, &link::ControllerSession::StartFailed, this, [this](const QString& m) {
        StopLink();
        QMessageBox::warning(this, QStringLiteral("計算開始できません"), m);
    });
    connect(session_, &link::ControllerSession::ReplyShown, this, &frmMain::ShowReply);
    connect(session_, &link::ControllerSession::HealthChanged, this, &frmMain::ShowHealth);
    for (QLineEdit* target : {txtTargetElevation, txtTargetAzimuth}) {
        connect(target, &QLineEdit::textChanged, this, &frmMain::UpdateTargetTip);
    }

    Form_Load();
    tmrTime->start();
    cmdStart->setFocus();
}

frmMain::~frmMain() = default;

void frmMain::Configure(const WindowOptions& options, std::unique_ptr<link::SessionLog> log) {
    options_ = options;
    link::SessionOptions session;
    session.stow = options.stow;
    session.replyTimeoutSeconds = options.replyTimeoutSeconds;
    session.replyFromAnyPort = options.replyFromAnyPort;
    session.beamAlarmDegrees = options.beamAlarmDegrees;
    session.pointing = options.pointing == cycle::Pointing::Exact ? "exact" : "mean";
    session_->Configure(session, std::move(log));
    setWindowTitle(options_.pointing == cycle::Pointing::Exact
                       ? QStringLiteral("太陽軌道・反射鏡角度計算［精密］")
                       : QStringLiteral("太陽軌道・反射鏡角度計算"));
}

void frmMain::Form_Load() {
    FillObservatoryList();
    tmrTime_Timer();
    cycle::DrawEmptyChart(*picView);
    Timer_cal->stop();
    cmdStart->setText(QStringLiteral("計算開始"));
    txtTargetElevation->setText(QString::fromStdString(base::ShortestText(35.64)));
    txtTargetAzimuth->setText(QString::fromStdString(base::ShortestText(139.3)));
}

void frmMain::FillObservatoryList() {
    const auto& presets = cycle::ObservatoryPresets();
    for (std::size_t i = 0; i < presets.size(); ++i) {
        ComboObservatory->insertItem(
            static_cast<int>(i), QString::fromUtf8(presets[i].name.data(),
                                                   static_cast<qsizetype>(presets[i].name.size())));
    }
    // Setting the text is an edit of it, so the text-edit event follows as it would on typing.
    ComboObservatory->setEditText(ComboObservatory->itemText(0));
    ComboObservatory_Change();
}

void frmMain::ApplyObservatoryText() {
    if (const auto texts =
            cycle::LookupObservatory(ComboObservatory->currentText().toStdString())) {
        txtObserverLatitude->setText(QString::fromStdString(texts->latitude));
        txtObserverLongtitude->setText(QString::fromStdString(texts->longitude));
    }
}

void frmMain::ComboObservatory_Click() {
    ApplyObservatoryText();
}

// Typing a city's name fills its coordinates as a selection does; other text leaves the
// fields to the operator.
void frmMain::ComboObservatory_Change() {
    ApplyObservatoryText();
}

void frmMain::tmrTime_Timer() {
    lblTime->setText(JapaneseClockText(base::ToJst(clock_())));
    UpdateClockTip();
}

void frmMain::UpdateClockTip() {
    const auto sync = ReadClockSync();
    SetLiveToolTip(lblTime, ClockSyncText(sync));
    const std::string trouble = ClockTrouble(sync);
    if (!trouble.empty() && !clockLogged_ && session_->IsRunning()) {
        clockLogged_ = true;
        session_->Record("clock", {}, trouble);
    }
}

void frmMain::cmdStart_Click() {
    const bool starting = !session_->IsRunning() && !session_->IsStarting();
    try {
        state_.TargetElevation = base::ParseLenient(Utf8(txtTargetElevation));
        state_.TargetAzimuth = base::ParseLenient(Utf8(txtTargetAzimuth));
    } catch (const HeliostatError& error) {
        // A stop press stops whatever the target texts hold; a failed start leaves the link
        // stopped.
        StopLink();
        FailStart(QString::fromUtf8(error.what()));
        return;
    }
    if (!starting) {
        StopLink();
        return;
    }
    // Below the horizon's nadir or beyond the zenith there is no direction to send light to.
    if (!(state_.TargetElevation >= -90 && state_.TargetElevation <= 90)) {
        FailStart(QStringLiteral("目標仰角 %1 は範囲外です（-90～90）。")
                      .arg(QString::fromStdString(base::ShortestText(state_.TargetElevation))));
        return;
    }
    clockLogged_ = false;
    session_->Start(txtACTLR_IP->text(), Utf8(txtACTLR_Port),
                    {Utf8(txtObserverLatitude), Utf8(txtObserverLongtitude),
                     Utf8(txtTargetElevation), Utf8(txtTargetAzimuth)});
}

void frmMain::LinkStarted() {
    Timer_cal->start();
    cmdStart->setText(QStringLiteral("計算停止"));
    UpdateTargetTip();
    UpdateClockTip();
}

void frmMain::FailStart(const QString& message) {
    session_->Record("failure", {}, message.toStdString());
    QMessageBox::warning(this, QStringLiteral("計算開始できません"), message);
}

void frmMain::StopLink() {
    session_->Stop();
    Timer_cal->stop();
    cmdStart->setText(QStringLiteral("計算開始"));
    UpdateTargetTip();
}

void frmMain::UpdateTargetTip() {
    bool differs = Timer_cal->isActive();
    try {
        differs =
            differs && (base::ParseLenient(Utf8(txtTargetElevation)) != state_.TargetElevation ||
                        base::ParseLenient(Utf8(txtTargetAzimuth)) != state_.TargetAzimuth);
    } catch (const HeliostatError&) {
        // A text too large to read differs from any running target.
    }
    for (QLineEdit* target : {txtTargetElevation, txtTargetAzimuth}) {
        SetLiveToolTip(target,
                       differs ? QStringLiteral("計算停止→計算開始で反映されます") : QString());
    }
}

void frmMain::Timer_cal_Timer() {
    const int clearsBefore = picView->ClearCount();
    QString failure;
    try {
        cycle::SOLCAL(state_, *this, clock_(), options_.pointing);
        ShowStale(false);
        return;
    } catch (const HeliostatError& error) {
        failure = QString::fromUtf8(error.what());
    } catch (const std::exception& error) {
        failure = QStringLiteral("計算できません（%1）").arg(QString::fromUtf8(error.what()));
    }
    // The timer keeps running; the next tick tries again with whatever the fields hold then.
    // The last good cycle's sunset or sunrise must not stand under the failure, and the
    // computed fields are greyed until a cycle succeeds.
    if (picView->ClearCount() == clearsBefore) {
        cycle::DrawChartBackground(*picView);
    }
    picView->ShowFailure(failure);
    ShowStale(true);
    session_->Record("failure", {}, failure.toStdString());
}

void frmMain::ShowStale(bool stale) {
    for (QLineEdit* edit :
         {txtSettingElevation, txtSettingAzimuth, txtMirrorElevation, txtMirrorAzimuth}) {
        QPalette p = edit->palette();
        p.setColor(QPalette::Text, stale ? QColor(128, 128, 128) : palette().color(QPalette::Text));
        edit->setPalette(p);
        edit->setToolTip(stale ? QStringLiteral("前回の計算の値です（最新の計算は失敗しました）")
                               : QString());
    }
}

void frmMain::ShowReply(const QString& azimuth, const QString& elevation) {
    txtAntennaElevation->setText(elevation);
    txtAntennaAzimuth->setText(azimuth);
}

void frmMain::ShowHealth(link::LinkHealth health, const QString& tooltip, const QString& notice) {
    const QColor tint = HealthTint(health);
    for (QLineEdit* edit : {txtAntennaElevation, txtAntennaAzimuth}) {
        QPalette p = edit->palette();
        p.setColor(QPalette::Base, tint.isValid() ? tint : palette().color(QPalette::Base));
        edit->setPalette(p);
        SetLiveToolTip(edit, tooltip);
    }
    if (picView->Notice() != notice) {
        picView->SetNotice(notice);
    }
}

void frmMain::cmdClose_Click() {
    close();
}

bool frmMain::ConfirmQuit() {
    QMessageBox box(QMessageBox::Question, QString(), QStringLiteral("終了しますか？"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

// What a confirmed 終了 does: without --stow nothing is sent; the socket simply ends with the
// window.
void frmMain::EndSession() {
    session_->Exit();
    Timer_cal->stop();
    tmrTime->stop();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (!ConfirmQuit()) {
        event->ignore();
        return;
    }
    EndSession();
    event->accept();
}

void frmMain::EndWithoutAsking() {
    EndSession();
    hide();
    QCoreApplication::quit();
}

void frmMain::Form_QueryUnload_Session(QSessionManager& manager) {
    if (!manager.allowsInteraction()) {
        return;
    }
    const bool quit = ConfirmQuit();
    manager.release();
    if (!quit) {
        manager.cancel();
    }
}

QLineEdit* frmMain::FieldEdit(cycle::Field field) const {
    switch (field) {
        case cycle::Field::ObserverLatitude:
            return txtObserverLatitude;
        case cycle::Field::ObserverLongtitude:
            return txtObserverLongtitude;
        case cycle::Field::SettingElevation:
            return txtSettingElevation;
        case cycle::Field::SettingAzimuth:
            return txtSettingAzimuth;
        case cycle::Field::MirrorElevation:
            return txtMirrorElevation;
        case cycle::Field::MirrorAzimuth:
            return txtMirrorAzimuth;
    }
    throw HeliostatError("不明な入力欄です。", "field");
}

std::string frmMain::ReadText(cycle::Field field) {
    return Utf8(FieldEdit(field));
}

void frmMain::WriteText(cycle::Field field, std::string_view text) {
    FieldEdit(field)->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

cycle::ChartSurface& frmMain::Chart() {
    return *picView;
}

void frmMain::SendMirrorCommand() {
    session_->SetBeamGeometry(
        {state_.Latitude, state_.Longitude, state_.TargetElevation, state_.TargetAzimuth});
    session_->SendCommand(Utf8(txtMirrorAzimuth), Utf8(txtMirrorElevation));
}

}  // namespace heliostat::ui
