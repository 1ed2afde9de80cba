#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "base/errors.h"
#include "base/number_text.h"

using heliostat::HeliostatError;
using namespace heliostat;

class TestNumberText : public QObject {
    Q_OBJECT

private slots:
    void formatPattern_data();
    void formatPattern();
    void formatPatternHugeAndTiny();
    void formatPatternRejectsNonFinite_data();
    void formatPatternRejectsNonFinite();
    void shortestText_data();
    void shortestText();
    void parseStrict_data();
    void parseStrict();
    void parseLenient_data();
    void parseLenient();
    void parseLenientRejectsTooLarge_data();
    void parseLenientRejectsTooLarge();
    void parsePort_data();
    void parsePort();
};

void TestNumberText::formatPattern_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");

    const QString sun = QString::fromLatin1(base::kSunElevationPattern);
    const QString el = QString::fromLatin1(base::kElevationPattern);
    const QString az = QString::fromLatin1(base::kAzimuthPattern);

    QTest::newRow("sun 35.678") << 35.678 << sun << " 35.68";
    QTest::newRow("sun zero") << 0.0 << sun << " .00";
    QTest::newRow("sun negative") << -5.25 << sun << "- 5.25";
    QTest::newRow("el 0.25") << 0.25 << el << ".25";
    QTest::newRow("el zero") << 0.0 << el << ".00";
    QTest::newRow("el 0.5") << 0.5 << el << ".50";
    QTest::newRow("el long integer") << 123.456 << el << "123.46";
    QTest::newRow("el 45.678") << 45.678 << el << "45.68";
    QTest::newRow("el whole") << 12.0 << el << "12.00";
    QTest::newRow("el negative") << -5.25 << el << "-5.25";
    QTest::newRow("el negative below one") << -0.25 << el << "-.25";
    QTest::newRow("az 5.5") << 5.5 << az << "005.50";
    QTest::newRow("az 95") << 95.0 << az << "095.00";
    QTest::newRow("az 360") << 360.0 << az << "360.00";
    QTest::newRow("az 1234.5") << 1234.5 << az << "1234.50";
    QTest::newRow("az 180.004") << 180.004 << az << "180.00";
    QTest::newRow("az negative") << -5.5 << az << "-005.50";
    QTest::newRow("az zero") << 0.0 << az << "000.00";
    // Halves are judged on the shortest decimal text, not on the binary value below it.
    QTest::newRow("half 2.675") << 2.675 << el << "2.68";
    QTest::newRow("half 6.505") << 6.505 << el << "6.51";
    QTest::newRow("half 1.005") << 1.005 << el << "1.01";
    QTest::newRow("half 0.125") << 0.125 << el << ".13";
    QTest::newRow("half negative") << -2.675 << el << "-2.68";
    QTest::newRow("just below half") << 2.67499 << el << "2.67";
    QTest::newRow("carry into integer") << 9.995 << el << "10.00";
    QTest::newRow("carry to new digit") << 999.999 << az << "1000.00";
    QTest::newRow("carry from below one") << 0.995 << el << "1.00";
    QTest::newRow("negative rounds to zero") << -0.004 << el << ".00";
    QTest::newRow("negative rounds to zero az") << -0.001 << az << "000.00";
    QTest::newRow("negative zero") << -0.0 << sun << " .00";
    QTest::newRow("negative half rounds away") << -0.005 << el << "-.01";
    QTest::newRow("tiny") << 1e-300 << el << ".00";
    QTest::newRow("tiny negative") << -1e-300 << az << "000.00";
    QTest::newRow("exponent shortest") << 1.5e-5 << el << ".00";
    QTest::newRow("exponent rounds up") << 5e-3 << el << ".01";
}

void TestNumberText::formatPattern() {
    QFETCH(double, value);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(base::FormatPattern(value, pattern.toStdString())), expected);
}

void TestNumberText::formatPatternHugeAndTiny() {
    // The shortest text of 1e300 is written with an exponent; it must be laid out in full.
    const std::string huge = base::FormatPattern(1e300, base::kElevationPattern);
    QCOMPARE(huge, "1" + std::string(300, '0') + ".00");
    QCOMPARE(base::FormatPattern(-1e300, base::kAzimuthPattern),
             "-1" + std::string(300, '0') + ".00");
    const double max = std::numeric_limits<double>::max();
    QCOMPARE(base::FormatPattern(max, base::kElevationPattern).size(), std::size_t{309 + 3});
    QCOMPARE(
        base::FormatPattern(std::numeric_limits<double>::denorm_min(), base::kElevationPattern),
        std::string(".00"));
}

void TestNumberText::formatPatternRejectsNonFinite_data() {
    QTest::addColumn<double>("value");
    QTest::newRow("inf") << std::numeric_limits<double>::infinity();
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity();
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
}

void TestNumberText::formatPatternRejectsNonFinite() {
    QFETCH(double, value);
    QVERIFY_THROWS_EXCEPTION(HeliostatError, base::FormatPattern(value, base::kAzimuthPattern));
    QVERIFY_THROWS_EXCEPTION(HeliostatError, base::ShortestText(value));
}

void TestNumberText::shortestText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("35.64") << 35.64 << "35.64";
    QTest::newRow("139.3") << 139.3 << "139.3";
    QTest::newRow("26.217") << 26.217 << "26.217";
    QTest::newRow("whole") << 10.0 << "10";
    QTest::newRow("negative") << -0.5 << "-0.5";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("0.1") << 0.1 << "0.1";
    QTest::newRow("large no exponent") << 1e21 << "1000000000000000000000";
    QTest::newRow("shortest digits of 1e23") << 1e23 << "100000000000000000000000";
    QTest::newRow("small no exponent") << 1.5e-7 << "0.00000015";
}

void TestNumberText::shortestText() {
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(base::ShortestText(value)), expected);
}

void TestNumberText::parseStrict_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");

    QTest::newRow("plain") << "35.64" << true << 35.64;
    QTest::newRow("negative") << "-139.5" << true << -139.5;
    QTest::newRow("plus") << "+7" << true << 7.0;
    QTest::newRow("blanks around") << "  35.5 " << true << 35.5;
    QTest::newRow("tabs around") << "\t12\t" << true << 12.0;
    QTest::newRow("leading point") << ".5" << true << 0.5;
    QTest::newRow("trailing point") << "5." << true << 5.0;
    QTest::newRow("exponent") << "1e3" << true << 1000.0;
    QTest::newRow("exponent upper signed") << "2.5E-2" << true << 0.025;
    QTest::newRow("exponent plus") << "-1E+2" << true << -100.0;
    QTest::newRow("underflow") << "1e-400" << true << 0.0;
    QTest::newRow("subnormal") << "5e-324" << true << 5e-324;
    QTest::newRow("long zeros") << "0000000000000000000000001" << true << 1.0;

    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blanks only") << "   " << false << 0.0;
    QTest::newRow("word") << "abc" << false << 0.0;
    QTest::newRow("trailing letters") << "12abc" << false << 0.0;
    QTest::newRow("inner blank") << "1 2" << false << 0.0;
    QTest::newRow("comma") << "1,5" << false << 0.0;
    QTest::newRow("point alone") << "." << false << 0.0;
    QTest::newRow("sign alone") << "-" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("exponent without digits") << "1e" << false << 0.0;
    QTest::newRow("exponent sign only") << "1e+" << false << 0.0;
    QTest::newRow("exponent only") << "e5" << false << 0.0;
    QTest::newRow("D exponent") << "1D2" << false << 0.0;
    QTest::newRow("hex") << "&H1F" << false << 0.0;
    QTest::newRow("two signs") << "--1" << false << 0.0;
    QTest::newRow("line feed") << "5\n" << false << 0.0;
    QTest::newRow("full-width digits") << QString::fromUtf8("１２") << false << 0.0;
    QTest::newRow("overflow") << "1e400" << false << 0.0;
    QTest::newRow("negative overflow") << "-1e400" << false << 0.0;
    QTest::newRow("huge exponent") << "1e99999999999999999999" << false << 0.0;
}

void TestNumberText::parseStrict() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    const std::optional<double> result = base::ParseStrict(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid) {
        QCOMPARE(*result, value);
    }
}

void TestNumberText::parseLenient_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("plain") << "35.64" << 35.64;
    QTest::newRow("trailing letters") << "12abc" << 12.0;
    QTest::newRow("inner blank") << "1 2" << 12.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("word") << "abc" << 0.0;
    QTest::newRow("hex") << "&H1F" << 31.0;
    QTest::newRow("hex lower") << "&hff" << 255.0;
    QTest::newRow("octal") << "&o17" << 15.0;
    QTest::newRow("octal upper") << "&O777" << 511.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("hex without digits") << "&H" << 0.0;
    QTest::newRow("ampersand other") << "&X12" << 0.0;
    QTest::newRow("hex wide") << "&H10000000000000" << 4503599627370496.0;
    QTest::newRow("D exponent") << "1D2" << 100.0;
    QTest::newRow("d exponent negative") << "25d-1" << 2.5;
    QTest::newRow("E exponent") << "1.5E3" << 1500.0;
    QTest::newRow("incomplete exponent") << "1e" << 1.0;
    QTest::newRow("incomplete signed exponent") << "1e+" << 1.0;
    QTest::newRow("negative point") << "-.5" << -0.5;
    QTest::newRow("plus") << "+3" << 3.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("tab and line feed") << "\t7\n" << 7.0;
    QTest::newRow("line feeds inside") << "1\n2.\n5" << 12.5;
    QTest::newRow("blank in exponent") << "1 e 2" << 100.0;
    QTest::newRow("blank after sign") << "- 5" << -5.0;
    QTest::newRow("comma stops") << "1,5" << 1.0;
    QTest::newRow("carriage return stops") << "1\r2" << 1.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("underflow") << "1e-400" << 0.0;
}

void TestNumberText::parseLenient() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(base::ParseLenient(text.toStdString()), value);
}

void TestNumberText::parseLenientRejectsTooLarge_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("exponent") << "1e400";
    QTest::newRow("negative D exponent") << "-1D309";
    QTest::newRow("many digits") << QString(400, QLatin1Char('9'));
    QTest::newRow("hex") << "&H" + QString(300, QLatin1Char('F'));
    QTest::newRow("octal") << "&O" + QString(400, QLatin1Char('7'));
}

void TestNumberText::parseLenientRejectsTooLarge() {
    QFETCH(QString, text);
    try {
        base::ParseLenient(text.toStdString());
        QFAIL("no error for a value beyond the range of a double");
    } catch (const HeliostatError& error) {
        QCOMPARE(error.failed(), std::string("ParseLenient"));
        QVERIFY(!std::string(error.what()).empty());
    }
}

void TestNumberText::parsePort_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("port");

    QTest::newRow("default") << "10006" << true << 10006;
    QTest::newRow("blanks around") << " 10006 " << true << 10006;
    QTest::newRow("half to even down") << "10006.5" << true << 10006;
    QTest::newRow("half to even up") << "10007.5" << true << 10008;
    QTest::newRow("below half") << "10006.49" << true << 10006;
    QTest::newRow("above half") << "10006.51" << true << 10007;
    QTest::newRow("negative half") << "-2.5" << true << -2;
    QTest::newRow("negative half up") << "-3.5" << true << -4;
    QTest::newRow("exponent") << "1e4" << true << 10000;
    QTest::newRow("int32 max") << "2147483647" << true << 2147483647;
    QTest::newRow("int32 min") << "-2147483648" << true << -2147483647 - 1;
    QTest::newRow("rounds down into range") << "2147483647.4" << true << 2147483647;
    QTest::newRow("beyond int32 max") << "2147483648" << false << 0;
    QTest::newRow("half beyond max") << "2147483647.5" << false << 0;
    QTest::newRow("beyond int32 min") << "-2147483649" << false << 0;
    QTest::newRow("word") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("trailing letters") << "10006x" << false << 0;
    QTest::newRow("overflow") << "1e400" << false << 0;
}

void TestNumberText::parsePort() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, port);
    const std::optional<std::int32_t> result = base::ParsePort(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid) {
        QCOMPARE(*result, port);
    }
}

QTEST_APPLESS_MAIN(TestNumberText)
#include "test_number_text.moc"
