// culvane-run deleting with --in-flight 8 against --in-flight 1, as processes of their own, each against a
// fresh stand-in whose directory synchronisation (a thread here) finishes each ticket 1 to 3 s after its
// turn comes, the same delays in the same order for every run.
//   1. A service that works on up to 8 tickets at once, 1,000 subscribers: --in-flight 8 within 0.2x of
//      --in-flight 1. The one-at-a-time run would take over half an hour, so it runs on the first
//      subscribers only (same delays); its time for all is the delays of all plus the sample's own time per
//      subscriber beyond its delays. The floor is the delays over 8.
//   2. A service that works on one ticket at a time: --in-flight 8 no slower than 1 (1.05x), in full.
//   3. The database's load: the ticket polls a second of run 1 must not exceed the sample's; every
//      statement a second is printed beside them.
// Arguments (for a quick look, not the budget): SUBSCRIBERS SAMPLE SERIAL.

#include "BenchSetup.h"
#include "RunBench.h"
#include "common/StandinFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
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

namespace {

constexpr int kStandinSubscribers = 2000;

// The k-th ticket's synchronisation time, 1000 to 3000 ms, the same for every run.
int delayOf(int k)
{
    std::uint32_t x = 2463534242u + std::uint32_t(k) * 2654435761u;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return 1000 + int(x % 2001);
}

// The synchronisation service: tickets in the order they appear, at most `workers` at once, each finished
// (result 0) delayOf(k) after its turn came.
class SyncService {
public:
    SyncService(const QString& databasePath, int workers) : m_path(databasePath), m_workers(workers)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~SyncService() { stop(); }
    SyncService(const SyncService&) = delete;
    SyncService& operator=(const SyncService&) = delete;
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int finished() const { return m_finished; }
    qint64 delaysMs() const { return m_delaysMs; }
    QString failure() const { return m_failure; }

private:
    void run()
    {
        const QString failure = onConnectionOfItsOwn(m_path, QStringLiteral("sync-service-"),
                                                     [this](QSqlDatabase& db) { watch(db); });
        if (!failure.isEmpty())
            m_failure = failure;
    }

    void watch(QSqlDatabase& db)
    {
        QElapsedTimer clock;
        clock.start();
        QSqlQuery tickets(db);
        tickets.setForwardOnly(true);
        QSqlQuery finish(db);
        finish.prepare(
            QStringLiteral("UPDATE directorysyncticket SET result = 0 WHERE Ticket = ? AND result IS NULL"));
        QHash<QString, bool> seen;
        QStringList queue;
        QHash<QString, qint64> dueAt;
        int count = 0;
        while (!m_stop) {
            if (!tickets.exec(QStringLiteral("SELECT Ticket FROM directorysyncticket WHERE result IS NULL")))
                m_failure = tickets.lastError().text();
            while (tickets.next()) {
                const QString ticket = tickets.value(0).toString();
                if (!seen.contains(ticket)) {
                    seen.insert(ticket, true);
                    queue.append(ticket);
                }
            }
            tickets.finish();
            const qint64 now = clock.elapsed();
            while (!queue.isEmpty() && (m_workers == 0 || dueAt.size() < m_workers)) {
                const int delay = delayOf(count++);
                m_delaysMs += delay;
                dueAt.insert(queue.takeFirst(), now + delay);
            }
            for (auto due = dueAt.begin(); due != dueAt.end();) {
                if (due.value() > now) {
                    ++due;
                    continue;
                }
                finish.addBindValue(due.key());
                if (!finish.exec())
                    m_failure = finish.lastError().text();
                ++m_finished;
                due = dueAt.erase(due);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    QString m_path;
    int m_workers;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_finished{0};
    std::atomic<qint64> m_delaysMs{0};
    QString m_failure;
    std::thread m_thread;
};

struct Timed {
    bool ok = false;
    double ms = 0;
    qint64 delaysMs = 0;
    double statementsPerSecond = 0;
    double pollsPerSecond = 0;
    int polls = 0;
};

// The first `count` subscribers that `select --all` gives, as a file for --from.
QByteArray firstSubscribers(const QByteArray& all, int count)
{
    const QList<QByteArray> lines = all.split('\n');
    QByteArray kept;
    for (int i = 0; i <= count && i < lines.size(); ++i)
        kept += lines.at(i) + '\n';
    return kept;
}

Timed deleteRun(const QString& binary, const QByteArray& selection, int subscribers, int inFlight,
                int workers)
{
    Timed timed;
    StandinFixture standin(kStandinSubscribers);
    std::optional<QProcessEnvironment> environment = culvaneRunEnvironment(standin);
    if (!standin.isValid() || !environment ||
        !standin.exec(QStringLiteral("UPDATE standin_settings SET Value = 1 WHERE Name = 'SyncByService'"))) {
        std::printf("FAIL: cannot prepare the stand-in\n");
        return timed;
    }
    environment->remove(QStringLiteral("CULVANE_RUN_PAUSE_SCALE"));
    const QString list = standin.folder() + QStringLiteral("/selection.csv");
    QFile file(list);
    if (!file.open(QIODevice::WriteOnly) || file.write(firstSubscribers(selection, subscribers)) < 0) {
        std::printf("FAIL: cannot write the selection\n");
        return timed;
    }
    file.close();

    QProcess run;
    run.setProcessEnvironment(*environment);
    run.setWorkingDirectory(standin.folder());
    run.setStandardOutputFile(standin.folder() + QStringLiteral("/run.out"));
    SyncService sync(standin.databasePath(), workers);
    QElapsedTimer timer;
    timer.start();
    run.start(binary, {QStringLiteral("delete"), QStringLiteral("--from"), list, QStringLiteral("--mode"),
                       QStringLiteral("data"), QStringLiteral("--yes"), QStringLiteral("--poll"),
                       QStringLiteral("fast"), QStringLiteral("--in-flight"), QString::number(inFlight),
                       QStringLiteral("--verbose")});
    run.closeWriteChannel();
    const bool ended = run.waitForFinished(3600000);
    timed.ms = double(timer.nsecsElapsed()) / 1e6;
    if (!ended) {
        run.kill();
        run.waitForFinished();
    }
    sync.stop();
    const QString errors = QString::fromLocal8Bit(run.readAllStandardError());
    const int deleted =
        standin.scalar(QStringLiteral("SELECT count(*) FROM standin_deletions WHERE Found = 1")).toInt();
    if (run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0 || deleted != subscribers ||
        sync.finished() != subscribers) {
        std::printf(
            "FAIL: --in-flight %d ended with %d, deleted %d, %d synchronisations finished (want 0, %d, "
            "%d)\n%s%s\n",
            inFlight, run.exitCode(), deleted, sync.finished(), subscribers, subscribers,
            qPrintable(errors.right(2000)), qPrintable(sync.failure()));
        return timed;
    }
    static const QRegularExpression counts(QStringLiteral(
        "(\\d+) statements in [0-9.]+ s, [0-9.]+ a second: \\d+ deletion requests, (\\d+) ticket polls"));
    const QRegularExpressionMatch counted = counts.match(errors);
    if (!counted.hasMatch()) {
        std::printf("FAIL: no statement count from --verbose\n%s\n", qPrintable(errors.right(2000)));
        return timed;
    }
    timed.polls = counted.captured(2).toInt();
    timed.statementsPerSecond = counted.captured(1).toDouble() * 1000.0 / timed.ms;
    timed.pollsPerSecond = timed.polls * 1000.0 / timed.ms;
    timed.delaysMs = sync.delaysMs();
    timed.ok = true;
    return timed;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    warnUnlessRelease("timings");
    const QStringList arguments = QCoreApplication::arguments();
    const int subscribers = arguments.size() > 1 ? arguments.at(1).toInt() : 1000;
    const int sample = arguments.size() > 2 ? arguments.at(2).toInt() : 50;
    const int serial = arguments.size() > 3 ? arguments.at(3).toInt() : 20;

    QTemporaryDir program;
    const QString binary = program.filePath(QStringLiteral("culvane-run"));
    if (!program.isValid() || !QFile::copy(QStringLiteral(CULVANE_RUN_BINARY), binary) ||
        !QFile::setPermissions(binary, QFile::permissions(binary) | QFileDevice::ExeOwner)) {
        std::printf("FAIL: cannot copy culvane-run\n");
        return 1;
    }
    // The selection, in the order every run takes it.
    QByteArray selection;
    {
        StandinFixture standin(kStandinSubscribers);
        std::optional<QProcessEnvironment> environment = culvaneRunEnvironment(standin);
        QProcess select;
        if (environment)
            select.setProcessEnvironment(*environment);
        select.start(binary, {QStringLiteral("select"), QStringLiteral("--all")});
        select.closeWriteChannel();
        if (!environment || !select.waitForFinished(120000) || select.exitCode() != 0) {
            std::printf("FAIL: cannot select the subscribers\n");
            return 1;
        }
        selection = select.readAllStandardOutput();
        if (selection.count('\n') <= subscribers) {
            std::printf("FAIL: fewer than %d subscribers selected\n", subscribers);
            return 1;
        }
    }

    std::printf("1. %d subscribers, synchronisation 1 to 3 s after its turn, 8 tickets at once\n",
                subscribers);
    const Timed eight = deleteRun(binary, selection, subscribers, 8, 8);
    if (!eight.ok)
        return 1;
    const Timed one = deleteRun(binary, selection, sample, 1, 8);
    if (!one.ok)
        return 1;
    const double overheadMs = (one.ms - double(one.delaysMs)) / sample;
    const double oneMs = double(eight.delaysMs) + overheadMs * subscribers;
    const double floorMs = double(eight.delaysMs) / 8.0;
    const double ratio = eight.ms / oneMs;
    std::printf("  --in-flight 8, measured:        %10.1f s\n", eight.ms / 1000);
    std::printf("  --in-flight 1, the first %d measured: %.1f s, of it %.1f s of synchronisation, so %.0f ms "
                "a subscriber beyond it\n",
                sample, one.ms / 1000, double(one.delaysMs) / 1000, overheadMs);
    std::printf("  --in-flight 1, for all (the synchronisation's %.1f s + %d x %.0f ms): %.1f s\n",
                double(eight.delaysMs) / 1000, subscribers, overheadMs, oneMs / 1000);
    std::printf("  floor (synchronisation / 8):    %10.1f s (--in-flight 8 at %.2fx of it)\n", floorMs / 1000,
                eight.ms / floorMs);
    std::printf("  ratio 8/1:                      %10.3f (limit 0.2)\n", ratio);

    std::printf("3. database load\n");
    std::printf("  --in-flight 1: %.2f statements a second, %.2f of them ticket polls (%d polls)\n",
                one.statementsPerSecond, one.pollsPerSecond, one.polls);
    std::printf("  --in-flight 8: %.2f statements a second, %.2f of them ticket polls (%d polls for %d "
                "subscribers)\n",
                eight.statementsPerSecond, eight.pollsPerSecond, eight.polls, subscribers);
    std::printf("  (requests and ticket removals go with the subscribers done, 8 times as many a second;\n"
                "   the polls are what waiting adds, and one statement polls every ticket waiting)\n");

    std::printf("2. %d subscribers, synchronisation 1 to 3 s, one ticket at a time\n", serial);
    const Timed serialOne = deleteRun(binary, selection, serial, 1, 1);
    if (!serialOne.ok)
        return 1;
    const Timed serialEight = deleteRun(binary, selection, serial, 8, 1);
    if (!serialEight.ok)
        return 1;
    const double serialRatio = serialEight.ms / serialOne.ms;
    std::printf("  --in-flight 1: %.1f s, --in-flight 8: %.1f s, synchronisation %.1f s: ratio %.3f (limit "
                "1.05)\n",
                serialOne.ms / 1000, serialEight.ms / 1000, double(serialOne.delaysMs) / 1000, serialRatio);

    bool ok = true;
    if (ratio > 0.2) {
        std::printf("FAIL: --in-flight 8 takes more than 0.2 times --in-flight 1\n");
        ok = false;
    }
    if (serialRatio > 1.05) {
        std::printf("FAIL: with one ticket at a time, --in-flight 8 is slower than --in-flight 1\n");
        ok = false;
    }
    if (eight.pollsPerSecond > one.pollsPerSecond) {
        std::printf("FAIL: polling 8 tickets at once sends more polls a second than polling one\n");
        ok = false;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
