#include "ports/Ports.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

// The pause of the program's own sleeper: as long as asked, with the user-interface thread's events handled
// meanwhile.
class TestClock : public QObject {
    Q_OBJECT

private slots:
    void aPauseLetsEventsThroughAndLastsItsTime()
    {
        int handled = 0;
        QTimer::singleShot(0, this, [&] { ++handled; });
        QMetaObject::invokeMethod(
            this, [&] { ++handled; }, Qt::QueuedConnection);
        QElapsedTimer elapsed;
        elapsed.start();
        Clock::sleep(120);
        QVERIFY(elapsed.elapsed() >= 120);
        QCOMPARE(handled, 2);

        // An installed sleeper takes the pause instead, events untouched.
        QList<int> asked;
        const Clock::Sleeper previous = Clock::setSleeper([&](int ms) { asked.append(ms); });
        QMetaObject::invokeMethod(
            this, [&] { ++handled; }, Qt::QueuedConnection);
        Clock::sleep(2000);
        Clock::setSleeper(previous);
        QCOMPARE(asked, QList<int>{2000});
        QCOMPARE(handled, 2);
        QCoreApplication::processEvents();
        QCOMPARE(handled, 3);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "test_clock.moc"
