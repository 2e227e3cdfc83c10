#include "Tour.h"
#include "app/Program.h"
#include "deletion/Logging.h"
#include "ports/Ports.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <thread>

// culvane-tour --part run|stop|about --work DIR [--screens DIR] [--program-folder DIR]
//              [--log-folder DIR] [--pause-divisor N]
// One part of the guided tour (see Tour.h), started by scripts/demo --tour in the demo folder. The last two
// options serve the tour's own test: logs kept apart, and the 2-second pauses cut to a fraction.
namespace {
QtMessageHandler& standardHandler()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

// The offscreen platform warns of every window feature it lacks (raising, size hints); the tour's own
// lines are what the reader needs.
void quietPlatform(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (standardHandler())
        standardHandler()(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}
} // namespace

int main(int argc, char* argv[])
{
    standardHandler() = qInstallMessageHandler(quietPlatform);
    QApplication application(argc, argv);
    // Set up as the program sets itself up; the tour's own message boxes replace the ports when it runs.
    setUpApplication();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Walks the Culvane wizard through one part of its tour."));
    parser.addHelpOption();
    const QCommandLineOption part(QStringLiteral("part"), QStringLiteral("run, stop or about"),
                                  QStringLiteral("part"));
    const QCommandLineOption work(QStringLiteral("work"),
                                  QStringLiteral("folder for the CSV file and copies of logs and results"),
                                  QStringLiteral("folder"), QDir::currentPath());
    const QCommandLineOption screens(QStringLiteral("screens"), QStringLiteral("folder for the pictures"),
                                     QStringLiteral("folder"));
    const QCommandLineOption program(QStringLiteral("program-folder"),
                                     QStringLiteral("the program folder (language libraries, help, logs/)"),
                                     QStringLiteral("folder"), QStringLiteral(CULVANE_BIN_DIR));
    const QCommandLineOption logs(QStringLiteral("log-folder"), QStringLiteral("where run logs go"),
                                  QStringLiteral("folder"));
    const QCommandLineOption divisor(QStringLiteral("pause-divisor"),
                                     QStringLiteral("pauses last this fraction of their time"),
                                     QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({part, work, screens, program, logs, divisor});
    parser.process(application);
    if (!parser.isSet(part)) {
        std::fprintf(stderr, "culvane-tour: --part run, stop or about is needed\n");
        return 2;
    }

    if (parser.isSet(logs))
        Logging::setLogFolder(QDir(parser.value(logs)).absolutePath());
    const int shortened = parser.value(divisor).toInt();
    if (shortened > 1) {
        Clock::setSleeper([shortened](int milliseconds) {
            const QDeadlineTimer deadline(milliseconds / shortened);
            do {
                QCoreApplication::processEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } while (!deadline.hasExpired());
        });
    }

    TourOptions options;
    options.part = parser.value(part);
    options.workFolder = QDir(parser.value(work)).absolutePath();
    options.screensFolder = parser.isSet(screens) ? QDir(parser.value(screens)).absolutePath()
                                                  : options.workFolder + QStringLiteral("/screens");
    options.programFolder = QDir(parser.value(program)).absolutePath();
    return runTour(options);
}
