// `culvane-run select --all` at 30,000 generated subscribers against the raw fetch of the same statement.
// Both are fresh processes timed from start to end (raw_fetch: one connection, the statement forward-only,
// every value into a string), taken in turns, the best of each counting: both pay the same process start,
// driver load, connection and fresh heap, so the ratio is what culvane-run adds to the fetch. The same fetch
// inside this process, on a kept connection and a warm heap, is printed beside it for information.
// Exits non-zero when the run costs more than 1.3 times the raw fetch.

#include "BenchSetup.h"
#include "RawFetch.h"
#include "RunBench.h"
#include "server/Statements.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr int kSubscribers = 30000;
constexpr int kRepetitions = 5;
constexpr double kMaxRatio = 1.3;

double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// "All subscribers" as the query sends it, every row into strings, on a connection of its own.
std::size_t rawFetch()
{
    std::vector<RawRow> rows;
    DbConnection db(Statements::ConnectionText);
    fetchInto(db, Statements::allSubscribers(), rows);
    return rows.size();
}

struct Timed {
    double ms = 0;
    int status = -1;
    QByteArray output;
    QByteArray errors;
};

// A program started with the stand-in's environment, timed from its start to its end.
Timed timeProcess(const QString& program, const QStringList& arguments,
                  const QProcessEnvironment& environment, const QString& folder)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(120000);
    Timed timed;
    timed.ms = msSince(timer);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    timed.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    timed.output = process.readAllStandardOutput();
    timed.errors = process.readAllStandardError();
    return timed;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    warnUnlessRelease("timings");
    StandinFixture standin(kSubscribers);
    if (!standin.isValid()) {
        std::printf("FAIL: no stand-in database\n");
        return 1;
    }
    const std::optional<QProcessEnvironment> environment = culvaneRunEnvironment(standin);
    if (!environment) {
        std::printf("FAIL: cannot copy the registry file\n");
        return 1;
    }
    const QString output = standin.folder() + QStringLiteral("/selection.csv");

    double bestRawProcess = std::numeric_limits<double>::infinity();
    double bestInProcess = std::numeric_limits<double>::infinity();
    double bestRun = std::numeric_limits<double>::infinity();
    std::size_t rawRows = 0;
    Timed raw;
    Timed run;
    // The first round of each fills the system's caches and is not counted.
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        raw = timeProcess(QStringLiteral(RAW_FETCH_BINARY), {}, *environment, standin.folder());
        QFile::remove(output);
        run = timeProcess(
            QStringLiteral(CULVANE_RUN_BINARY),
            {QStringLiteral("select"), QStringLiteral("--all"), QStringLiteral("--output"), output},
            *environment, standin.folder());
        QElapsedTimer timer;
        timer.start();
        rawRows = rawFetch();
        const double inProcess = msSince(timer);
        if (rep > 0) {
            bestRawProcess = std::min(bestRawProcess, raw.ms);
            bestRun = std::min(bestRun, run.ms);
            bestInProcess = std::min(bestInProcess, inProcess);
        }
    }

    // The file holds a heading and a line for each row the grid took (one subscriber has no class of
    // service and is refused).
    QFile file(output);
    qint64 lines = 0;
    if (file.open(QIODevice::ReadOnly)) {
        for (const char c : file.readAll())
            lines += c == '\n' ? 1 : 0;
    }
    const double ratio = bestRun / bestRawProcess;
    std::printf("All subscribers at %d subscribers: %zu rows fetched, %lld lines written\n", kSubscribers,
                rawRows, static_cast<long long>(lines));
    std::printf("  raw fetch into strings, process:    %8.2f ms (best of %d)\n", bestRawProcess,
                kRepetitions);
    std::printf("  culvane-run select --all, process:  %8.2f ms (best of %d)\n", bestRun, kRepetitions);
    std::printf("  ratio:                              %8.2f (limit %.1f)\n", ratio, kMaxRatio);
    std::printf("  for information, the raw fetch in this process (kept connection, warm heap): %.2f ms "
                "(culvane-run takes %.2f times as long)\n",
                bestInProcess, bestRun / bestInProcess);
    bool ok = true;
    if (raw.status != 0 || raw.output.trimmed().toULongLong() != rawRows) {
        std::printf("FAIL: the raw fetch's process did not fetch every row (status %d, %s rows)\n%s\n",
                    raw.status, raw.output.trimmed().constData(), raw.errors.constData());
        ok = false;
    }
    if (rawRows < std::size_t(kSubscribers) * 9 / 10 || lines < qint64(rawRows) - 10 ||
        lines > qint64(rawRows) + 1) {
        std::printf("FAIL: the selection written does not match the rows fetched (status %d)\n%s\n",
                    run.status, run.errors.constData());
        ok = false;
    }
    if (ratio > kMaxRatio) {
        std::printf("FAIL: culvane-run select --all exceeds 1.3 times the raw fetch\n");
        ok = false;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
