#include <QtTest>

#include <string>

#include "base/errors.h"
#include "link/get_token.h"

using heliostat::HeliostatError;
using heliostat::link::GetToken;
using heliostat::link::TokenRemainder;

class TestGetToken : public QObject {
    Q_OBJECT

private slots:
    void splits_data();
    void splits();
    void scanBound_data();
    void scanBound();
};

namespace {

std::string Repeat(char c, int count) {
    return std::string(static_cast<std::size_t>(count), c);
}

}  // namespace

void TestGetToken::splits_data() {
    QTest::addColumn<std::string>("before");  // the remainder left by the previous row
    QTest::addColumn<std::string>("source");
    QTest::addColumn<std::string>("delimiter");
    QTest::addColumn<std::string>("field");
    QTest::addColumn<std::string>("after");

    // One sequence of calls: each row starts from the remainder the row above left.
    QTest::newRow("first of three") << std::string() << std::string("12,34,56") << std::string(",")
                                    << std::string("12") << std::string("34,56");
    QTest::newRow("second") << std::string("34,56") << std::string() << std::string(",")
                            << std::string("34") << std::string("56");
    QTest::newRow("third") << std::string("56") << std::string() << std::string(",")
                           << std::string("56") << std::string();
    QTest::newRow("past the end") << std::string() << std::string() << std::string(",")
                                  << std::string() << std::string();
    QTest::newRow("empty middle field") << std::string() << std::string("a,,b") << std::string(",")
                                        << std::string("a") << std::string(",b");
    QTest::newRow("the empty field") << std::string(",b") << std::string() << std::string(",")
                                     << std::string() << std::string("b");
    QTest::newRow("last field") << std::string("b") << std::string() << std::string(",")
                                << std::string("b") << std::string();
    QTest::newRow("leading delimiter") << std::string() << std::string(",x") << std::string(",")
                                       << std::string() << std::string("x");
    QTest::newRow("trailing delimiter") << std::string("x") << std::string("x,") << std::string(",")
                                        << std::string("x") << std::string();
    QTest::newRow("no delimiter") << std::string() << std::string("7.5") << std::string(",")
                                  << std::string("7.5") << std::string();

    // Further properties of single calls.
    QTest::newRow("new text drops stale remainder")
        << std::string("6,7,8") << std::string("1,2") << std::string(",") << std::string("1")
        << std::string("2");
    QTest::newRow("empty source continues")
        << std::string("6,7,8") << std::string() << std::string(",") << std::string("6")
        << std::string("7,8");
    QTest::newRow("blanks and line breaks kept")
        << std::string() << std::string(" 1 \r\n, 2") << std::string(",") << std::string(" 1 \r\n")
        << std::string(" 2");
    QTest::newRow("case-sensitive delimiter")
        << std::string() << std::string("aXbxc") << std::string("x") << std::string("aXb")
        << std::string("c");
    QTest::newRow("bytes as characters")
        << std::string() << std::string("\xE3\x81\x82,\xFF") << std::string(",")
        << std::string("\xE3\x81\x82") << std::string("\xFF");
    QTest::newRow("empty delimiter takes all")
        << std::string() << std::string("1,2") << std::string() << std::string("1,2")
        << std::string();
    QTest::newRow("long delimiter takes all")
        << std::string() << std::string("1,,2") << std::string(",,") << std::string("1,,2")
        << std::string();
}

void TestGetToken::splits() {
    QFETCH(std::string, before);
    QFETCH(std::string, source);
    QFETCH(std::string, delimiter);
    QFETCH(std::string, field);
    QFETCH(std::string, after);
    TokenRemainder() = before;
    QCOMPARE(GetToken(source, delimiter), field);
    QCOMPARE(TokenRemainder(), after);
}

void TestGetToken::scanBound_data() {
    QTest::addColumn<std::string>("before");
    QTest::addColumn<std::string>("source");
    QTest::addColumn<std::string>("delimiter");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("fieldLength");
    QTest::addColumn<int>("afterLength");

    const std::string kept = "kept,me";
    QTest::newRow("40000 characters, first comma at 10")
        << kept << Repeat('a', 9) + "," + Repeat('b', 39990) << std::string(",") << true << 9
        << 39990;
    QTest::newRow("32765 without comma")
        << kept << Repeat('a', 32765) << std::string(",") << true << 32765 << 0;
    QTest::newRow("32766 without comma")
        << kept << Repeat('a', 32766) << std::string(",") << false << 0 << 0;
    QTest::newRow("comma at 32766") << kept << Repeat('a', 32765) + "," + Repeat('b', 7234)
                                    << std::string(",") << true << 32765 << 7234;
    QTest::newRow("comma at 32767") << kept << Repeat('a', 32766) + "," + Repeat('b', 7233)
                                    << std::string(",") << false << 0 << 0;
    QTest::newRow("continuation of 32766")
        << Repeat('r', 32766) << std::string() << std::string(",") << false << 0 << 0;
    QTest::newRow("continuation of 32765")
        << Repeat('r', 32765) << std::string() << std::string(",") << true << 32765 << 0;
    QTest::newRow("empty delimiter 32766")
        << kept << Repeat('a', 32766) << std::string() << false << 0 << 0;
}

void TestGetToken::scanBound() {
    QFETCH(std::string, before);
    QFETCH(std::string, source);
    QFETCH(std::string, delimiter);
    QFETCH(bool, succeeds);
    QFETCH(int, fieldLength);
    QFETCH(int, afterLength);
    TokenRemainder() = before;
    if (succeeds) {
        const std::string field = GetToken(source, delimiter);
        QCOMPARE(field.size(), static_cast<std::size_t>(fieldLength));
        QCOMPARE(TokenRemainder().size(), static_cast<std::size_t>(afterLength));
        const std::string_view work = source.empty() ? std::string_view(before) : source;
        QCOMPARE(std::string_view(field), work.substr(0, field.size()));
        QCOMPARE(std::string_view(TokenRemainder()), work.substr(work.size() - afterLength));
        return;
    }
    try {
        GetToken(source, delimiter);
        QFAIL("the scan passed position 32766 without an overflow");
    } catch (const HeliostatError& error) {
        QCOMPARE(error.failed(), std::string("GetToken"));
        QVERIFY(!std::string(error.what()).empty());
    }
    QCOMPARE(TokenRemainder(), before);
}

QTEST_APPLESS_MAIN(TestGetToken)
#include "test_get_token.moc"
