#include <QtTest>
class TestNumberText : public QObject {
    Q_OBJECT
};
QTEST_APPLESS_MAIN(TestNumberText)
#include "test_number_text.moc"
