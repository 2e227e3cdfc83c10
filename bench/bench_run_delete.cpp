// culvane-run deleting 200 subscribers with `--poll fast`, as a process of its own against a fresh stand-in
// whose directory synchronisation finishes each ticket 0.3 s after the ticket appears (a thread here plays
// the synchronisation service). The synchronisation alone takes 200 x 0.3 s = 60 s; the run's wall time
// over those 60 s is the ratio, and it exits non-zero above 1.3. Beside it, the wizard's schedule for the
// same run, counted from its poll schedule and not slept: each subscriber waits until the first poll at
// or after its 0.3 s.

#include "BenchSetup.h"
#include "RunBench.h"
#include "common/StandinFixture.h"
#include "deletion/SyncTicketWait.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr int kSubscribers = 200;
constexpr int kSyncMs = 300;
constexpr double kMaxRatio = 1.3;
// A stand-in of 2,000 subscribers; this range of extensions selects exactly 200 of them (a call handler
// and a class of service each, of the types "All subscribers" takes).
constexpr int kStandinSubscribers = 2000;
const QString kRange = QStringLiteral("400-5054");

// The stand-in's synchronisation service at a fixed 0.3 s: it watches the ticket table every few
// milliseconds and reports result 0 for each pending ticket 0.3 s after it first saw it.
class SyncFinisher {
public:
    explicit SyncFinisher(const QString& databasePath) : m_path(databasePath)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~SyncFinisher()
    {
        m_stop = true;
        m_thread.join();
    }
    SyncFinisher(const SyncFinisher&) = delete;
    SyncFinisher& operator=(const SyncFinisher&) = delete;

    int finished() const { return m_finished; }
    QString failure() const { return m_stop ? m_failure : QString(); }

private:
    void run()
    {
        const QString name = QStringLiteral("sync-finisher-") + QUuid::createUuid().toString(QUuid::Id128);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
            db.setDatabaseName(QStringLiteral("Driver={SQL Server};database=") + m_path);
            if (!db.open())
                m_failure = db.lastError().text();
            else
                watch(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    void watch(QSqlDatabase& db)
    {
        QHash<QString, qint64> seen; // ticket -> when first seen, in ms
        QElapsedTimer clock;
        clock.start();
        QSqlQuery pending(db);
        pending.setForwardOnly(true);
        QSqlQuery finish(db);
        finish.prepare(
            QStringLiteral("UPDATE directorysyncticket SET result = 0 WHERE Ticket = ? AND result IS NULL"));
        while (!m_stop) {
            if (!pending.exec(QStringLiteral("SELECT Ticket FROM directorysyncticket WHERE result IS NULL")))
                m_failure = pending.lastError().text();
            const qint64 now = clock.elapsed();
            QStringList due;
            while (pending.next()) {
                const QString ticket = pending.value(0).toString();
                const qint64 first = seen.value(ticket, -1);
                if (first < 0)
                    seen.insert(ticket, now);
                else if (now - first >= kSyncMs)
                    due.append(ticket);
            }
            pending.finish();
            for (const QString& ticket : due) {
                finish.addBindValue(ticket);
                if (finish.exec())
                    ++m_finished;
                else
                    m_failure = finish.lastError().text();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    QString m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_finished{0};
    QString m_failure;
    std::thread m_thread;
};

// What a wait costs in pauses when the result appears `syncMs` after the deletion: every pause up to
// and including the one that ends at or after it.
qint64 pausesUntil(const Module1::SyncPollSchedule& schedule, int syncMs)
{
    qint64 total = 0;
    for (const int pause : schedule.pauses()) {
        total += pause;
        if (total >= syncMs)
            break;
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    warnUnlessRelease("timings");

    // The program in a folder of its own, so that its run log and results file land there.
    QTemporaryDir program;
    const QString binary = program.filePath(QStringLiteral("culvane-run"));
    if (!program.isValid() || !QFile::copy(QStringLiteral(CULVANE_RUN_BINARY), binary) ||
        !QFile::setPermissions(binary, QFile::permissions(binary) | QFileDevice::ExeOwner)) {
        std::printf("FAIL: cannot copy culvane-run\n");
        return 1;
    }
    StandinFixture standin(kStandinSubscribers);
    if (!standin.isValid()) {
        std::printf("FAIL: no stand-in database\n");
        return 1;
    }
    std::optional<QProcessEnvironment> environment = culvaneRunEnvironment(standin);
    if (!environment ||
        !standin.exec(QStringLiteral("UPDATE standin_settings SET Value = 1 WHERE Name = 'SyncByService'"))) {
        std::printf("FAIL: cannot prepare the stand-in\n");
        return 1;
    }
    environment->remove(QStringLiteral("CULVANE_RUN_PAUSE_SCALE"));

    QProcess run;
    run.setProcessEnvironment(*environment);
    run.setWorkingDirectory(standin.folder());
    run.setStandardOutputFile(standin.folder() + QStringLiteral("/run.out"));
    double ms = 0;
    int finished = 0;
    QString failure;
    {
        const SyncFinisher sync(standin.databasePath());
        QElapsedTimer timer;
        timer.start();
        run.start(binary, {QStringLiteral("delete"), QStringLiteral("--range"), kRange,
                           QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes"),
                           QStringLiteral("--poll"), QStringLiteral("fast")});
        run.closeWriteChannel();
        const bool ended = run.waitForFinished(600000);
        ms = double(timer.nsecsElapsed()) / 1e6;
        if (!ended) {
            run.kill();
            run.waitForFinished();
        }
        finished = sync.finished();
        failure = sync.failure();
    }
    const int deleted =
        standin.scalar(QStringLiteral("SELECT count(*) FROM standin_deletions WHERE Found = 1")).toInt();
    const bool clean = run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    if (!clean || deleted != kSubscribers || finished != kSubscribers) {
        std::printf("FAIL: culvane-run ended with %d, deleted %d and saw %d synchronisations finish "
                    "(want 0, %d, %d)\n%s%s\n",
                    run.exitCode(), deleted, finished, kSubscribers, kSubscribers,
                    run.readAllStandardError().right(2000).constData(), qPrintable(failure));
        return 1;
    }

    const double syncMs = double(kSubscribers) * kSyncMs;
    const double ratio = ms / syncMs;
    const qint64 fastPauses = pausesUntil(Module1::SyncPollSchedule::fast(), kSyncMs);
    const qint64 wizardPauses = pausesUntil(Module1::SyncPollSchedule(), kSyncMs);
    // The run's own time beyond its pauses, with the wizard's pauses in place of the fast ones.
    const double wizardMs = ms + double(kSubscribers) * double(wizardPauses - fastPauses);
    std::printf("culvane-run delete of %d subscribers, synchronisation finishing after %d ms each\n",
                kSubscribers, kSyncMs);
    std::printf("  --poll fast, wall time:          %9.1f ms (%lld ms of pauses each)\n", ms,
                static_cast<long long>(fastPauses));
    std::printf("  the synchronisation itself:      %9.1f ms\n", syncMs);
    std::printf("  default schedule (counted):      %9.1f ms (%lld ms of pauses each)\n", wizardMs,
                static_cast<long long>(wizardPauses));
    // What the schedule itself allows: each subscriber is seen at the first poll after its synchronisation.
    std::printf("  the fast schedule's own floor:   %9.2f (its pauses over the synchronisation)\n",
                double(fastPauses) / kSyncMs);
    std::printf("  ratio fast/synchronisation:      %9.2f (limit %.1f)\n", ratio, kMaxRatio);
    const bool ok = ratio <= kMaxRatio;
    std::printf("%s\n", ok ? "PASS" : "FAIL: the run exceeds 1.3 times its synchronisation");
    return ok ? 0 : 1;
}
