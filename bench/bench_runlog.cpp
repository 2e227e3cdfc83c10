// Writing 10,000 run-log lines, each written through to the system and followed by the window system's
// turn, as a deletion run does. Exits non-zero when that takes 0.5 s or more, or when a line is missing.

#include "BenchSetup.h"
#include "deletion/Logging.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

constexpr int kLines = 10000;
constexpr int kRepetitions = 3;
constexpr double kBudgetMs = 500.0;

QString lineFor(int i)
{
    if (i % 50 == 0)
        return QStringLiteral("(error): Subscriber jsmith%1 could not be deleted: sp_DeleteSubscriber failed")
            .arg(i);
    return QStringLiteral(
               "Subscriber m\u00fcller%1 (alias mueller%1) deleted; directory sync ticket confirmed")
        .arg(i);
}

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatformUnlessNamed();
    QApplication app(argc, argv);
    warnUnlessRelease("timings");
    QLabel window(QStringLiteral("Deleting subscribers"));
    window.show();
    QCoreApplication::processEvents();

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::printf("FAIL: no temporary folder\n");
        return 1;
    }
    Logging::setLogFolder(dir.path());

    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << lineFor(i);

    double best = std::numeric_limits<double>::infinity();
    bool complete = true;
    for (int rep = 0; rep < kRepetitions; ++rep) {
        const QString path = Logging::GenerateNewLogFileName();
        Logging::OpenRunLog(path, false);
        if (!Logging::RunLogIsOpen()) {
            std::printf("FAIL: the log did not open: %s\n", qPrintable(Logging::RunLogOpenFailure()));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        for (const QString& line : lines)
            Logging::WriteLogLine(line);
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
        Logging::CloseRunLog();
        QFile file(path);
        complete = complete && file.open(QIODevice::ReadOnly) && file.readAll().count("\r\n") >= kLines &&
                   Logging::RunLogErrorCount() == kLines / 50;
    }

    const double ratio = best / kBudgetMs;
    std::printf("lines:                 %d\n", kLines);
    std::printf("WriteLogLine (each written through, events processed): %8.2f ms\n", best);
    std::printf("ratio to the %.0f ms budget: %6.3f (limit 1.0)\n", kBudgetMs, ratio);

    bool ok = true;
    if (!complete) {
        std::printf("FAIL: the log does not hold every line or the error count is wrong\n");
        ok = false;
    }
    if (best >= kBudgetMs) {
        std::printf("FAIL: 10,000 lines take 0.5 s or more\n");
        ok = false;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
