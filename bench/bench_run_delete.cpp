// culvane-run deleting subscribers with `--poll fast`, as a process of its own against a fresh stand-in
// whose directory synchronisation finishes each ticket a fixed time after the ticket appears (a thread here
// plays the synchronisation service). Built twice: 200 subscribers at 0.3 s (bench_run_delete) and 20 at
// 3 s (bench_run_delete_slow). The synchronisation alone takes subscribers x that time; the run's wall time
// over it is the ratio, and it exits non-zero above 1.3. Beside it: the polls each subscriber took, told
// from when its result was read; the wizard's schedule for the same run, counted from its poll schedule and
// not slept; and the fast schedule's own floor, its pauses up to the synchronisation's time.

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
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr int kSubscribers = BENCH_SUBSCRIBERS;
constexpr int kSyncMs = BENCH_SYNC_MS;
constexpr double kMaxRatio = 1.3;
// A stand-in of 2,000 subscribers; BENCH_RANGE selects exactly kSubscribers of them (a call handler and a
// class of service each, of the types "All subscribers" takes).
constexpr int kStandinSubscribers = 2000;
const QString kRange = QStringLiteral(BENCH_RANGE);

// The stand-in's synchronisation service at a fixed delay: it watches the ticket table every few
// milliseconds and reports result 0 for each pending ticket kSyncMs after it first saw it. It also notes
// when each finished ticket was removed, that is when the run had read its result.
//
// Not standin/sync-service: its delays are whole seconds on a clock of whole seconds, looked at every
// 0.5 s, so "--delay 3-3" finishes a ticket anywhere from about 2 s to 3.6 s after it appeared, and 0.3 s
// cannot be asked for at all.
class SyncFinisher {
public:
    // Per ticket, from when it was first seen: when its result was written and when the run removed it.
    struct Timing {
        qint64 writtenMs = -1;
        qint64 readMs = -1;
    };

    explicit SyncFinisher(const QString& databasePath) : m_path(databasePath)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~SyncFinisher() { stop(); }
    SyncFinisher(const SyncFinisher&) = delete;
    SyncFinisher& operator=(const SyncFinisher&) = delete;

    // Ends the watch after one more look at the table; what follows reads what it saw.
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int finished() const { return m_finished; }
    QString failure() const { return m_failure; }
    const QHash<QString, Timing>& timings() const { return m_timings; }

private:
    void run()
    {
        const QString failure = onConnectionOfItsOwn(m_path, QStringLiteral("sync-finisher-"),
                                                     [this](QSqlDatabase& db) { watch(db); });
        if (!failure.isEmpty())
            m_failure = failure;
    }

    void watch(QSqlDatabase& db)
    {
        QHash<QString, qint64> seen; // ticket -> when first seen, in ms
        QElapsedTimer clock;
        clock.start();
        QSqlQuery tickets(db);
        tickets.setForwardOnly(true);
        QSqlQuery finish(db);
        finish.prepare(
            QStringLiteral("UPDATE directorysyncticket SET result = 0 WHERE Ticket = ? AND result IS NULL"));
        for (;;) {
            // The run may end between two looks: the look after the stop request sees its last removal.
            const bool last = m_stop;
            if (!tickets.exec(QStringLiteral("SELECT Ticket, result FROM directorysyncticket")))
                m_failure = tickets.lastError().text();
            const qint64 now = clock.elapsed();
            QSet<QString> present;
            QStringList due;
            while (tickets.next()) {
                const QString ticket = tickets.value(0).toString();
                present.insert(ticket);
                if (!tickets.value(1).isNull())
                    continue;
                const qint64 first = seen.value(ticket, -1);
                if (first < 0)
                    seen.insert(ticket, now);
                else if (now - first >= kSyncMs)
                    due.append(ticket);
            }
            tickets.finish();
            for (const QString& ticket : due) {
                finish.addBindValue(ticket);
                if (!finish.exec()) {
                    m_failure = finish.lastError().text();
                    continue;
                }
                ++m_finished;
                m_timings[ticket].writtenMs = clock.elapsed() - seen.value(ticket);
            }
            for (auto timing = m_timings.begin(); timing != m_timings.end(); ++timing)
                if (timing->readMs < 0 && !present.contains(timing.key()))
                    timing->readMs = now - seen.value(timing.key());
            if (last)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    QString m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_finished{0};
    // Written by the watching thread only, read once it has ended.
    QString m_failure;
    QHash<QString, Timing> m_timings;
    std::thread m_thread;
};

// What a wait costs in pauses when the result appears `syncMs` after the deletion: every pause up to
// and including the one that ends at or after it. `polls`, when given, receives how many that is.
qint64 pausesUntil(const Module1::SyncPollSchedule& schedule, qint64 syncMs, int* polls = nullptr)
{
    qint64 total = 0;
    int count = 0;
    for (const int pause : schedule.pauses()) {
        total += pause;
        ++count;
        if (total >= syncMs)
            break;
    }
    if (polls)
        *polls = count;
    return total;
}

// The poll that read a result `readMs` after the ticket appeared: the last one due by then. The queries,
// the removal and this thread's own look add a few milliseconds, well under half the shortest pause.
int pollsUntilRead(const Module1::SyncPollSchedule& schedule, qint64 readMs)
{
    const QList<int> pauses = schedule.pauses();
    const qint64 slack = schedule.shortestPauseMilliseconds / 2;
    qint64 total = 0;
    int polls = 0;
    for (const int pause : pauses) {
        total += pause;
        if (total > readMs + slack)
            break;
        ++polls;
    }
    return polls;
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
    SyncFinisher sync(standin.databasePath());
    QElapsedTimer timer;
    timer.start();
    run.start(binary, {QStringLiteral("delete"), QStringLiteral("--range"), kRange, QStringLiteral("--mode"),
                       QStringLiteral("data"), QStringLiteral("--yes"), QStringLiteral("--poll"),
                       QStringLiteral("fast")});
    run.closeWriteChannel();
    const bool ended = run.waitForFinished(600000);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (!ended) {
        run.kill();
        run.waitForFinished();
    }
    sync.stop();

    const int deleted =
        standin.scalar(QStringLiteral("SELECT count(*) FROM standin_deletions WHERE Found = 1")).toInt();
    const bool clean = run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    if (!clean || deleted != kSubscribers || sync.finished() != kSubscribers) {
        std::printf("FAIL: culvane-run ended with %d, deleted %d and saw %d synchronisations finish "
                    "(want 0, %d, %d)\n%s%s\n",
                    run.exitCode(), deleted, sync.finished(), kSubscribers, kSubscribers,
                    run.readAllStandardError().right(2000).constData(), qPrintable(sync.failure()));
        return 1;
    }

    const Module1::SyncPollSchedule fast = Module1::SyncPollSchedule::fast();
    qint64 writtenMs = 0;
    qint64 readMs = 0;
    qint64 polls = 0;
    for (const SyncFinisher::Timing& timing : sync.timings()) {
        if (timing.readMs < 0) {
            std::printf("FAIL: a finished ticket was never removed\n");
            return 1;
        }
        writtenMs += timing.writtenMs;
        readMs += timing.readMs;
        polls += pollsUntilRead(fast, timing.readMs);
    }

    const double syncMs = double(kSubscribers) * kSyncMs;
    const double ratio = ms / syncMs;
    int countedPolls = 0;
    const qint64 fastPauses = pausesUntil(fast, kSyncMs, &countedPolls);
    const qint64 wizardPauses = pausesUntil(Module1::SyncPollSchedule(), kSyncMs);
    // The run's own time beyond its pauses, with the wizard's pauses in place of the fast ones.
    const double wizardMs = ms + double(kSubscribers) * double(wizardPauses - fastPauses);
    std::printf("culvane-run delete of %d subscribers, synchronisation finishing after %d ms each\n",
                kSubscribers, kSyncMs);
    std::printf("  --poll fast, wall time:          %9.1f ms\n", ms);
    std::printf("  the synchronisation itself:      %9.1f ms\n", syncMs);
    std::printf("  default schedule (counted):      %9.1f ms (%lld ms of pauses each)\n", wizardMs,
                static_cast<long long>(wizardPauses));
    std::printf("  results written, read (mean):    %9.1f ms, %.1f ms after the ticket appeared\n",
                double(writtenMs) / kSubscribers, double(readMs) / kSubscribers);
    // What the schedule itself allows: each subscriber is seen at the first poll after its synchronisation.
    std::printf("  the fast schedule's own floor:   %9.2f (%lld ms of pauses over %d ms, %d polls)\n",
                double(fastPauses) / kSyncMs, static_cast<long long>(fastPauses), kSyncMs, countedPolls);
    std::printf("  ratio fast/synchronisation:      %9.2f (limit %.1f), %.2f polls per subscriber\n", ratio,
                kMaxRatio, double(polls) / kSubscribers);
    const bool ok = ratio <= kMaxRatio;
    std::printf("%s\n", ok ? "PASS" : "FAIL: the run exceeds 1.3 times its synchronisation");
    return ok ? 0 : 1;
}
