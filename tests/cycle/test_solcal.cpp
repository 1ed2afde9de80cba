#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>

#include "astro/solar.h"
#include "base/errors.h"
#include "base/jst_clock.h"
#include "base/number_text.h"
#include "cycle/solcal.h"
#include "recording_chart.h"

using namespace heliostat;
using cycle::Field;

namespace {

// The cycle's surroundings in memory: six text fields, a recording chart and the datagrams
// that would have been sent.
class FakeHost final : public cycle::CycleHost {
public:
    std::map<Field, std::string> fields;
    RecordingChart chart;
    QStringList sent;
    bool refuseSend = false;

    FakeHost(const std::string& lat, const std::string& lon) {
        fields[Field::ObserverLatitude] = lat;
        fields[Field::ObserverLongtitude] = lon;
    }
    std::string ReadText(Field f) override { return fields[f]; }
    void WriteText(Field f, std::string_view text) override { fields[f] = std::string(text); }
    cycle::ChartSurface& Chart() override { return chart; }
    void SendMirrorCommand() override {
        if (refuseSend) {
            throw HeliostatError("送信できません", "send");
        }
        sent << QString::fromStdString("0," + fields[Field::MirrorAzimuth] + "," +
                                       fields[Field::MirrorElevation]);
    }
    QString text(Field f) { return QString::fromStdString(fields[f]); }
};

std::chrono::system_clock::time_point Jst(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return base::FromJst({y, mo, d, h, mi, s, ms});
}

cycle::WindowState Targets(double elevation, double azimuth) {
    cycle::WindowState state;
    state.TargetElevation = elevation;
    state.TargetAzimuth = azimuth;
    return state;
}

}  // namespace

class TestSolcal : public QObject {
    Q_OBJECT

private slots:
    void dayCycleOfTheWorkedExample() {
        FakeHost host("35", "135");
        auto state = Targets(10, 200);
        const auto report = cycle::SOLCAL(state, host, Jst(2026, 6, 21, 12, 0, 0));
        QCOMPARE(report.branch, cycle::Branch::Day);
        QCOMPARE(host.text(Field::SettingElevation), QStringLiteral(" 78.43"));
        QCOMPARE(host.text(Field::SettingAzimuth), QStringLiteral("177.63"));
        QCOMPARE(host.text(Field::MirrorElevation), QStringLiteral("44.21"));
        QCOMPARE(host.text(Field::MirrorAzimuth), QStringLiteral("188.82"));
        QCOMPARE(host.sent, QStringList{"0,188.82,44.21"});
        QCOMPARE(state.UniversalHours, 0.0);  // CALRISE leaves 0 there on a day cycle
        QCOMPARE(state.LocalMeanHours, 9.0);
        QVERIFY(std::fabs(state.MirrorElevation - 44.21362984) < 1e-7);
        QVERIFY(std::fabs(state.MirrorAzimuth - 188.81675937) < 1e-7);
        // First day cycle: no marker, the sunset message.
        QVERIFY(!report.marker);
        QCOMPARE(state.SunMarkerPhase, 1);
        QVERIFY(host.chart.ops.contains("Print 0 0 日の入りは"));
        QCOMPARE(host.chart.ops.last(), "Print 0 200 " + QString::fromStdString(report.chartTime));
    }

    // At night the mirror is pointed for the announced sunrise of the next morning.
    void nightCyclePointsAtTheNextSunrise() {
        FakeHost host("35.65", "139.7");
        auto state = Targets(13.01, 200);
        const auto report = cycle::SOLCAL(state, host, Jst(2008, 6, 15, 3, 0, 0));
        QCOMPARE(report.branch, cycle::Branch::Night);
        // The sunrise of 16 June, not the one of this morning.
        QCOMPARE(QString::fromStdString(report.chartTime), QStringLiteral("4時24分"));
        QCOMPARE(state.SunriseHour, 4.0);
        QCOMPARE(state.SunriseMinute, 24.0);
        QCOMPARE(host.text(Field::SettingElevation), QStringLiteral(".00"));
        QCOMPARE(host.text(Field::MirrorElevation), QStringLiteral("6.51"));  // 13.01 / 2
        QCOMPARE(state.UniversalHours, (4.0 - 9) + 24.0 / 60);
        // Day 167 at 04:24 by the sun formulas, worked by hand: azimuth 59.8637, north of
        // east; the mirror halfway to the target, (59.8637 + 200) / 2.
        QCOMPARE(host.text(Field::SettingAzimuth), QStringLiteral("059.86"));
        QCOMPARE(host.sent, QStringList{"0,129.93,6.51"});
        QVERIFY(host.chart.ops.contains("Print 0 2100 沈んでます。"));
        // The sunrise, not the day's sunset (18時59分), stands under 次の日の出は.
        QVERIFY(host.chart.ops.contains("Print 1525 2300 4時24分"));
        QVERIFY(!host.chart.ops.contains("Print 0 0 日の入りは"));
    }

    void yearEndNightUsesDay366() {
        FakeHost host("35.65", "139.7");
        auto state = Targets(0, 0);
        const auto report = cycle::SOLCAL(state, host, Jst(2008, 12, 31, 22, 0, 0));
        QCOMPARE(report.branch, cycle::Branch::Night);
        // Sunrise of 1 January 2009 at 6.8437 h, shown as 6:50; worked by hand with day 366
        // the azimuth is 117.2118 (day 1 would give 117.9327).
        QCOMPARE(QString::fromStdString(report.chartTime), QStringLiteral("6時50分"));
        QVERIFY(std::fabs(report.sunAzimuth - 117.21177) < 1e-4);
        QCOMPARE(host.text(Field::SettingAzimuth), QStringLiteral("117.21"));
    }

    void calendarFieldsOfTheCycle_data() {
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("stateMonth");
        QTest::addColumn<double>("universalHours");
        QTest::newRow("1 January is month 13") << 1 << 1 << 12 << 0 << 0 << 0 << 2008 << 13 << 3.0;
        QTest::newRow("15 February is month 14")
            << 2 << 15 << 12 << 0 << 0 << 0 << 2008 << 14 << 3.0;
        QTest::newRow("1 March is month 3") << 3 << 1 << 12 << 0 << 0 << 0 << 2009 << 3 << 3.0;
        QTest::newRow("05:30 is -3.5 h UT") << 7 << 1 << 5 << 30 << 0 << 0 << 2009 << 7 << -3.5;
        // One clock reading: the last millisecond before ten o'clock stays in hour 9.
        QTest::newRow("09:59:59.999")
            << 7 << 1 << 9 << 59 << 59 << 999 << 2009 << 7 << (59 / 60.0 + 59 / 3600.0);
    }
    void calendarFieldsOfTheCycle() {
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(int, second);
        QFETCH(int, ms);
        QFETCH(int, year);
        QFETCH(int, stateMonth);
        QFETCH(double, universalHours);
        FakeHost host("35.65", "139.7");
        auto state = Targets(0, 0);
        const auto report =
            cycle::SOLCAL(state, host, Jst(2009, month, day, hour, minute, second, ms));
        QCOMPARE(report.branch, cycle::Branch::Day);
        QCOMPARE(state.Year, year);
        QCOMPARE(state.Month, stateMonth);
        QCOMPARE(state.Day, day);
        QCOMPARE(state.Hour, hour);
        // The sun shown is the one of this reading's local date and time: the day number from
        // the calendar month, and the Universal Time derived from that single reading.
        const auto sun = astro::CALSUN(astro::DayOfYear(month, day), universalHours, 35.65, 139.7);
        QCOMPARE(report.sunElevation, sun.SunElevation);
        QCOMPARE(report.sunAzimuth, sun.SunAzimuth);
    }

    // The local clock is Japan Standard Time whatever zone the operating system is set to.
    void jstDoesNotDependOnTheTimeZone() {
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", "America/Los_Angeles");
        tzset();
        const auto utc = std::chrono::sys_days{std::chrono::year{2026} / 6 / 21} +
                         std::chrono::hours{3};  // 03:00 UTC is noon in Japan
        const base::JstDateTime jst = base::ToJst(utc);
        if (saved.isNull()) {
            qunsetenv("TZ");
        } else {
            qputenv("TZ", saved);
        }
        tzset();
        QCOMPARE(jst.year, 2026);
        QCOMPARE(jst.month, 6);
        QCOMPARE(jst.day, 21);
        QCOMPARE(jst.hour, 12);
        QCOMPARE(jst.minute, 0);
        // The date changes at 15:00 UTC.
        QCOMPARE(base::ToJst(utc + std::chrono::hours{12}).day, 22);
        QCOMPARE(base::ToJst(utc + std::chrono::hours{12} - std::chrono::milliseconds{1}).day, 21);
    }

    // Readings far outside the system clock's nanosecond range (1677 to 2262) convert without
    // wrapping; the cycle runs only from 1 March 1900 to 28 February 2100. Instants in
    // milliseconds since 1970 from a calendar calculation done independently.
    void wideClockReadings_data() {
        QTest::addColumn<QList<int>>("jst");  // year, month, day, hour, minute, second, ms
        QTest::addColumn<qint64>("utcMs");
        QTest::addColumn<bool>("computed");
        QTest::addColumn<QString>("stamp");  // the record's time stamp
        QTest::newRow("year 1") << QList<int>{1, 1, 1, 0, 0, 0, 0} << qint64(-62135629200000)
                                << false << "0001-01-01T00:00:00.000+09:00";
        QTest::newRow("epoch") << QList<int>{1970, 1, 1, 9, 0, 0, 0} << qint64(0) << true
                               << "1970-01-01T09:00:00.000+09:00";
        QTest::newRow("first day") << QList<int>{1900, 3, 1, 0, 0, 0, 0} << qint64(-2203923600000)
                                   << true << "1900-03-01T00:00:00.000+09:00";
        QTest::newRow("last instant")
            << QList<int>{2100, 2, 28, 23, 59, 59, 999} << qint64(4107509999999) << true
            << "2100-02-28T23:59:59.999+09:00";
        QTest::newRow("1 March 2100") << QList<int>{2100, 3, 1, 0, 0, 0, 0} << qint64(4107510000000)
                                      << false << "2100-03-01T00:00:00.000+09:00";
        QTest::newRow("end of 9999")
            << QList<int>{9999, 12, 31, 23, 59, 59, 999} << qint64(253402268399999) << false
            << "9999-12-31T23:59:59.999+09:00";
        QTest::newRow("digits apart")
            << QList<int>{2026, 12, 8, 2, 57, 26, 40} << qint64(1796666246040) << true
            << "2026-12-08T02:57:26.040+09:00";
    }
    void wideClockReadings() {
        QFETCH(QList<int>, jst);
        QFETCH(qint64, utcMs);
        QFETCH(bool, computed);
        QFETCH(QString, stamp);
        const base::JstDateTime t{jst[0], jst[1], jst[2], jst[3], jst[4], jst[5], jst[6]};
        const base::UtcMillis utc = base::JstToUtc(t);
        QCOMPARE(qint64(utc.time_since_epoch().count()), utcMs);
        const base::JstDateTime back = base::ToJst(utc);
        QCOMPARE((QList<int>{back.year, back.month, back.day, back.hour, back.minute, back.second,
                             back.millisecond}),
                 jst);
        QCOMPARE(QString::fromStdString(base::RecordStamp(utc)), stamp);
        FakeHost host("35.65", "139.7");
        auto state = Targets(10, 200);
        try {
            cycle::SOLCAL(state, host, utc);
            QVERIFY(computed);
        } catch (const HeliostatError& e) {
            QVERIFY2(!computed, e.what());
            QCOMPARE(e.failed(), std::string("SOLCAL"));
            QVERIFY(host.sent.isEmpty());
        }
    }

    // The marker shows on every second day cycle; night cycles leave the phase alone.
    void markerBlinksOverDayAndNight() {
        FakeHost host("35.65", "139.7");
        auto state = Targets(10, 180);
        struct Step {
            int hour;
            bool night;
            bool marker;
        };
        const Step steps[] = {{10, false, false}, {11, false, true}, {23, true, false},
                              {12, false, false}, {2, true, false},  {13, false, true},
                              {14, false, false}};
        for (const Step& step : steps) {
            host.chart.ops.clear();
            const auto report = cycle::SOLCAL(state, host, Jst(2008, 6, 15, step.hour, 0, 0));
            QCOMPARE(report.branch == cycle::Branch::Night, step.night);
            QCOMPARE(bool(report.marker), step.marker);
            const bool drewDisc = !host.chart.ops.filter(QRegularExpression("^Disc ")).isEmpty();
            QCOMPARE(drewDisc, step.marker);
        }
    }

    void failedCycleSendsNothing_data() {
        QTest::addColumn<QString>("latitude");
        QTest::addColumn<QString>("longitude");
        QTest::addColumn<int>("hour");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<bool>("fieldsWritten");
        QTest::newRow("latitude is a word") << "abc"
                                            << "139.7" << 12 << "観測点緯度" << false;
        QTest::newRow("longitude is empty") << "35"
                                            << "" << 12 << "観測点経度" << false;
        QTest::newRow("latitude with trailing text") << "35x"
                                                     << "139.7" << 12 << "観測点緯度" << false;
        // Polar day: the sun is computed and shown, but no sunset can be found.
        QTest::newRow("polar day") << "80"
                                   << "139.7" << 12 << "" << true;
        // 65N 154E in June: the next sunrise comes before midnight (-0.25 h), which the chart
        // cannot show as a time of the next day.
        QTest::newRow("sunrise before midnight") << "65"
                                                 << "154" << 0 << "CALRISE: 日の出時刻" << true;
    }
    void failedCycleSendsNothing() {
        QFETCH(QString, latitude);
        QFETCH(QString, longitude);
        QFETCH(int, hour);
        QFETCH(QString, failed);
        QFETCH(bool, fieldsWritten);
        FakeHost host(latitude.toStdString(), longitude.toStdString());
        auto state = Targets(10, 200);
        state.SunsetHour = 17;
        state.SunsetMinute = 5;
        try {
            cycle::SOLCAL(state, host, Jst(2008, 6, 21, hour, 0, 0));
            QFAIL("the cycle should have failed");
        } catch (const HeliostatError& e) {
            QVERIFY(std::string_view(e.what()).size() > 0);
            if (!failed.isEmpty()) {
                QCOMPARE(QString::fromStdString(e.failed()), failed);
                QVERIFY(QString::fromUtf8(e.what()).contains(latitude == "abc" ? "abc" : ""));
            }
        }
        QVERIFY(host.sent.isEmpty());
        QCOMPARE(host.fields.count(Field::MirrorAzimuth) == 1, fieldsWritten);
        // The sunset of the last successful run stays.
        QCOMPARE(state.SunsetHour, 17.0);
        QCOMPARE(state.SunsetMinute, 5.0);
        // A cycle that failed before drawing leaves the chart alone.
        QCOMPARE(host.chart.ops.isEmpty(), !fieldsWritten);
    }

    // Every city of the list, every 10 minutes of a whole year: no cycle fails, and every text
    // shown or sent is a finite number in its pattern.
    void wholeYearForEveryCity() {
        const std::pair<const char*, const char*> cities[] = {
            {"35.64", "139.3"}, {"35.65", "139.7"}, {"43.06", "141.3"},
            {"38.27", "140.9"}, {"35.17", "136.9"}, {"34.68", "135.5"},
            {"34.37", "132.4"}, {"33.58", "130.4"}, {"26.217", "127.7"}};
        const QRegularExpression sunElevation(R"(^ (-?\d*\.\d\d)$)");
        const QRegularExpression elevation(R"(^-?\d*\.\d\d$)");
        const QRegularExpression azimuth(R"(^\d{3}\.\d\d$)");
        const QRegularExpression payload(R"(^0,\d{3}\.\d\d,-?\d*\.\d\d$)");
        const auto start = Jst(2026, 1, 1, 0, 0, 0);
        const auto end = Jst(2027, 1, 1, 0, 0, 0);
        int cycles = 0;
        for (const auto& [lat, lon] : cities) {
            FakeHost host(lat, lon);
            auto state = Targets(35.64, 139.3);
            for (auto t = start; t < end; t += std::chrono::minutes{10}) {
                host.sent.clear();
                host.chart.ops.clear();
                cycle::CycleReport report;
                try {
                    report = cycle::SOLCAL(state, host, t);
                } catch (const HeliostatError& e) {
                    const auto j = base::ToJst(t);
                    QFAIL(qPrintable(QStringLiteral("%1,%2 %3-%4-%5 %6:%7: %8")
                                         .arg(lat, lon)
                                         .arg(j.year)
                                         .arg(j.month)
                                         .arg(j.day)
                                         .arg(j.hour)
                                         .arg(j.minute)
                                         .arg(QString::fromUtf8(e.what()))));
                }
                ++cycles;
                const QString el = host.text(Field::SettingElevation);
                QVERIFY2(report.branch == cycle::Branch::Day ? sunElevation.match(el).hasMatch()
                                                             : el == ".00",
                         qPrintable(el));
                QVERIFY2(azimuth.match(host.text(Field::SettingAzimuth)).hasMatch(),
                         qPrintable(host.text(Field::SettingAzimuth)));
                QVERIFY(elevation.match(host.text(Field::MirrorElevation)).hasMatch());
                QVERIFY(azimuth.match(host.text(Field::MirrorAzimuth)).hasMatch());
                QCOMPARE(host.sent.size(), 1);
                QVERIFY2(payload.match(host.sent.first()).hasMatch(),
                         qPrintable(host.sent.first()));
                QVERIFY(std::isfinite(report.sunAzimuth) && report.sunAzimuth > 0 &&
                        report.sunAzimuth <= 360);
                QVERIFY(state.SunsetHour >= 16 && state.SunsetHour <= 19);
                QVERIFY(state.SunriseHour >= 3 && state.SunriseHour <= 7);
            }
        }
        QCOMPARE(cycles, 9 * 365 * 144);
    }
};

QTEST_APPLESS_MAIN(TestSolcal)
#include "test_solcal.moc"
