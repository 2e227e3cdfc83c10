// The error report and the message port carry a driver's error beneath the message, to the box and to
// standard error.
#include "common/ScriptedPorts.h"
#include "ports/ErrorReport.h"
#include "ports/MsgBox.h"

#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

// Standard error of this process, caught into a file while the object lives.
class CaughtStderr {
public:
    CaughtStderr()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~CaughtStderr() { restore(); }
    CaughtStderr(const CaughtStderr&) = delete;
    CaughtStderr& operator=(const CaughtStderr&) = delete;
    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    void driverErrorsGoBeneathTheMessage();
    void handlersWithoutDetailStillServe();
};

void TestErrorReport::driverErrorsGoBeneathTheMessage()
{
    ScriptedMessageBoxes boxes;
    const ErrorReport report =
        ErrorReport::fixed(QStringLiteral("(error):"), QStringLiteral(") in procedure X"));
    const CulvaneError driver(
        5, QStringLiteral("[SQLite]database is locked (5)"),
        QStringLiteral("Data source: DSN=OrvaneDb\nDriver error 5: [SQLite]database is locked (5)"));
    CaughtStderr caught;
    QVERIFY(!report.step([&] { throw driver; }));
    QVERIFY(!report.step([] { raiseError(53, QStringLiteral("File not found")); }));
    const QByteArray err = caught.text();

    QCOMPARE(boxes.texts(),
             (QStringList{QStringLiteral("(error):5 ([SQLite]database is locked (5)) in procedure X"),
                          QStringLiteral("(error):53 (File not found) in procedure X")}));
    QCOMPARE(boxes.details(), (QStringList{driver.detail(), QString()}));
    QCOMPARE(err, QByteArray(
                      "(error):5 ([SQLite]database is locked (5)) in procedure X\n"
                      "    Data source: DSN=OrvaneDb\n    Driver error 5: [SQLite]database is locked (5)\n"));
}

void TestErrorReport::handlersWithoutDetailStillServe()
{
    QStringList seen;
    MsgBox::Handler previous = MsgBox::setHandler([&](const QString& text, MsgBox::Buttons) {
        seen.append(text);
        return MsgBox::vbNo;
    });
    CaughtStderr caught;
    QCOMPARE(MsgBox::show(QStringLiteral("Sure?"), MsgBox::vbYesNo, QStringLiteral("why")), MsgBox::vbNo);
    QCOMPARE(MsgBox::show(QStringLiteral("Plain")), MsgBox::vbNo);
    QCOMPARE(seen, (QStringList{QStringLiteral("Sure?"), QStringLiteral("Plain")}));
    QCOMPARE(caught.text(), QByteArray("Sure?\n    why\n")); // a box without detail leaves stderr alone
    MsgBox::setHandler(std::move(previous));
}

QTEST_GUILESS_MAIN(TestErrorReport)

#include "test_errorreport.moc"
