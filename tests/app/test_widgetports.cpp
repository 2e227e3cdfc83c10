#include "app/WidgetPorts.h"
#include "ports/MsgBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

// The real message box behind the port: its title, buttons and details, and which answer each way of
// closing it gives.
class TestWidgetPorts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void boxesCarryTheirButtonsAndDetails();
    void eachWayOfClosingGivesItsAnswer();
};

namespace {
// Runs `act` on the modal box once it shows, from inside its own event loop.
void whenBoxShows(std::function<void(QMessageBox&)> act)
{
    QTimer::singleShot(0, [act = std::move(act)] {
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr);
        act(*box);
    });
}
} // namespace

void TestWidgetPorts::initTestCase()
{
    QApplication::setApplicationDisplayName(QStringLiteral("Culvane"));
    installWidgetPorts();
}

void TestWidgetPorts::boxesCarryTheirButtonsAndDetails()
{
    const auto plain = makeMessageBox(QString(), QStringLiteral("Text"), MsgBox::vbOKOnly, QString());
    QCOMPARE(plain->windowTitle(), QStringLiteral("Culvane"));
    QCOMPARE(plain->text(), QStringLiteral("Text"));
    QCOMPARE(plain->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(plain->detailedText().isEmpty());

    const auto question = makeMessageBox(QStringLiteral("Own title"), QStringLiteral("Sure?"),
                                         MsgBox::vbYesNo, QStringLiteral("Driver error 5: locked"));
    QCOMPARE(question->windowTitle(), QStringLiteral("Own title"));
    QCOMPARE(question->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question->defaultButton(), question->button(QMessageBox::Yes));
    QCOMPARE(question->detailedText(), QStringLiteral("Driver error 5: locked"));

    const auto choice = makeMessageBox(QString(), QStringLiteral("Go on?"), MsgBox::vbOKCancel, QString());
    QCOMPARE(choice->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(choice->defaultButton(), choice->button(QMessageBox::Ok));
}

void TestWidgetPorts::eachWayOfClosingGivesItsAnswer()
{
    const auto click = [](QMessageBox::StandardButton which) {
        whenBoxShows([which](QMessageBox& box) { box.button(which)->click(); });
    };
    const auto escape = [] { whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }); };
    const auto enter = [] { whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }); };

    click(QMessageBox::No);
    QCOMPARE(MsgBox::show(QStringLiteral("Delete?"), MsgBox::vbYesNo), MsgBox::vbNo);
    enter();
    QCOMPARE(MsgBox::show(QStringLiteral("Delete?"), MsgBox::vbYesNo), MsgBox::vbYes);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Delete?"), MsgBox::vbYesNo), MsgBox::vbNo);
    click(QMessageBox::Cancel);
    QCOMPARE(MsgBox::show(QStringLiteral("Open the log?"), MsgBox::vbOKCancel), MsgBox::vbCancel);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Open the log?"), MsgBox::vbOKCancel), MsgBox::vbCancel);
    enter();
    QCOMPARE(MsgBox::show(QStringLiteral("Open the log?"), MsgBox::vbOKCancel), MsgBox::vbOK);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Done."), MsgBox::vbOKOnly), MsgBox::vbOK);
    // A titled box goes through the same real box.
    click(QMessageBox::Yes);
    QCOMPARE(MsgBox::showTitled(QStringLiteral("Update"), QStringLiteral("Open?"), MsgBox::vbYesNo),
             MsgBox::vbYes);
}

QTEST_MAIN(TestWidgetPorts)
#include "test_widgetports.moc"
