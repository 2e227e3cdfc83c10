#include "common/ScriptedPorts.h"
#include "ports/CulvaneError.h"
#include "selection/RangeEntryBox.h"

#include <QLineEdit>
#include <QtTest>

namespace {
const QString kOnlyNumbers = QStringLiteral("Only numbers are allowed for extension range values");
}

class TestRangeEntry : public QObject {
    Q_OBJECT

private slots:
    void myIsNumberSteps();
    void numberReading();
    void tooLargeNumberIsReported();
    void extensionBoxes();
};

void TestRangeEntry::myIsNumberSteps()
{
    ScriptedMessageBoxes boxes;
    using Module1::MyIsNumber;
    QVERIFY(MyIsNumber(QStringLiteral("15"), 10, 20));
    QVERIFY(!MyIsNumber(QStringLiteral("25"), 10, 20));
    QVERIFY(MyIsNumber(QStringLiteral("10"), 10, 20));
    QVERIFY(MyIsNumber(QStringLiteral("20"), 10, 20));
    QVERIFY(!MyIsNumber(QStringLiteral("9"), 10, 20));
    for (const char* whole : {"0", "7", "0042", "123456", "99999999999999999999", " 7 ", "+5", "1e3", "1E3"})
        QVERIFY2(MyIsNumber(QLatin1String(whole), 0, 0), whole);
    QVERIFY(MyIsNumber(QString(), 0, 0));
    QVERIFY(MyIsNumber(QString(), 10, 20)); // empty wins over the range
    for (const char* refused : {"5.0", "12.5", "-1", "1,000", "abc", "&H10", "12a", "1 2", "-", ".", "$5",
                                "1e", "1e-3", "1e3.5", "5.", ".5", "\t7", "+", "e3"})
        QVERIFY2(!MyIsNumber(QLatin1String(refused), 0, 0), refused);
    QVERIFY(!MyIsNumber(QStringLiteral("1e3"), 10, 20));
    QVERIFY(MyIsNumber(QStringLiteral("1e1"), 10, 20));
    // Digits outside ASCII are not numbers here.
    QVERIFY(!MyIsNumber(QString::fromUtf8("\xd9\xa3"), 0, 0));
    QVERIFY(boxes.texts().isEmpty());
}

void TestRangeEntry::numberReading()
{
    using RangeEntry::readNumber;
    QCOMPARE(readNumber(QStringLiteral("  0042 ")).value(), 42.0);
    QCOMPARE(readNumber(QStringLiteral("+5")).value(), 5.0);
    QCOMPARE(readNumber(QStringLiteral("-12.5")).value(), -12.5);
    QCOMPARE(readNumber(QStringLiteral("1e3")).value(), 1000.0);
    QCOMPARE(readNumber(QStringLiteral("2.5E-1")).value(), 0.25);
    QCOMPARE(readNumber(QStringLiteral(".5")).value(), 0.5);
    QCOMPARE(readNumber(QStringLiteral("5.")).value(), 5.0);
    QVERIFY(!readNumber(QString()).has_value());
    QVERIFY(!readNumber(QStringLiteral("   ")).has_value());
    QVERIFY(!readNumber(QStringLiteral("1,000")).has_value());
    QVERIFY(!readNumber(QStringLiteral("--1")).has_value());
    QVERIFY(!readNumber(QStringLiteral("1e+")).has_value());
    QVERIFY(!readNumber(QStringLiteral("0x10")).has_value());
    QVERIFY(!readNumber(QStringLiteral("inf")).has_value());
    QVERIFY(!readNumber(QStringLiteral("nan")).has_value());
    // Far too small to represent is still a (fractional) number.
    QVERIFY(readNumber(QStringLiteral("1e-400")).value() > 0.0);
    QCOMPARE(readNumber(QStringLiteral("0e-400")).value(), 0.0);
    QVERIFY(RangeEntry::isNumeric(QStringLiteral(" 12 ")));
    QVERIFY(!RangeEntry::isNumeric(QStringLiteral("1e400")));
    QVERIFY(!RangeEntry::isNumeric(QStringLiteral("1 2")));
}

void TestRangeEntry::tooLargeNumberIsReported()
{
    try {
        RangeEntry::readNumber(QStringLiteral("1e400"));
        QFAIL("no overflow raised");
    } catch (const CulvaneError& error) {
        QCOMPARE(error.number(), ErrorNumbers::Overflow);
    }
    ScriptedMessageBoxes boxes;
    QVERIFY(!Module1::MyIsNumber(QStringLiteral("9e999"), 0, 0));
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Error in MyIsNumber function:Overflow")});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
}

void TestRangeEntry::extensionBoxes()
{
    QVERIFY(!RangeEntry::checkExtensionBox(QString()));
    QVERIFY(!RangeEntry::checkExtensionBox(QStringLiteral("0042")));
    QVERIFY(RangeEntry::checkExtensionBox(QStringLiteral("5.0")));
    QVERIFY(RangeEntry::checkExtensionBox(QStringLiteral("-")));

    ScriptedMessageBoxes boxes;
    // The upper box checks on every change, the way the page wires it.
    QLineEdit high;
    high.setMaxLength(RangeEntry::ExtensionBoxMaxLength);
    int checks = 0;
    QObject::connect(&high, &QLineEdit::textChanged, [&] {
        ++checks;
        RangeEntry::validateExtensionBox(high);
    });
    high.show();
    QVERIFY(QTest::qWaitForWindowExposed(&high));
    QTest::keyClicks(&high, QStringLiteral("123"));
    QVERIFY(boxes.texts().isEmpty());
    QCOMPARE(high.text(), QStringLiteral("123"));
    QTest::keyClicks(&high, QStringLiteral("x"));
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    QVERIFY(high.text().isEmpty());
    QCOMPARE(checks, 5); // four keys, and the emptying's own change that finds nothing to do

    boxes.clear();
    QTest::keyClicks(&high, QStringLiteral("-"));
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    QVERIFY(high.text().isEmpty());
    boxes.clear();
    QTest::keyClicks(&high, QStringLiteral("."));
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    QVERIFY(high.text().isEmpty());

    // The lower box is checked only when asked (the page does it when the focus leaves).
    boxes.clear();
    QLineEdit low;
    low.setText(QStringLiteral("12.5"));
    QVERIFY(RangeEntry::validateExtensionBox(low));
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    QVERIFY(low.text().isEmpty());
    boxes.clear();
    low.setText(QStringLiteral("0042"));
    QVERIFY(!RangeEntry::validateExtensionBox(low));
    QCOMPARE(low.text(), QStringLiteral("0042"));
    low.setText(QString());
    QVERIFY(!RangeEntry::validateExtensionBox(low));
    QVERIFY(boxes.texts().isEmpty());
}

QTEST_MAIN(TestRangeEntry)
#include "test_rangeentry.moc"
