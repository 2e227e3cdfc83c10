#include "DeletionTestSupport.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/Logging.h"
#include "deletion/SyncTicketWait.h"
#include "localize/modLocalize.h"
#include "server/modOrvaneDB.h"

#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QtTest>

#include <algorithm>

namespace {
const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");
const QString kTicket = QStringLiteral("{6F1C0D2E-9A41-4B7E-8C55-0123456789AB}");
const QString kTimeOut =
    QStringLiteral("Syncronization process failed to complete in a timely fashion.  Check the "
                   "ZAVEvedUda logs in the \\Orvane\\Logs directory");
const QString kClosing380 = QStringLiteral(") in procedure WaitForSyncToFinished of Module modPMSFunctions");
} // namespace

class TestSyncWait : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void ticketsAreBracedUpperCaseVersion4Guids();
    void resultAtTheFirstAndAtTheThirdPoll();
    void aResultThatNeverComesTimesOut();
    void twoRowsForOneTicketTheFirstDecides();
    void anUnreadableDatabaseEndsTheWaitAfterOneReport();
    void aFastScheduleAndAnAbandonedWait();
    void aFastWaitReadsAResultWithinAQuarterOfItsTime();
    void aGroupPollsItsTicketsTogetherAndTheServiceTakesTwoAtATime();

private:
    bool addTicket(const QString& ticket, const QVariant& result, const QVariant& pending = QVariant());
    int ticketRemovals(const QString& ticket);
    QString logText();

    std::unique_ptr<StandinFixture> m_standin;
    std::unique_ptr<QTemporaryDir> m_program;
};

void TestSyncWait::init()
{
    m_standin = std::make_unique<StandinFixture>(0);
    QVERIFY(m_standin->isValid());
    modOrvaneDB::DbConnectionString() = kConnection;
    m_program = std::make_unique<QTemporaryDir>();
    modLocalize::setProgramLocation(m_program->path(), QStringLiteral("Culvane"));
    modLocalize::resetLocalisation();
    ScriptedMessageBoxes quiet;
    Logging::OpenRunLog(m_program->filePath(QStringLiteral("wait.TXT")), false);
    QVERIFY(Logging::RunLogIsOpen());
}

void TestSyncWait::cleanup()
{
    Logging::CloseRunLog();
    modLocalize::setProgramLocation(QString(), QString());
    m_program.reset();
    m_standin.reset();
}

bool TestSyncWait::addTicket(const QString& ticket, const QVariant& result, const QVariant& pending)
{
    return m_standin->exec(
        QStringLiteral("INSERT INTO directorysyncticket (Ticket, result, PendingResult) VALUES (?, ?, ?)"),
        {ticket, result.isValid() ? result : QVariant(QMetaType(QMetaType::Int)),
         pending.isValid() ? pending : QVariant(QMetaType(QMetaType::Int))});
}

int TestSyncWait::ticketRemovals(const QString& ticket)
{
    return m_standin
        ->scalar(QStringLiteral("SELECT count(*) FROM standin_ticket_deletions WHERE Ticket = ?"), {ticket})
        .toInt();
}

QString TestSyncWait::logText()
{
    return readFile(Logging::RunLogPath());
}

void TestSyncWait::ticketsAreBracedUpperCaseVersion4Guids()
{
    const QRegularExpression form(
        QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}$"));
    QSet<QString> seen;
    for (int i = 0; i < 500; ++i) {
        const QString ticket = Module1::NewTicketGuid();
        QCOMPARE(ticket.size(), 38);
        QVERIFY2(form.match(ticket).hasMatch(), qPrintable(ticket));
        seen.insert(ticket);
    }
    QCOMPARE(seen.size(), 500);
}

void TestSyncWait::resultAtTheFirstAndAtTheThirdPoll()
{
    ScriptedMessageBoxes boxes;
    {
        QVERIFY(addTicket(kTicket, 0));
        CountingSleeper sleeper;
        QVERIFY(Module1::WaitForSyncToFinished(kTicket));
        QCOMPARE(sleeper.pauses(), QList<int>{2000});
        QCOMPARE(ticketRemovals(kTicket), 1);
        QCOMPARE(m_standin->scalar(QStringLiteral("SELECT count(*) FROM directorysyncticket")).toInt(), 0);
    }

    // Pending until the pause before the third poll, then a failure (5).
    const QString later = QStringLiteral("{0A0B0C0D-1111-4222-8333-444455556666}");
    QVERIFY(addTicket(later, QVariant(), 5));
    int pauses = 0;
    const Clock::Sleeper previous = Clock::setSleeper([&](int milliseconds) {
        QCOMPARE(milliseconds, 2000);
        if (++pauses == 3)
            m_standin->exec(
                QStringLiteral("UPDATE directorysyncticket SET result = PendingResult WHERE Ticket = ?"),
                {later});
    });
    const bool outcome = Module1::WaitForSyncToFinished(later);
    Clock::setSleeper(previous);
    QVERIFY(!outcome);
    QCOMPARE(pauses, 3);
    QCOMPARE(ticketRemovals(later), 1);
    QCOMPARE(boxes.texts(), QStringList{});
    QVERIFY(!logText().contains(QStringLiteral("Syncronization")));
}

void TestSyncWait::aResultThatNeverComesTimesOut()
{
    ScriptedMessageBoxes boxes;
    QVERIFY(addTicket(kTicket, QVariant()));
    const QString missing = QStringLiteral("{99999999-9999-4999-8999-999999999999}");
    for (const QString& ticket : {kTicket, missing}) {
        CountingSleeper sleeper;
        QVERIFY(!Module1::WaitForSyncToFinished(ticket));
        QCOMPARE(sleeper.pauses(), QList<int>(20, 2000));
        QCOMPARE(ticketRemovals(ticket), 0);
    }
    // The ticket stays for the server to report on later.
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT count(*) FROM directorysyncticket")).toInt(), 1);
    QCOMPARE(logText().count(kTimeOut + QStringLiteral("\r\n")), 2);
    QCOMPARE(Logging::RunLogErrorCount(), 0);
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestSyncWait::twoRowsForOneTicketTheFirstDecides()
{
    ScriptedMessageBoxes boxes;
    // The first row spells the ticket in lower case; the server removes by that row's value.
    const QString lower = kTicket.toLower();
    QVERIFY(addTicket(lower, 0));
    QVERIFY(addTicket(kTicket, 7));
    CountingSleeper sleeper;
    QVERIFY(Module1::WaitForSyncToFinished(kTicket));
    QCOMPARE(sleeper.pauses().size(), 1);
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT count(*) FROM standin_ticket_deletions")).toInt(), 1);
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT Ticket FROM standin_ticket_deletions")).toString(),
             lower);
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestSyncWait::anUnreadableDatabaseEndsTheWaitAfterOneReport()
{
    ScriptedMessageBoxes boxes;
    QVERIFY(addTicket(kTicket, QVariant()));
    std::unique_ptr<UnreadableDatabase> broken;
    int pauses = 0;
    const Clock::Sleeper previous = Clock::setSleeper([&](int) {
        if (++pauses == 2)
            broken = std::make_unique<UnreadableDatabase>(m_standin->databasePath());
    });
    const bool outcome = Module1::WaitForSyncToFinished(kTicket);
    Clock::setSleeper(previous);
    QVERIFY(!outcome);
    QCOMPARE(pauses, 2);
    QCOMPARE(boxes.texts().size(), 1);
    const QString report = boxes.texts().constFirst();
    QVERIFY2(report.startsWith(QStringLiteral("(error):")) && report.endsWith(kClosing380),
             qPrintable(report));
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
    // The driver's own words reach the log, on a line that is no error of its own.
    const QString log = logText();
    const int open = report.indexOf(QStringLiteral(" (")) + 2;
    const QString reason = report.mid(open, report.size() - open - kClosing380.size());
    QVERIFY(!reason.isEmpty());
    QVERIFY2(log.contains(reason + QStringLiteral("\r\n")), qPrintable(log));
    QVERIFY(!log.contains(kTimeOut));
    QCOMPARE(Logging::RunLogErrorCount(), 0);

    // The database back, the next wait reads it again.
    broken->restore();
    QVERIFY(m_standin->exec(QStringLiteral("UPDATE directorysyncticket SET result = 0")));
    boxes.clear();
    CountingSleeper sleeper;
    QVERIFY(Module1::WaitForSyncToFinished(kTicket));
    QCOMPARE(sleeper.pauses().size(), 1);
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestSyncWait::aFastScheduleAndAnAbandonedWait()
{
    ScriptedMessageBoxes boxes;
    // Five pauses of 50 ms, then a quarter of the time waited (rounded down) up to 2 s, the last pause cut
    // so that the pauses end at 40 s as before: 37 polls.
    const QList<int> fast = Module1::SyncPollSchedule::fast().pauses();
    QCOMPARE(fast.mid(0, 12), (QList<int>{50, 50, 50, 50, 50, 62, 78, 97, 121, 152, 190, 237}));
    QCOMPARE(fast.size(), 37);
    QCOMPARE(fast.constLast(), 1169);
    int waited = 0;
    for (int poll = 0; poll < fast.size() - 1; ++poll) {
        QCOMPARE(fast.at(poll), std::clamp(waited / 4, 50, 2000));
        waited += fast.at(poll);
    }
    QCOMPARE(waited + fast.constLast(), 40000);
    QCOMPARE(Module1::SyncPollSchedule().pauses(), QList<int>(20, 2000));

    // The result comes with the pause before the fourth poll: the fast schedule reads it after 150 ms.
    QVERIFY(addTicket(kTicket, QVariant(), 0));
    QList<int> pauses;
    Clock::Sleeper previous = Clock::setSleeper([&](int milliseconds) {
        pauses.append(milliseconds);
        if (pauses.size() == 4)
            m_standin->exec(
                QStringLiteral("UPDATE directorysyncticket SET result = PendingResult WHERE Ticket = ?"),
                {kTicket});
    });
    Module1::SyncWaitDetail detail;
    QVERIFY(Module1::WaitForSyncToFinished(kTicket, &detail, Module1::SyncPollSchedule::fast()));
    QCOMPARE(pauses, (QList<int>{50, 50, 50, 50}));
    QCOMPARE(detail.ending, Module1::SyncWaitDetail::ResultRead);
    QCOMPARE(ticketRemovals(kTicket), 1);

    // Abandoned during the second pause: no further poll, the ticket stays, the log says the outcome is
    // unknown and the time-out line never comes.
    const QString pending = QStringLiteral("{0A0B0C0D-1111-4222-8333-444455556666}");
    QVERIFY(addTicket(pending, QVariant()));
    pauses.clear();
    Clock::setSleeper([&](int milliseconds) { pauses.append(milliseconds); });
    Module1::SyncPollSchedule schedule;
    schedule.abandoned = [&] { return pauses.size() >= 2; };
    QVERIFY(!Module1::WaitForSyncToFinished(pending, &detail, schedule));
    Clock::setSleeper(previous);
    QCOMPARE(pauses, (QList<int>{2000, 2000}));
    QCOMPARE(detail.ending, Module1::SyncWaitDetail::Abandoned);
    QCOMPARE(detail.failure, QStringLiteral("outcome unknown: the wait was ended by the user"));
    QCOMPARE(ticketRemovals(pending), 0);
    const QString log = logText();
    QVERIFY2(
        log.contains(QStringLiteral("The wait for the directory synchronisation was ended by the user: the "
                                    "outcome for this subscriber is unknown.  Its ticket is ") +
                     pending + QStringLiteral("\r\n")),
        qPrintable(log));
    QVERIFY(!log.contains(kTimeOut));
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestSyncWait::aFastWaitReadsAResultWithinAQuarterOfItsTime()
{
    ScriptedMessageBoxes boxes;
    // The pauses move a clock of their own; the result is written once that clock reaches `at`.
    qint64 now = 0;
    qint64 at = 0;
    QString ticket;
    QList<int> pauses;
    const Clock::Sleeper previous = Clock::setSleeper([&](int milliseconds) {
        pauses.append(milliseconds);
        now += milliseconds;
        if (now >= at)
            m_standin->exec(
                QStringLiteral("UPDATE directorysyncticket SET result = PendingResult WHERE Ticket = ?"),
                {ticket});
    });
    const auto restore = qScopeGuard([&] { Clock::setSleeper(previous); });
    int waits = 0;
    for (const qint64 written :
         {0, 1, 49, 50, 51, 249, 250, 251, 300, 1000, 2999, 3000, 7999, 8000, 8001, 20000, 39999, 40000}) {
        ticket = QStringLiteral("{0A0B0C0D-1111-4222-8333-%1}").arg(++waits, 12, 10, QLatin1Char('0'));
        QVERIFY(addTicket(ticket, QVariant(), 0));
        now = 0;
        at = written;
        Module1::SyncWaitDetail detail;
        QVERIFY2(Module1::WaitForSyncToFinished(ticket, &detail, Module1::SyncPollSchedule::fast()),
                 qPrintable(QString::number(written)));
        QCOMPARE(detail.ending, Module1::SyncWaitDetail::ResultRead);
        QVERIFY2(now >= written && now <= written + std::max<qint64>(50, written / 4),
                 qPrintable(QStringLiteral("written at %1, read at %2").arg(written).arg(now)));
    }

    // Past the 40 s, the wait gives up after its 37 polls, as the wizard's does after its 20.
    ticket = QStringLiteral("{0A0B0C0D-1111-4222-8333-999999999999}");
    QVERIFY(addTicket(ticket, QVariant(), 0));
    now = 0;
    at = 40001;
    pauses.clear();
    Module1::SyncWaitDetail detail;
    QVERIFY(!Module1::WaitForSyncToFinished(ticket, &detail, Module1::SyncPollSchedule::fast()));
    QCOMPARE(detail.ending, Module1::SyncWaitDetail::TimedOut);
    QCOMPARE(pauses.size(), 37);
    QCOMPARE(pauses, Module1::SyncPollSchedule::fast().pauses());
    QCOMPARE(ticketRemovals(ticket), 0);
    QCOMPARE(logText().count(kTimeOut), 1);
    QCOMPARE(boxes.texts(), QStringList{});
}

QTEST_GUILESS_MAIN(TestSyncWait)
void TestSyncWait::aGroupPollsItsTicketsTogetherAndTheServiceTakesTwoAtATime()
{
    // Four tickets pending, finished by the stand-in's service one second after their turn comes: with two
    // workers the second pair comes a turn after the first; with a worker per ticket all come together.
    for (const int workers : {2, 0}) {
        cleanup();
        init();
        QStringList tickets;
        for (int n = 0; n < 4; ++n) {
            tickets.append(Module1::NewTicketGuid());
            QVERIFY(addTicket(tickets.constLast(), QVariant(), 0));
        }
        QProcess service;
        service.start(QStringLiteral(CULVANE_SOURCE_DIR "/standin/sync-service"),
                      {m_standin->databasePath(), QStringLiteral("--delay"), QStringLiteral("1-1"),
                       QStringLiteral("--fail-every"), QStringLiteral("0"), QStringLiteral("--never-every"),
                       QStringLiteral("0"), QStringLiteral("--concurrency"), QString::number(workers)});
        QVERIFY(service.waitForStarted(5000));
        ScriptedMessageBoxes boxes;
        Module1::SyncTicketGroup group(Module1::SyncPollSchedule::fast());
        for (const QString& ticket : std::as_const(tickets))
            group.add(ticket);
        QCOMPARE(group.waiting(), 4);
        QElapsedTimer clock;
        clock.start();
        QHash<QString, qint64> endedAt;
        while (!group.isEmpty()) {
            for (const Module1::SyncTicketGroup::Ended& ended : group.next()) {
                QVERIFY2(ended.outcome, qPrintable(ended.detail.result + ended.detail.failure));
                QCOMPARE(ended.detail.ending, Module1::SyncWaitDetail::ResultRead);
                endedAt.insert(ended.ticket, clock.elapsed());
            }
        }
        service.terminate();
        QVERIFY(service.waitForFinished(5000));
        QCOMPARE(boxes.texts(), QStringList{});
        for (const QString& ticket : std::as_const(tickets))
            QCOMPARE(ticketRemovals(ticket), 1);
        QList<qint64> times = endedAt.values();
        std::sort(times.begin(), times.end());
        QCOMPARE(times.size(), 4);
        if (workers == 2)
            QVERIFY2(times.at(2) - times.at(1) >= 600,
                     qPrintable(QString::number(times.at(2) - times.at(1))));
        else
            QVERIFY2(times.at(3) - times.at(0) < 600, qPrintable(QString::number(times.at(3) - times.at(0))));
        // One statement for every ticket at each poll: no more polls than one ticket's wait of that length.
        int alone = 0;
        qint64 waited = 0;
        for (const int pause : Module1::SyncPollSchedule::fast().pauses()) {
            if (waited >= times.constLast())
                break;
            waited += pause;
            ++alone;
        }
        QVERIFY2(group.polls() <= alone, qPrintable(QStringLiteral("%1 > %2").arg(group.polls()).arg(alone)));
    }
}

#include "test_syncwait.moc"
