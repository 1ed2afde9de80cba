#include <QtTest>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "base/errors.h"
#include "base/number_text.h"
#include "link/get_token.h"
#include "link/wire.h"

using heliostat::HeliostatError;
using namespace heliostat::link;
namespace base = heliostat::base;

class TestWire : public QObject {
    Q_OBJECT

private slots:
    void payloads_data();
    void payloads();
    void replyPayloadRejectsNonFinite();
    void splitReply_data();
    void splitReply();
    void parseCommand_data();
    void parseCommand();
    void parseCommandSurvivesGarbage();
    void validReplyField_data();
    void validReplyField();
};

void TestWire::validReplyField_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("controller's azimuth") << std::string("180.02") << true;
    QTest::newRow("leading point, sign") << std::string("-.25") << true;
    QTest::newRow("blanks and line break around") << std::string(" 45.66\r\n") << true;
    QTest::newRow("exponent") << std::string("1.5e+01") << true;
    QTest::newRow("empty clears the box") << std::string() << true;
    QTest::newRow("only blanks") << std::string(" \n") << true;
    QTest::newRow("32 characters") << std::string(32, '1') << true;
    QTest::newRow("33 characters") << std::string(33, '1') << false;
    QTest::newRow("nan") << std::string("nan") << false;
    QTest::newRow("minus Infinity") << std::string("-Infinity") << false;
    QTest::newRow("inf") << std::string("inf") << false;
    QTest::newRow("overflowing exponent") << std::string("1e400") << false;
    QTest::newRow("large finite exponent") << std::string("-1e100") << true;
    QTest::newRow("underflowing exponent") << std::string("1e-400") << true;
    QTest::newRow("letters after") << std::string("12abc") << false;
    QTest::newRow("blank inside") << std::string("1 2") << false;
    QTest::newRow("control character") << std::string("12\x01") << false;
    QTest::newRow("lone point") << std::string(".") << false;
    QTest::newRow("two points") << std::string("1.2.3") << false;
    QTest::newRow("hex") << std::string("0x10") << false;
    QTest::newRow("quote") << std::string("1\"2") << false;
}

void TestWire::validReplyField() {
    QFETCH(std::string, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidReplyField(text), valid);
}

void TestWire::payloads_data() {
    QTest::addColumn<double>("azimuth");
    QTest::addColumn<double>("elevation");
    QTest::addColumn<std::string>("payload");
    QTest::newRow("rounded") << 180.004 << 45.678 << std::string("0,180.00,45.68");
    QTest::newRow("below one") << 95.0 << 0.5 << std::string("0,095.00,.50");
    QTest::newRow("padded") << 7.25 << 12.0 << std::string("0,007.25,12.00");
    QTest::newRow("negative elevation") << 359.999 << -0.25 << std::string("0,360.00,-.25");
}

void TestWire::payloads() {
    QFETCH(double, azimuth);
    QFETCH(double, elevation);
    QFETCH(std::string, payload);
    // The window builds the command from the texts it shows; the controller replies alike.
    const std::string command =
        CommandPayload(base::FormatPattern(azimuth, base::kAzimuthPattern),
                       base::FormatPattern(elevation, base::kElevationPattern));
    QCOMPARE(command, payload);
    QCOMPARE(ReplyPayload(azimuth, elevation), payload);
}

void TestWire::replyPayloadRejectsNonFinite() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QVERIFY_THROWS_EXCEPTION(HeliostatError, ReplyPayload(nan, 10));
    QVERIFY_THROWS_EXCEPTION(HeliostatError,
                             ReplyPayload(10, std::numeric_limits<double>::infinity()));
}

void TestWire::splitReply_data() {
    QTest::addColumn<std::string>("before");  // the splitter's remainder before the reply
    QTest::addColumn<std::string>("payload");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<std::string>("azimuth");
    QTest::addColumn<std::string>("elevation");
    QTest::addColumn<std::string>("after");

    const std::string none;
    QTest::newRow("three fields") << none << std::string("0,180.02,45.66") << true
                                  << std::string("180.02") << std::string("45.66") << none;
    QTest::newRow("two fields") << none << std::string("0,5") << true << std::string("5") << none
                                << none;
    QTest::newRow("no comma") << none << std::string("abc") << true << none << none << none;
    QTest::newRow("blanks and line break kept")
        << none << std::string("0, 180.02 ,45.66\r\n") << true << std::string(" 180.02 ")
        << std::string("45.66\r\n") << none;
    QTest::newRow("more than five fields")
        << none << std::string("1,2,3,4,5,6,7,8") << true << std::string("2") << std::string("3")
        << std::string("6,7,8");
    QTest::newRow("exactly five fields")
        << none << std::string("1,2,3,4,5") << true << std::string("2") << std::string("3") << none;
    QTest::newRow("empty payload after long reply")
        << std::string("6,7,8") << none << false << none << none << std::string("6,7,8");
    QTest::newRow("empty payload after short reply")
        << none << none << false << none << none << none;
    QTest::newRow("new reply drops stale remainder")
        << std::string("6,7,8") << std::string("0,1,2") << true << std::string("1")
        << std::string("2") << none;
    QTest::newRow("overflow in first field") << std::string("6,7,8") << std::string(32766, '9')
                                             << false << none << none << std::string("6,7,8");
    // The first call succeeds and the second overflows: nothing is shown, and the remainder
    // stays as the last successful call left it.
    QTest::newRow("overflow in second field")
        << std::string("6,7,8") << "0," + std::string(40000, '9') << false << none << none
        << std::string(40000, '9');
}

void TestWire::splitReply() {
    QFETCH(std::string, before);
    QFETCH(std::string, payload);
    QFETCH(bool, shown);
    QFETCH(std::string, azimuth);
    QFETCH(std::string, elevation);
    QFETCH(std::string, after);
    TokenRemainder() = before;
    const std::optional<ReplyFields> fields = SplitReply(payload);
    QCOMPARE(fields.has_value(), shown);
    if (shown) {
        QCOMPARE(fields->azimuth, azimuth);
        QCOMPARE(fields->elevation, elevation);
    }
    QCOMPARE(TokenRemainder(), after);
}

void TestWire::parseCommand_data() {
    QTest::addColumn<std::string>("payload");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("azimuth");
    QTest::addColumn<double>("elevation");

    QTest::newRow("window command") << std::string("0,180.00,45.68") << true << 180.0 << 45.68;
    QTest::newRow("below one") << std::string("0,095.00,.50") << true << 95.0 << 0.5;
    QTest::newRow("negative and exponent") << std::string("0,-5,1e1") << true << -5.0 << 10.0;
    QTest::newRow("blanks around numbers") << std::string("0, 7.25 ,\t12") << true << 7.25 << 12.0;

    QTest::newRow("empty") << std::string() << false << 0.0 << 0.0;
    QTest::newRow("first field not 0") << std::string("1,2,3") << false << 0.0 << 0.0;
    QTest::newRow("first field 00") << std::string("00,2,3") << false << 0.0 << 0.0;
    QTest::newRow("blank before 0") << std::string(" 0,2,3") << false << 0.0 << 0.0;
    QTest::newRow("two fields") << std::string("0,1") << false << 0.0 << 0.0;
    QTest::newRow("four fields") << std::string("0,1,2,3") << false << 0.0 << 0.0;
    QTest::newRow("trailing comma") << std::string("0,1,2,") << false << 0.0 << 0.0;
    QTest::newRow("empty azimuth") << std::string("0,,2") << false << 0.0 << 0.0;
    QTest::newRow("empty elevation") << std::string("0,1,") << false << 0.0 << 0.0;
    QTest::newRow("word") << std::string("0,abc,2") << false << 0.0 << 0.0;
    QTest::newRow("trailing letters") << std::string("0,1,2x") << false << 0.0 << 0.0;
    QTest::newRow("line feed") << std::string("0,1,2\n") << false << 0.0 << 0.0;
    QTest::newRow("overflow") << std::string("0,1e400,2") << false << 0.0 << 0.0;
    QTest::newRow("lenient forms refused") << std::string("0,&H1F,1D2") << false << 0.0 << 0.0;
}

void TestWire::parseCommand() {
    QFETCH(std::string, payload);
    QFETCH(bool, valid);
    QFETCH(double, azimuth);
    QFETCH(double, elevation);
    TokenRemainder() = "kept";
    const std::optional<heliostat::base::AzEl> command = ParseCommand(payload);
    QCOMPARE(command.has_value(), valid);
    if (valid) {
        QCOMPARE(command->azimuth, azimuth);
        QCOMPARE(command->elevation, elevation);
    }
    QCOMPARE(TokenRemainder(), std::string("kept"));
}

void TestWire::parseCommandSurvivesGarbage() {
    // Fixed pseudo-random bytes, commas included, far beyond the splitter's scan bound.
    std::string garbage(60000, '\0');
    std::uint32_t state = 12345;
    for (char& c : garbage) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    TokenRemainder() = "kept";
    QVERIFY(!ParseCommand(garbage).has_value());
    QVERIFY(!ParseCommand("0,1," + std::string(59996, '9')).has_value());  // too large
    const auto tiny = ParseCommand("0,1,0." + std::string(59990, '0') + "1");
    QVERIFY(tiny.has_value());
    QCOMPARE(tiny->elevation, 0.0);
    const auto wide = ParseCommand("0," + std::string(59990, '0') + "7,2");
    QVERIFY(wide.has_value());
    QCOMPARE(wide->azimuth, 7.0);
    QCOMPARE(TokenRemainder(), std::string("kept"));
}

QTEST_APPLESS_MAIN(TestWire)
#include "test_wire.moc"
