// The window without the network: controls and start-up, the clock, the observation-point
// combo and the close confirmation.
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QtTest>

#include "ui/chart_view.h"
#include "ui/frm_main.h"
#include "ui/japanese_qt.h"
#include "ui_test_support.h"

using heliostat::ui::ChartView;
using heliostat::ui::frmMain;
namespace support = heliostat::ui::test;

namespace {

template <typename W = QWidget>
W* Control(const frmMain& window, const char* name) {
    return window.findChild<W*>(QString::fromLatin1(name));
}

// Typing as an input method commits it: one edit of the whole text, as with a Japanese IME.
void TypeCommitted(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Delete);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

}  // namespace

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUpTexts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("latitude") << "txtObserverLatitude"
                                  << "35.64";
        QTest::newRow("longitude") << "txtObserverLongtitude"
                                   << "139.3";
        QTest::newRow("target elevation") << "txtTargetElevation"
                                          << "35.64";
        QTest::newRow("target azimuth") << "txtTargetAzimuth"
                                        << "139.3";
        QTest::newRow("controller address") << "txtACTLR_IP"
                                            << "127.0.0.1";
        QTest::newRow("controller port") << "txtACTLR_Port"
                                         << "10006";
        QTest::newRow("sun elevation") << "txtSettingElevation"
                                       << "";
        QTest::newRow("sun azimuth") << "txtSettingAzimuth"
                                     << "";
        QTest::newRow("mirror elevation") << "txtMirrorElevation"
                                          << "";
        QTest::newRow("mirror azimuth") << "txtMirrorAzimuth"
                                        << "";
        QTest::newRow("mount elevation") << "txtAntennaElevation"
                                         << "";
        QTest::newRow("mount azimuth") << "txtAntennaAzimuth"
                                       << "";
    }

    void startUpTexts() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        frmMain window;
        auto* edit = window.findChild<QLineEdit*>(name);
        QVERIFY(edit != nullptr);
        QCOMPARE(edit->text(), text);
        QVERIFY(edit->isEnabled() && !edit->isReadOnly());
    }

    void startUpState() {
        support::ManualClock clock;
        frmMain window(clock.Function());
        QCOMPARE(window.windowTitle(), QStringLiteral("太陽軌道・反射鏡角度計算"));
        QCOMPARE(window.size(), QSize(498, 415));  // 7464 x 6228 twips
        QCOMPARE(Control<QComboBox>(window, "ComboObservatory")->currentText(),
                 QStringLiteral("八王子"));
        QCOMPARE(Control<QComboBox>(window, "ComboObservatory")->count(), 10);
        QCOMPARE(Control<QPushButton>(window, "cmdStart")->text(), QStringLiteral("計算開始"));
        QCOMPARE(Control<QPushButton>(window, "cmdClose")->text(), QStringLiteral("終了"));
        QVERIFY(!window.findChild<QTimer*>("Timer_cal")->isActive());
        QCOMPARE(window.findChild<QTimer*>("Timer_cal")->interval(), 750);
        QVERIFY(window.findChild<QTimer*>("tmrTime")->isActive());
        QCOMPARE(window.findChild<QTimer*>("tmrTime")->interval(), 1000);
        QCOMPARE(window.findChild<QUdpSocket*>("Winsock1")->state(),
                 QAbstractSocket::UnconnectedState);
        QCOMPARE(Control<QLabel>(window, "Label7")->palette().color(QPalette::WindowText),
                 QColor(255, 0, 0));
        QCOMPARE(Control<QLabel>(window, "Label7")->text(),
                 QStringLiteral("注)アンテナコントローラの起動を確認してから計算開始"));
        QCOMPARE(Control<QLabel>(window, "Label9")->text(),
                 QStringLiteral("アンテナコントローラ\u3000ポート(ASCII)"));
        QCOMPARE(Control<QGroupBox>(window, "Frame3")->title(),
                 QStringLiteral("現在反射鏡角度情報"));
        QCOMPARE(Control<QFrame>(window, "Shape1")->frameShape(), QFrame::Box);
        QCOMPARE(window.focusWidget(), Control(window, "cmdStart"));
    }

    // Only the exact mode marks the title; the default keeps it as it always was.
    void titleNamesTheExactMode() {
        frmMain window;
        heliostat::ui::WindowOptions options;
        window.Configure(options, nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("太陽軌道・反射鏡角度計算"));
        options.pointing = heliostat::cycle::Pointing::Exact;
        window.Configure(options, nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("太陽軌道・反射鏡角度計算［精密］"));
    }

    void geometry_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("rect");
        // Twips / 15, rounded.
        QTest::newRow("Shape1") << "Shape1"
                                << "frmMain" << QRect(0, 0, 209, 25);
        QTest::newRow("lblTime") << "lblTime"
                                 << "frmMain" << QRect(72, 8, 145, 33);
        QTest::newRow("txtACTLR_IP") << "txtACTLR_IP"
                                     << "frmMain" << QRect(408, 0, 89, 25);
        QTest::newRow("picView") << "picView"
                                 << "frmMain" << QRect(264, 80, 189, 173);
        QTest::newRow("cmdStart") << "cmdStart"
                                  << "frmMain" << QRect(392, 312, 97, 49);
        QTest::newRow("cmdClose") << "cmdClose"
                                  << "frmMain" << QRect(392, 368, 97, 41);
        // 1212 twips high, so that it ends inside the 415-pixel window (1332 would not).
        QTest::newRow("Frame3") << "Frame3"
                                << "frmMain" << QRect(200, 328, 185, 81);
        QTest::newRow("Frame4") << "Frame4"
                                << "frmMain" << QRect(8, 152, 193, 81);
        QTest::newRow("combo in its frame") << "ComboObservatory"
                                            << "Frame1" << QRect(24, 24, 161, 20);
        QTest::newRow("target azimuth in its frame") << "txtTargetAzimuth"
                                                     << "Frame4" << QRect(120, 48, 65, 25);
        QTest::newRow("mount azimuth in its frame") << "txtAntennaAzimuth"
                                                    << "Frame3" << QRect(104, 48, 73, 25);
        QTest::newRow("mirror elevation label in its frame") << "Label13"
                                                             << "Frame5" << QRect(16, 24, 81, 17);
    }

    void geometry() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, rect);
        frmMain window;
        auto* widget = window.findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        QCOMPARE(widget->geometry(), rect);
    }

    void focusOrder() {
        frmMain window;
        const QStringList expected = {"cmdStart",
                                      "cmdClose",
                                      "txtACTLR_Port",
                                      "txtACTLR_IP",
                                      "picView",
                                      "txtObserverLongtitude",
                                      "txtObserverLatitude",
                                      "txtSettingAzimuth",
                                      "txtSettingElevation",
                                      "txtAntennaElevation",
                                      "txtAntennaAzimuth",
                                      "ComboObservatory",
                                      "txtTargetElevation",
                                      "txtTargetAzimuth",
                                      "txtMirrorElevation",
                                      "txtMirrorAzimuth"};
        QStringList order;
        QWidget* w = Control(window, "cmdStart");
        do {
            // The combo's line edit is its focus proxy, not a stop of its own.
            if ((w->focusPolicy() & Qt::TabFocus) && w->focusProxy() == nullptr &&
                qobject_cast<QComboBox*>(w->parentWidget()) == nullptr) {
                order << w->objectName();
            }
            w = w->nextInFocusChain();
        } while (w != Control(window, "cmdStart") && order.size() <= expected.size());
        QCOMPARE(order, expected);
    }

    void startUpChartIsGridOnly() {
        frmMain window;
        const auto* chart = Control<ChartView>(window, "picView");
        QVERIFY(chart->Persistent());
        int circles = 0, lines = 0, texts = 0;
        for (const auto& op : chart->Operations()) {
            circles += op.kind == ChartView::Operation::Kind::Circle;
            lines += op.kind == ChartView::Operation::Kind::Line;
            texts += op.kind == ChartView::Operation::Kind::Text;
        }
        QCOMPARE(circles, 3);
        QCOMPARE(lines, 2);
        QCOMPARE(texts, 7);
        QVERIFY(support::FilledCircles(*chart).isEmpty());
        QCOMPARE(support::RedPixelCount(chart->Image()), 0);
    }

    // The clock shows Japan Standard Time from the injected UTC clock, in the Japanese form
    // whatever the locale: 15:30:07 UTC on 21 June is already 22 June in Japan.
    void clockShowsJapanTimeEverySecond() {
        support::ManualClock clock;
        clock.now = support::Jst(2026, 6, 22, 0, 30, 7);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        frmMain window(clock.Function());
        QLocale::setDefault(QLocale::system());
        QCOMPARE(Control<QLabel>(window, "lblTime")->text(), QStringLiteral("2026/06/22 0:30:07"));

        clock.now += std::chrono::seconds(2);
        QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "lblTime")->text(),
                                  QStringLiteral("2026/06/22 0:30:09"), 2500);
    }

    // Qt's own buttons speak Japanese once the program has loaded Debian's catalogue.
    void closeQuestionButtonsInJapanese() {
        QVERIFY(heliostat::ui::InstallJapaneseQtTexts(*qApp));
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QString yes, no;
        support::ModalAnswerer answer([&](QMessageBox* box) {
            yes = box->button(QMessageBox::Yes)->text();
            no = box->button(QMessageBox::No)->text();
            box->button(QMessageBox::No)->click();
        });
        QVERIFY(!window.close());
        QCOMPARE(answer.boxes, 1);
        QVERIFY2(yes.startsWith(QStringLiteral("はい")), qPrintable(yes));
        QVERIFY2(no.startsWith(QStringLiteral("いいえ")), qPrintable(no));
    }

    void presetSelection_data() {
        QTest::addColumn<int>("downPresses");
        QTest::addColumn<QString>("latitude");
        QTest::addColumn<QString>("longitude");
        QTest::newRow("東京") << 1 << "35.65"
                              << "139.7";
        QTest::newRow("札幌") << 2 << "43.06"
                              << "141.3";
        QTest::newRow("那覇, three decimals") << 8 << "26.217"
                                              << "127.7";
        QTest::newRow("その他・任意入力 keeps the fields") << 9 << "1.5"
                                                           << "2.5";
    }

    // Selecting with the arrow keys in the closed combo, as an operator may; the fields hold
    // hand-typed values before the last press.
    void presetSelection() {
        QFETCH(int, downPresses);
        QFETCH(QString, latitude);
        QFETCH(QString, longitude);
        frmMain window;
        auto* combo = Control<QComboBox>(window, "ComboObservatory");
        for (int i = 1; i < downPresses; ++i) {
            QTest::keyClick(combo, Qt::Key_Down);
        }
        Control<QLineEdit>(window, "txtObserverLatitude")->setText("1.5");
        Control<QLineEdit>(window, "txtObserverLongtitude")->setText("2.5");
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentIndex(), downPresses);
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLatitude")->text(), latitude);
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLongtitude")->text(), longitude);
    }

    void selectionAfterHandEdits() {
        frmMain window;
        auto* combo = Control<QComboBox>(window, "ComboObservatory");
        Control<QLineEdit>(window, "txtObserverLatitude")->setText("1.5");
        Control<QLineEdit>(window, "txtObserverLongtitude")->setText("2.5");
        combo->setCurrentIndex(9);
        emit combo->activated(9);
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLatitude")->text(), QStringLiteral("1.5"));
        combo->setCurrentIndex(5);
        emit combo->activated(5);
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLatitude")->text(),
                 QStringLiteral("34.68"));
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLongtitude")->text(),
                 QStringLiteral("135.5"));
    }

    void typing_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("latitude");
        QTest::addColumn<QString>("longitude");
        QTest::newRow("札幌") << "札幌"
                              << "43.06"
                              << "141.3";
        QTest::newRow("福岡") << "福岡"
                              << "33.58"
                              << "130.4";
        QTest::newRow("八王子") << "八王子"
                                << "35.64"
                                << "139.3";
        QTest::newRow("not a city") << "大阪市"
                                    << "1.5"
                                    << "2.5";
        QTest::newRow("start of a name") << "札"
                                         << "1.5"
                                         << "2.5";
        QTest::newRow("free input entry") << "その他・任意入力"
                                          << "1.5"
                                          << "2.5";
        QTest::newRow("half-width kana") << "ｿﾉ他･任意入力"
                                         << "1.5"
                                         << "2.5";
        QTest::newRow("full-width blank after") << "札幌\u3000"
                                                << "1.5"
                                                << "2.5";
        QTest::newRow("blank before") << " 東京"
                                      << "1.5"
                                      << "2.5";
        QTest::newRow("empty") << ""
                               << "1.5"
                               << "2.5";
    }

    // Typing looks the text up like a selection; anything but a city's exact name leaves the
    // operator's hand-typed coordinates alone.
    void typing() {
        QFETCH(QString, typed);
        QFETCH(QString, latitude);
        QFETCH(QString, longitude);
        frmMain window;
        auto* combo = Control<QComboBox>(window, "ComboObservatory");
        Control<QLineEdit>(window, "txtObserverLatitude")->setText("1.5");
        Control<QLineEdit>(window, "txtObserverLongtitude")->setText("2.5");
        TypeCommitted(combo->lineEdit(), typed);
        QCOMPARE(combo->currentText(), typed);  // nothing is completed into a city
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLatitude")->text(), latitude);
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLongtitude")->text(), longitude);
    }

    void typingOnTheKeyboard() {
        frmMain window;
        auto* combo = Control<QComboBox>(window, "ComboObservatory");
        Control<QLineEdit>(window, "txtObserverLatitude")->setText("1.5");
        QTest::keyClicks(combo->lineEdit(), "x");
        QCOMPARE(combo->currentText(), QStringLiteral("八王子x"));
        QCOMPARE(Control<QLineEdit>(window, "txtObserverLatitude")->text(), QStringLiteral("1.5"));
        QCOMPARE(combo->count(), 10);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(combo->count(), 10);  // the list never grows
    }

    void closeAnsweredNoKeepsRunning_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("cmdClose") << true;
        QTest::newRow("close box") << false;
    }

    void closeAnsweredNoKeepsRunning() {
        QFETCH(bool, byButton);
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::No);
        if (byButton) {
            QTest::mouseClick(Control(window, "cmdClose"), Qt::LeftButton);
        } else {
            QVERIFY(!window.close());
        }
        QCOMPARE(answer.boxes, 1);
        QCOMPARE(answer.text, QStringLiteral("終了しますか？"));
        QCOMPARE(answer.icon, QMessageBox::Question);
        QVERIFY(answer.isDefaultNo);
        QVERIFY(window.isVisible());
        QVERIFY(window.findChild<QTimer*>("tmrTime")->isActive());
    }

    void enterAnswersNo() {
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        support::ModalAnswerer answer(
            [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        QVERIFY(!window.close());
        QCOMPARE(answer.boxes, 1);
        QVERIFY(window.isVisible());
    }

    void closeAnsweredYesCloses() {
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::Yes);
        QTest::mouseClick(Control(window, "cmdClose"), Qt::LeftButton);
        QCOMPARE(answer.boxes, 1);
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frm_main.moc"
