#include "ui/frm_main.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSessionManager>
#include <QTime>
#include <QTimer>
#include <QUdpSocket>
#include <cmath>
#include <cstdio>

#include "base/errors.h"
#include "base/number_text.h"
#include "cycle/chart.h"
#include "cycle/observatory_presets.h"
#include "link/controller_link.h"
#include "link/session_log.h"
#include "link/wire.h"
#include "ui/chart_view.h"
#include "ui/operator_text.h"

namespace heliostat::ui {

namespace {

constexpr double kTwipsPerPixel = 15;
constexpr int kCycleIntervalMs = 750;
constexpr int kClockIntervalMs = 1000;
constexpr int kHealthIntervalMs = 250;

int Px(int twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height) {
    auto* label = Place(new QLabel(caption, parent), name, left, top, width, height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Only labels tall enough for two lines wrap; a one-line label keeps its text on its line.
    label->setWordWrap(Px(height) >= 25);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int left, int top,
                    int width, int height) {
    return Place(new QLineEdit(text, parent), name, left, top, width, height);
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption, int left, int top,
                     int width, int height) {
    return Place(new QGroupBox(caption, parent), name, left, top, width, height);
}

std::string Utf8(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QString ClockText(const base::JstDateTime& jst) {
    return JapaneseClockText(jst);
}

std::string JstStamp(const base::JstDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

double Seconds(std::chrono::system_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string Latin1(const QString& text) {
    return text.toLatin1().toStdString();
}

}  // namespace

frmMain::frmMain(base::UtcClock clock, QWidget* parent)
    : QWidget(parent), clock_(std::move(clock)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("太陽軌道・反射鏡角度計算"));
    setFixedSize(Px(7464), Px(6228));
    // The layout was made for small 9-point text; larger default fonts would not fit it.
    QFont windowFont = font();
    windowFont.setPixelSize(11);
    setFont(windowFont);
    BuildControls();

    connect(cmdStart, &QPushButton::clicked, this, &frmMain::cmdStart_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmMain::cmdClose_Click);
    connect(Timer_cal, &QTimer::timeout, this, &frmMain::Timer_cal_Timer);
    connect(tmrTime, &QTimer::timeout, this, &frmMain::tmrTime_Timer);
    connect(Winsock1, &QIODevice::readyRead, this, &frmMain::Winsock1_DataArrival);
    connect(ComboObservatory, qOverload<int>(&QComboBox::activated), this,
            &frmMain::ComboObservatory_Click);
    connect(ComboObservatory->lineEdit(), &QLineEdit::textEdited, this,
            &frmMain::ComboObservatory_Change);
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &frmMain::Form_QueryUnload_Session);
    healthTimer_ = new QTimer(this);
    healthTimer_->setInterval(kHealthIntervalMs);
    connect(healthTimer_, &QTimer::timeout, this, &frmMain::UpdateHealth);

    Form_Load();
    tmrTime->start();
    cmdStart->setFocus();
}

frmMain::~frmMain() {
    CancelLookup();
}

void frmMain::Configure(const WindowOptions& options, std::unique_ptr<link::SessionLog> log) {
    options_ = options;
    log_ = std::move(log);
    setWindowTitle(options_.pointing == cycle::Pointing::Exact
                       ? QStringLiteral("太陽軌道・反射鏡角度計算［精密］")
                       : QStringLiteral("太陽軌道・反射鏡角度計算"));
}

void frmMain::Log(std::string_view event, std::string_view datagram, std::string_view detail) {
    if (log_) {
        log_->Write(JstStamp(base::ToJst(clock_())), event, datagram, detail);
    }
}

void frmMain::BuildControls() {
    // Created first so that it lies beneath the clock labels it frames.
    Shape1 = Place(new QFrame(this), "Shape1", 0, 0, 3135, 375);
    Shape1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Shape1->setLineWidth(1);

    Label1 = MakeLabel(this, "Label1", QStringLiteral("現在時刻"), 0, 120, 975, 495);
    lblTime = MakeLabel(this, "lblTime", QStringLiteral("lblTime"), 1080, 120, 2175, 495);
    Label10 =
        MakeLabel(this, "Label10", QStringLiteral("アンテナコントローラ IP"), 3240, 120, 1935, 255);
    txtACTLR_IP = MakeEdit(this, "txtACTLR_IP", QStringLiteral("127.0.0.1"), 6120, 0, 1335, 375);
    Label9 = MakeLabel(this, "Label9", QStringLiteral("アンテナコントローラ　ポート(ASCII)"), 3240,
                       480, 2775, 375);
    txtACTLR_Port = MakeEdit(this, "txtACTLR_Port", QStringLiteral("10006"), 6120, 360, 1335, 375);

    picView = new ChartView(this);
    picView->setObjectName(QStringLiteral("picView"));
    picView->move(Px(3960), Px(1200));

    Label7 = MakeLabel(this, "Label7",
                       QStringLiteral("注)アンテナコントローラの起動を確認してから計算開始"), 3120,
                       4200, 4335, 495);
    QPalette notePalette = Label7->palette();
    notePalette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label7->setPalette(notePalette);

    cmdStart =
        Place(new QPushButton(QStringLiteral("計算開始"), this), "cmdStart", 5880, 4680, 1452, 735);
    cmdClose =
        Place(new QPushButton(QStringLiteral("終了"), this), "cmdClose", 5880, 5520, 1452, 612);

    Timer_cal = new QTimer(this);
    Timer_cal->setObjectName(QStringLiteral("Timer_cal"));
    Timer_cal->setInterval(kCycleIntervalMs);
    Timer_cal->setTimerType(Qt::PreciseTimer);
    tmrTime = new QTimer(this);
    tmrTime->setObjectName(QStringLiteral("tmrTime"));
    tmrTime->setInterval(kClockIntervalMs);

    link_ = new link::ControllerLink(this);
    link_->setObjectName(QStringLiteral("ControllerLink"));
    Winsock1 = link_->Socket();

    Frame1 = MakeFrame(this, "Frame1", QStringLiteral("観測点情報"), 120, 480, 2895, 1695);
    ComboObservatory = Place(new QComboBox(Frame1), "ComboObservatory", 360, 360, 2415, 300);
    ComboObservatory->setEditable(true);
    // The list never changes after start-up, and typing must not be completed into a city.
    ComboObservatory->setInsertPolicy(QComboBox::NoInsert);
    ComboObservatory->setCompleter(nullptr);
    Label4 = MakeLabel(Frame1, "Label4", QStringLiteral("観測点緯度"), 360, 960, 975, 255);
    txtObserverLatitude = MakeEdit(Frame1, "txtObserverLatitude", {}, 1800, 840, 975, 375);
    Label5 = MakeLabel(Frame1, "Label5", QStringLiteral("観測点経度"), 360, 1320, 975, 255);
    txtObserverLongtitude = MakeEdit(Frame1, "txtObserverLongtitude", {}, 1800, 1200, 975, 375);

    Frame4 = MakeFrame(this, "Frame4", QStringLiteral("反射目標情報"), 120, 2280, 2892, 1212);
    Label2 = MakeLabel(Frame4, "Label2", QStringLiteral("目標仰角"), 360, 360, 852, 252);
    txtTargetElevation = MakeEdit(Frame4, "txtTargetElevation", {}, 1800, 240, 972, 384);
    Label8 = MakeLabel(Frame4, "Label8", QStringLiteral("目標方位角"), 360, 840, 972, 252);
    txtTargetAzimuth = MakeEdit(Frame4, "txtTargetAzimuth", {}, 1800, 720, 972, 372);

    Frame2 = MakeFrame(this, "Frame2", QStringLiteral("太陽角度情報"), 120, 3600, 2895, 1212);
    Label12 = MakeLabel(Frame2, "Label12", QStringLiteral("太陽仰角"), 360, 480, 1212, 252);
    txtSettingElevation = MakeEdit(Frame2, "txtSettingElevation", {}, 1800, 360, 975, 375);
    Label3 = MakeLabel(Frame2, "Label3", QStringLiteral("太陽方位角"), 360, 840, 1212, 252);
    txtSettingAzimuth = MakeEdit(Frame2, "txtSettingAzimuth", {}, 1800, 840, 975, 375);

    Frame5 = MakeFrame(this, "Frame5", QStringLiteral("反射鏡角度設定情報"), 120, 4920, 2892, 1212);
    Label13 = MakeLabel(Frame5, "Label13", QStringLiteral("設定仰角"), 240, 360, 1212, 252);
    txtMirrorElevation = MakeEdit(Frame5, "txtMirrorElevation", {}, 1800, 240, 972, 372);
    Label14 = MakeLabel(Frame5, "Label14", QStringLiteral("設定方位角"), 240, 720, 1212, 252);
    txtMirrorAzimuth = MakeEdit(Frame5, "txtMirrorAzimuth", {}, 1800, 720, 972, 384);

    Frame3 =
        MakeFrame(this, "Frame3", QStringLiteral("現在反射鏡角度情報"), 3000, 4920, 2772, 1332);
    Label6 = MakeLabel(Frame3, "Label6", QStringLiteral("現在仰角"), 360, 360, 1092, 252);
    txtAntennaElevation = MakeEdit(Frame3, "txtAntennaElevation", {}, 1560, 240, 1092, 375);
    Label11 = MakeLabel(Frame3, "Label11", QStringLiteral("現在方位角"), 360, 720, 1092, 372);
    txtAntennaAzimuth = MakeEdit(Frame3, "txtAntennaAzimuth", {}, 1560, 720, 1092, 375);

    QWidget* const focusOrder[] = {
        cmdStart,
        cmdClose,
        txtACTLR_Port,
        txtACTLR_IP,
        picView,
        txtObserverLongtitude,
        txtObserverLatitude,
        txtSettingAzimuth,
        txtSettingElevation,
        txtAntennaElevation,
        txtAntennaAzimuth,
        ComboObservatory,
        txtTargetElevation,
        txtTargetAzimuth,
        txtMirrorElevation,
        txtMirrorAzimuth,
    };
    for (std::size_t i = 1; i < std::size(focusOrder); ++i) {
        setTabOrder(focusOrder[i - 1], focusOrder[i]);
    }
}

void frmMain::Form_Load() {
    FillObservatoryList();
    lblTime->setText(ClockText(base::ToJst(clock_())));
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
    lblTime->setText(ClockText(base::ToJst(clock_())));
}

void frmMain::cmdStart_Click() {
    const bool starting = !Timer_cal->isActive() && lookupId_ < 0;
    try {
        state_.TargetElevation = base::ParseLenient(Utf8(txtTargetElevation));
        state_.TargetAzimuth = base::ParseLenient(Utf8(txtTargetAzimuth));
        if (!starting) {
            StopLink();
            return;
        }
        const quint16 port = link::ControllerLink::PortFromText(Utf8(txtACTLR_Port));
        const QString host = txtACTLR_IP->text();
        if (const auto address = link::ControllerLink::LiteralAddress(host)) {
            StartLink(*address, port);
            return;
        }
        // A name is looked up in the background so that the window stays responsive; a second
        // press meanwhile cancels the start.
        link_->Close();
        lookupHost_ = host;
        lookupPort_ = port;
        lookupId_ = QHostInfo::lookupHost(host, this, &frmMain::LookupFinished);
    } catch (const HeliostatError& error) {
        // A stop press stops whatever the target texts hold; a failed start leaves the link
        // stopped.
        StopLink();
        FailStart(QString::fromUtf8(error.what()));
    }
}

void frmMain::LookupFinished(const QHostInfo& info) {
    if (info.lookupId() != lookupId_) {
        return;  // a cancelled lookup
    }
    lookupId_ = -1;
    try {
        StartLink(link::ControllerLink::AddressFromLookup(info, lookupHost_), lookupPort_);
    } catch (const HeliostatError& error) {
        StopLink();
        FailStart(QString::fromUtf8(error.what()));
    }
}

void frmMain::CancelLookup() {
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
}

void frmMain::FailStart(const QString& message) {
    Log("failure", {}, message.toStdString());
    QMessageBox::warning(this, QStringLiteral("計算開始できません"), message);
}

void frmMain::StartLink(const QHostAddress& controller, quint16 port) {
    link_->Open(controller, port);
    Timer_cal->start();
    cmdStart->setText(QStringLiteral("計算停止"));
    startedAt_ = clock_();
    lastValidReply_.reset();
    refusal_.clear();
    commandedAzimuth_.clear();
    commandedElevation_.clear();
    healthTimer_->start();
    Log("start", {},
        Latin1(controller.toString()) + ':' + std::to_string(port) + " local " +
            std::to_string(link_->LocalPort()));
    UpdateHealth();
}

void frmMain::StopLink() {
    CancelLookup();
    const bool wasRunning = Timer_cal->isActive();
    if (wasRunning) {
        SendStow();
    }
    link_->Close();
    Timer_cal->stop();
    cmdStart->setText(QStringLiteral("計算開始"));
    healthTimer_->stop();
    if (wasRunning) {
        Log("stop");
    }
    UpdateHealth();
}

// The mirror is turned away from the sun before the link closes, when the operator asked for
// it; a refusal is logged and does not hold up the stop.
void frmMain::SendStow() {
    if (!options_.stow || !link_->IsOpen()) {
        return;
    }
    const std::string payload = StowPayload(*options_.stow);
    try {
        link_->Send(payload);
        Log("stow", payload);
    } catch (const HeliostatError& error) {
        Log("stow", payload, error.what());
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
    Log("failure", {}, failure.toStdString());
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

void frmMain::Winsock1_DataArrival() {
    const auto now = clock_();
    for (const link::ControllerLink::Arrival& arrival : link_->TakeArrivals()) {
        Log("reply", std::string_view(arrival.payload.constData(),
                                      static_cast<std::size_t>(arrival.payload.size())));
        if (!arrival.fields) {
            continue;  // empty, or the splitter overflowed: dropped as before
        }
        const link::ReplyFields& reply = *arrival.fields;
        if (!link::IsValidReplyField(reply.azimuth) || !link::IsValidReplyField(reply.elevation)) {
            ++invalidReplies_;
            Log("invalid-reply",
                std::string_view(arrival.payload.constData(),
                                 static_cast<std::size_t>(arrival.payload.size())),
                "方位角か仰角が数値ではありません");
            continue;
        }
        txtAntennaElevation->setText(QString::fromLatin1(
            reply.elevation.data(), static_cast<qsizetype>(reply.elevation.size())));
        txtAntennaAzimuth->setText(QString::fromLatin1(
            reply.azimuth.data(), static_cast<qsizetype>(reply.azimuth.size())));
        lastValidReply_ = now;
        refusal_.clear();
    }
    if (const auto icmp = link_->TakeSocketError()) {
        refusal_ = icmp->toStdString();
    }
    if (Timer_cal->isActive()) {
        UpdateHealth();
    }
}

void frmMain::UpdateHealth() {
    const bool running = Timer_cal->isActive();
    if (running) {
        if (const auto icmp = link_->TakeSocketError()) {
            refusal_ = icmp->toStdString();
        }
    }
    const auto now = clock_();
    link::HealthInput input;
    input.running = running;
    input.secondsSinceStart = startedAt_ ? Seconds(now - *startedAt_) : 0;
    if (lastValidReply_) {
        input.secondsSinceReply = Seconds(now - *lastValidReply_);
    }
    input.timeoutSeconds = options_.replyTimeoutSeconds;
    input.refusal = refusal_;
    input.commandedAzimuth = commandedAzimuth_;
    input.commandedElevation = commandedElevation_;
    input.reportedAzimuth = Utf8(txtAntennaAzimuth);
    input.reportedElevation = Utf8(txtAntennaElevation);
    const link::LinkHealth health = link::ClassifyHealth(input);

    if (running && health != health_) {
        if (health == link::LinkHealth::Silent) {
            Log("silent", {}, link::SilenceLine(input));
        } else if (health_ == link::LinkHealth::Silent) {
            Log("recovered", {}, link::HealthDescription(health, input));
        }
    }
    health_ = health;

    QColor tint;  // invalid: the normal background
    switch (health) {
        case link::LinkHealth::Silent:
            tint = QColor(255, 150, 150);
            break;
        case link::LinkHealth::Moving:
        case link::LinkHealth::Waiting:
            tint = QColor(255, 235, 110);
            break;
        case link::LinkHealth::OnTarget:
            tint = QColor(150, 230, 150);
            break;
        case link::LinkHealth::Stopped:
            break;
    }
    QString tip = QString::fromStdString(link::HealthDescription(health, input));
    if (invalidReplies_ > 0) {
        tip += QStringLiteral("\n数値でない応答 %1 件（表示していません）").arg(invalidReplies_);
    }
    for (QLineEdit* edit : {txtAntennaElevation, txtAntennaAzimuth}) {
        QPalette p = edit->palette();
        p.setColor(QPalette::Base, tint.isValid() ? tint : palette().color(QPalette::Base));
        edit->setPalette(p);
        edit->setToolTip(tip);
    }
    picView->SetNotice(health == link::LinkHealth::Silent
                           ? QString::fromStdString(link::SilenceLine(input))
                           : QString());
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

void frmMain::closeEvent(QCloseEvent* event) {
    if (!ConfirmQuit()) {
        event->ignore();
        return;
    }
    // Without --stow nothing is sent after the operator has confirmed; the socket simply ends
    // with the window.
    CancelLookup();
    if (Timer_cal->isActive()) {
        SendStow();
    }
    Timer_cal->stop();
    tmrTime->stop();
    healthTimer_->stop();
    Log("exit");
    event->accept();
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
    if (!link_->IsOpen()) {
        link_->Send({});  // throws: the cycle fails as a send without a link
    }
    const std::string azimuth = Utf8(txtMirrorAzimuth);
    const std::string elevation = Utf8(txtMirrorElevation);
    const std::string payload = link::CommandPayload(azimuth, elevation);
    try {
        link_->Send(payload);
    } catch (const HeliostatError& error) {
        // A refused send is the link's trouble, not the calculation's: it is shown like
        // silence, with its reason, until a valid reply arrives.
        refusal_ = error.what();
        Log("failure", payload, refusal_);
        UpdateHealth();
        return;
    }
    commandedAzimuth_ = azimuth;
    commandedElevation_ = elevation;
    Log("command", payload);
}

}  // namespace heliostat::ui
