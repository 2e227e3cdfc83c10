#include "deletion/RunTimeEstimate.h"

#include <QtTest>

class TestRunTimeEstimate : public QObject {
    Q_OBJECT

private slots:
    void estimateFollowsTheSubscribersDone();
    void timesAreWrittenAsClocksShowThem();
};

void TestRunTimeEstimate::estimateFollowsTheSubscribersDone()
{
    RunTimeEstimate run;
    run.start(4, 1000);
    QCOMPARE(run.elapsedMs(1000), 0);
    QCOMPARE(run.remainingMs(5000), std::nullopt); // nothing to go by yet
    run.subscriberDone(11000);                     // 10 s for the first
    QCOMPARE(run.done(), 1);
    QCOMPARE(run.remainingMs(11000), std::optional<qint64>(30000));
    // The one in progress uses up its own share, and no more than that.
    QCOMPARE(run.remainingMs(16000), std::optional<qint64>(25000));
    QCOMPARE(run.remainingMs(40000), std::optional<qint64>(20000));
    run.subscriberDone(41000); // a slow one raises the average: 20 s each
    QCOMPARE(run.remainingMs(41000), std::optional<qint64>(40000));
    run.subscriberDone(42000);
    run.subscriberDone(43000);
    QCOMPARE(run.remainingMs(43000), std::optional<qint64>(0));
    run.subscriberDone(44000); // never counts beyond the total
    QCOMPARE(run.done(), 4);
    QCOMPARE(run.elapsedMs(43000), 42000);
    QCOMPARE(run.elapsedMs(500), 0); // a clock read before the start is no negative time

    RunTimeEstimate empty;
    empty.start(0, 0);
    QCOMPARE(empty.remainingMs(10), std::optional<qint64>(0));
}

void TestRunTimeEstimate::timesAreWrittenAsClocksShowThem()
{
    QCOMPARE(RunTimeEstimate::format(0), QStringLiteral("0:00"));
    QCOMPARE(RunTimeEstimate::format(1), QStringLiteral("0:01")); // a wait left never shows as none
    QCOMPARE(RunTimeEstimate::format(59000), QStringLiteral("0:59"));
    QCOMPARE(RunTimeEstimate::format(59001), QStringLiteral("1:00"));
    QCOMPARE(RunTimeEstimate::format(754000), QStringLiteral("12:34"));
    QCOMPARE(RunTimeEstimate::format(3600000), QStringLiteral("1:00:00"));
    QCOMPARE(RunTimeEstimate::format(3661000), QStringLiteral("1:01:01"));
    QCOMPARE(RunTimeEstimate::format(-5), QStringLiteral("0:00"));
}

QTEST_GUILESS_MAIN(TestRunTimeEstimate)
#include "test_runtimeestimate.moc"
