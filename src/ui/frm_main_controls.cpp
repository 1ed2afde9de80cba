// The window's control inventory: one row per control (name, container, caption, and the
// position and size in twips, 15 to a pixel), built by one loop.
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <variant>

#include "link/controller_session.h"
#include "ui/chart_view.h"
#include "ui/frm_main.h"

namespace heliostat::ui {

namespace {

using Member =
    std::variant<QFrame * frmMain::*, QLabel * frmMain::*, QLineEdit * frmMain::*,
                 QGroupBox * frmMain::*, QPushButton * frmMain::*, QComboBox * frmMain::*>;

struct Control {
    Member member;
    const char* name;
    const char* container;  // a frame's name; nullptr: the window
    const char* caption;
    int left, top, width, height;
};

// In creation order: Shape1 first, so that it lies beneath the clock labels it frames; each
// frame before its contents.
const Control kInventory[] = {
    {&frmMain::Shape1, "Shape1", nullptr, "", 0, 0, 3135, 375},
    {&frmMain::Label1, "Label1", nullptr, "現在時刻", 0, 120, 975, 495},
    {&frmMain::lblTime, "lblTime", nullptr, "lblTime", 1080, 120, 2175, 495},
    {&frmMain::Label10, "Label10", nullptr, "アンテナコントローラ IP", 3240, 120, 1935, 255},
    {&frmMain::txtACTLR_IP, "txtACTLR_IP", nullptr, "127.0.0.1", 6120, 0, 1335, 375},
    {&frmMain::Label9, "Label9", nullptr, "アンテナコントローラ　ポート(ASCII)", 3240, 480, 2775,
     375},
    {&frmMain::txtACTLR_Port, "txtACTLR_Port", nullptr, "10006", 6120, 360, 1335, 375},
    {&frmMain::Label7, "Label7", nullptr, "注)アンテナコントローラの起動を確認してから計算開始",
     3120, 4200, 4335, 495},
    {&frmMain::cmdStart, "cmdStart", nullptr, "計算開始", 5880, 4680, 1452, 735},
    {&frmMain::cmdClose, "cmdClose", nullptr, "終了", 5880, 5520, 1452, 612},
    {&frmMain::Frame1, "Frame1", nullptr, "観測点情報", 120, 480, 2895, 1695},
    {&frmMain::ComboObservatory, "ComboObservatory", "Frame1", "", 360, 360, 2415, 300},
    {&frmMain::Label4, "Label4", "Frame1", "観測点緯度", 360, 960, 975, 255},
    {&frmMain::txtObserverLatitude, "txtObserverLatitude", "Frame1", "", 1800, 840, 975, 375},
    {&frmMain::Label5, "Label5", "Frame1", "観測点経度", 360, 1320, 975, 255},
    {&frmMain::txtObserverLongtitude, "txtObserverLongtitude", "Frame1", "", 1800, 1200, 975, 375},
    {&frmMain::Frame4, "Frame4", nullptr, "反射目標情報", 120, 2280, 2892, 1212},
    {&frmMain::Label2, "Label2", "Frame4", "目標仰角", 360, 360, 852, 252},
    {&frmMain::txtTargetElevation, "txtTargetElevation", "Frame4", "", 1800, 240, 972, 384},
    {&frmMain::Label8, "Label8", "Frame4", "目標方位角", 360, 840, 972, 252},
    {&frmMain::txtTargetAzimuth, "txtTargetAzimuth", "Frame4", "", 1800, 720, 972, 372},
    {&frmMain::Frame2, "Frame2", nullptr, "太陽角度情報", 120, 3600, 2895, 1212},
    {&frmMain::Label12, "Label12", "Frame2", "太陽仰角", 360, 480, 1212, 252},
    {&frmMain::txtSettingElevation, "txtSettingElevation", "Frame2", "", 1800, 360, 975, 375},
    {&frmMain::Label3, "Label3", "Frame2", "太陽方位角", 360, 840, 1212, 252},
    {&frmMain::txtSettingAzimuth, "txtSettingAzimuth", "Frame2", "", 1800, 840, 975, 375},
    {&frmMain::Frame5, "Frame5", nullptr, "反射鏡角度設定情報", 120, 4920, 2892, 1212},
    {&frmMain::Label13, "Label13", "Frame5", "設定仰角", 240, 360, 1212, 252},
    {&frmMain::txtMirrorElevation, "txtMirrorElevation", "Frame5", "", 1800, 240, 972, 372},
    {&frmMain::Label14, "Label14", "Frame5", "設定方位角", 240, 720, 1212, 252},
    {&frmMain::txtMirrorAzimuth, "txtMirrorAzimuth", "Frame5", "", 1800, 720, 972, 384},
    // Its bottom edge stays inside the window (6228 twips high).
    {&frmMain::Frame3, "Frame3", nullptr, "現在反射鏡角度情報", 3000, 4920, 2772, 1212},
    {&frmMain::Label6, "Label6", "Frame3", "現在仰角", 360, 360, 1092, 252},
    {&frmMain::txtAntennaElevation, "txtAntennaElevation", "Frame3", "", 1560, 240, 1092, 375},
    {&frmMain::Label11, "Label11", "Frame3", "現在方位角", 360, 720, 1092, 372},
    {&frmMain::txtAntennaAzimuth, "txtAntennaAzimuth", "Frame3", "", 1560, 720, 1092, 375},
};

int Px(int twips) {
    return static_cast<int>(std::lround(twips / ChartView::kTwipsPerPixel));
}

QWidget* Create(QFrame* frmMain::*, QWidget* parent, const QString&) {
    auto* shape = new QFrame(parent);
    shape->setFrameStyle(QFrame::Box | QFrame::Plain);
    shape->setLineWidth(1);
    return shape;
}
QWidget* Create(QLabel* frmMain::*, QWidget* parent, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}
QWidget* Create(QLineEdit* frmMain::*, QWidget* parent, const QString& caption) {
    return new QLineEdit(caption, parent);
}
QWidget* Create(QGroupBox* frmMain::*, QWidget* parent, const QString& caption) {
    return new QGroupBox(caption, parent);
}
QWidget* Create(QPushButton* frmMain::*, QWidget* parent, const QString& caption) {
    return new QPushButton(caption, parent);
}
QWidget* Create(QComboBox* frmMain::*, QWidget* parent, const QString&) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    // The list never changes after start-up, and typing must not be completed into a city.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    return combo;
}

}  // namespace

void frmMain::BuildControls() {
    for (const Control& c : kInventory) {
        QWidget* parent =
            c.container ? findChild<QWidget*>(QString::fromLatin1(c.container)) : this;
        std::visit(
            [&](auto member) {
                QWidget* widget = Create(member, parent, QString::fromUtf8(c.caption));
                widget->setObjectName(QString::fromLatin1(c.name));
                widget->setGeometry(Px(c.left), Px(c.top), Px(c.width), Px(c.height));
                using Pointer = std::remove_reference_t<decltype(this->*member)>;
                this->*member = static_cast<Pointer>(widget);
            },
            c.member);
    }
    // Only labels tall enough for two lines wrap; a one-line label keeps its text on its line.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setWordWrap(label->height() >= 25);
    }
    // The clock caption starts on the frame's left edge and its Japanese glyphs sit low enough
    // to touch the bottom line: a few pixels in and up keep it clear, without moving the label.
    Label1->setContentsMargins(4, -3, 0, 0);
    QPalette notePalette = Label7->palette();
    notePalette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label7->setPalette(notePalette);

    picView = new ChartView(this);
    picView->setObjectName(QStringLiteral("picView"));
    picView->move(Px(3960), Px(1200));

    Timer_cal = new QTimer(this);
    Timer_cal->setObjectName(QStringLiteral("Timer_cal"));
    Timer_cal->setInterval(750);
    Timer_cal->setTimerType(Qt::PreciseTimer);
    tmrTime = new QTimer(this);
    tmrTime->setObjectName(QStringLiteral("tmrTime"));
    tmrTime->setInterval(1000);
    Winsock1 = session_->Socket();

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

}  // namespace heliostat::ui
