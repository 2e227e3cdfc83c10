// Start-up to the first page against the demo's stand-in (2,000 subscribers, the sample registry file),
// against a yardstick: a minimal Qt program whose window shows one line of text in a QLabel, so that it
// pays for fonts as every real window does. Both run as fresh processes on the offscreen platform in the
// same run, taken in turns, beside a bare window without text, which is shown for information only. Each
// Culvane start is set against the mean of the yardstick's starts just before and after it: on a shared
// machine the speed of all of them drifts within seconds. Exits non-zero when the median of these 25
// paired ratios exceeds 1.5.

#include "BenchSetup.h"
#include "common/StandinFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 25;
constexpr double kMaxRatio = 1.5;

// Milliseconds from the start of the process to its "shown" line, or a negative number.
double timeToShown(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, const QString& folder)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    double ms = -1.0;
    while (process.waitForReadyRead(30000)) {
        if (process.readAllStandardOutput().contains("shown")) {
            ms = double(timer.nsecsElapsed()) / 1e6;
            break;
        }
    }
    if (ms < 0)
        std::printf("%s did not show its window: %s\n", qPrintable(program),
                    process.readAllStandardError().constData());
    process.kill();
    process.waitForFinished(5000);
    return ms;
}

double quantile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * double(values.size() - 1) + 0.5)];
}

double median(const std::vector<double>& values)
{
    return quantile(values, 0.5);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    warnUnlessRelease("timings");
    StandinFixture standin(2000);
    if (!standin.isValid())
        return 1;
    const QString registry = standin.folder() + QStringLiteral("/HKLM.reg");
    if (!QFile::copy(QStringLiteral(CULVANE_SOURCE_DIR "/standin/HKLM-sample.reg"), registry))
        return 1;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), registry);
    environment.insert(QStringLiteral("ODBCSYSINI"), qEnvironmentVariable("ODBCSYSINI"));
    environment.insert(QStringLiteral("HOME"), standin.folder());

    const QString folder = QCoreApplication::applicationDirPath();
    const QString bare = folder + QStringLiteral("/startup_bare");
    const QString culvane = folder + QStringLiteral("/startup_culvane");
    const auto bareStart = [&] { return timeToShown(bare, {}, environment, standin.folder()); };
    const auto labelStart = [&] {
        return timeToShown(bare, {QStringLiteral("label")}, environment, standin.folder());
    };
    const auto culvaneStart = [&] { return timeToShown(culvane, {}, environment, standin.folder()); };
    // A first round of each fills the system's caches and is not counted.
    labelStart();
    bareStart();
    culvaneStart();
    std::vector<double> labelMs{labelStart()};
    std::vector<double> bareMs{bareStart()};
    std::vector<double> culvaneMs;
    std::vector<double> labelRatios;
    std::vector<double> bareRatios;
    const auto pairedRatio = [](double ms, const std::vector<double>& yardstick) {
        return ms / ((yardstick[yardstick.size() - 2] + yardstick.back()) / 2);
    };
    for (int round = 0; round < kRounds; ++round) {
        culvaneMs.push_back(culvaneStart());
        labelMs.push_back(labelStart());
        bareMs.push_back(bareStart());
        labelRatios.push_back(pairedRatio(culvaneMs.back(), labelMs));
        bareRatios.push_back(pairedRatio(culvaneMs.back(), bareMs));
    }
    for (const std::vector<double>* times : {&labelMs, &bareMs, &culvaneMs}) {
        if (*std::min_element(times->begin(), times->end()) < 0) {
            std::printf("FAIL: a window did not show\n");
            return 1;
        }
    }
    const double ratio = median(labelRatios);
    std::printf("bare Qt window shown:          %8.1f ms (median of %d)\n", median(bareMs), kRounds + 1);
    std::printf("window with a label shown:     %8.1f ms (median of %d)\n", median(labelMs), kRounds + 1);
    std::printf("Culvane's first page shown:    %8.1f ms (median of %d)\n", median(culvaneMs), kRounds);
    std::printf(
        "ratio Culvane/label window:    %8.2f (median of %d paired ratios, quartiles %.2f-%.2f; limit "
        "%.1f)\n",
        ratio, kRounds, quantile(labelRatios, 0.25), quantile(labelRatios, 0.75), kMaxRatio);
    std::printf("ratio Culvane/bare window:     %8.2f (median of %d paired ratios, quartiles %.2f-%.2f; for "
                "information)\n",
                median(bareRatios), kRounds, quantile(bareRatios, 0.25), quantile(bareRatios, 0.75));
    const bool ok = ratio <= kMaxRatio;
    std::printf("%s\n", ok ? "PASS" : "FAIL: start-up exceeds 1.5 times a window showing a line of text");
    return ok ? 0 : 1;
}
