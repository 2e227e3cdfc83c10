#include "run/CulvaneRun.h"

#include "app/StartupChecks.h"
#include "deletion/DeletionRun.h"
#include "deletion/Logging.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/MsgBox.h"
#include "ports/Ports.h"
#include "run/DryRun.h"
#include "run/RunConsole.h"
#include "run/RunInterrupt.h"
#include "run/RunOptions.h"
#include "run/RunPassword.h"
#include "run/RunSelection.h"
#include "selection/SelectionExport.h"
#include "selection/SubscriberGridModel.h"
#include "server/DbConnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

using namespace RunOptions;
using modLocalize::mymyLoadString;

namespace {

// Tests only: CULVANE_RUN_PAUSE_SCALE (0 < scale <= 1) shortens every real pause of the sync wait by that
// factor, so that a time-out is seen without its 40 seconds. The pauses asked for, and so the number of
// polls, stay as they are.
double pauseScale()
{
    bool number = false;
    const double scale = qEnvironmentVariable("CULVANE_RUN_PAUSE_SCALE").toDouble(&number);
    return number && scale > 0 && scale <= 1 ? scale : 1.0;
}

// Tests only: CULVANE_RUN_TIMEOUTS="CONNECT,COMMAND" (whole seconds, each 1 to 30) shortens the
// database's connection and command timeouts, so that a server that stops answering is given up on in
// seconds instead of a minute and more.
void applyTestTimeouts()
{
    const QStringList parts = qEnvironmentVariable("CULVANE_RUN_TIMEOUTS").split(QLatin1Char(','));
    if (parts.size() != 2)
        return;
    bool connectNumber = false;
    bool commandNumber = false;
    const int connect = parts.at(0).toInt(&connectNumber);
    const int command = parts.at(1).toInt(&commandNumber);
    if (connectNumber && commandNumber && connect >= 1 && connect <= 30 && command >= 1 && command <= 30)
        DbConnection::setTimeoutsForTests({connect, command});
}

// What stopped a run, for its last lines.
const char* stopCause()
{
    switch (RunInterrupt::endingSignal()) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return "Ctrl-C";
    }
}

// What ended a run, in the summary line: completed, ctrl-c, sigterm, sighup, sigpipe or unreachable.
QString endedWord(bool stopped, bool unreachable)
{
    if (unreachable)
        return QStringLiteral("unreachable");
    return stopped ? QString::fromLatin1(stopCause()).toLower() : QStringLiteral("completed");
}

// What the run tells the console, and what the console tells the run: Ctrl-C and the ending signals.
class ConsoleSink : public DeletionRunSink {
public:
    ConsoleSink(RunConsole& console, Poll poll, int inFlight, std::function<int()> errors)
        : m_console(console), m_poll(poll), m_inFlight(inFlight), m_errors(std::move(errors))
    {
    }

    void runStarted(qint32 /*rows*/) override { m_console.startProgress(m_checked, m_errors); }
    void rowsVisited(qint32 /*visited*/) override {}
    void subscribersProcessed(qint32 processed) override { m_console.progressDone(processed); }
    bool stopRequested() override
    {
        noticeInterrupts();
        return RunInterrupt::count() >= 1;
    }
    void resultsFileUnavailable(const QString& path, const QString& reason) override
    {
        MsgBox::show(mymyLoadString(StringIds::ResultsFileUnavailable).arg(path, reason));
    }
    // No one to ask: the run stops, and the status tells a scheduler to try again later.
    Unreachable databaseUnreachable(qint32 inARow, const QString& /*alias*/, const QString& reason,
                                    bool /*retrySame*/) override
    {
        m_console.message(
            QStringLiteral("the database could not be reached for %1 subscribers in a row (%2): "
                           "stopping; the rest are not attempted, resume later with --from "
                           "and the results file")
                .arg(inARow)
                .arg(reason));
        return Unreachable::Stop;
    }
    Module1::SyncPollSchedule syncSchedule() override
    {
        Module1::SyncPollSchedule schedule =
            m_poll == Poll::Fast ? Module1::SyncPollSchedule::fast() : Module1::SyncPollSchedule();
        schedule.abandoned = [this] {
            noticeInterrupts();
            return RunInterrupt::count() >= 2;
        };
        return schedule;
    }

    void setChecked(qint32 checked) { m_checked = checked; }

    // Says once what each Ctrl-C or ending signal does, when the run first sees it.
    void noticeInterrupts()
    {
        const int count = RunInterrupt::count();
        const bool several = m_inFlight > 1;
        if (RunInterrupt::endingSignal() != 0 && m_announced < 2) {
            m_console.message((several
                                   ? QStringLiteral("%1: stopping now; the waits in flight end, their "
                                                    "outcomes unknown")
                                   : QStringLiteral("%1: stopping now; the current wait ends, its outcome "
                                                    "unknown"))
                                  .arg(QLatin1String(stopCause())));
            m_announced = 2;
        }
        if (count >= 1 && m_announced < 1)
            m_console.message(several ? QStringLiteral("Ctrl-C: no further request; stopping once the "
                                                       "subscribers in flight are done (Ctrl-C again ends "
                                                       "their waits at once)")
                                      : QStringLiteral("Ctrl-C: stopping after the current subscriber "
                                                       "(Ctrl-C again ends its wait at once)"));
        if (count >= 2 && m_announced < 2)
            m_console.message(several ? QStringLiteral("Ctrl-C again: the waits in flight end now, their "
                                                       "outcomes unknown")
                                      : QStringLiteral("Ctrl-C again: the current wait ends now, its outcome "
                                                       "unknown"));
        m_announced = std::max(m_announced, std::min(count, 2));
    }

private:
    RunConsole& m_console;
    Poll m_poll;
    int m_inFlight;
    std::function<int()> m_errors;
    qint32 m_checked = 0;
    int m_announced = 0;
};

// The sync wait's pauses: slept in short slices, so that a second Ctrl-C ends them at once and the
// terminal's line keeps its time left current.
class ConsoleSleeper {
public:
    ConsoleSleeper(RunConsole& console, ConsoleSink& sink) : m_console(console), m_sink(sink)
    {
        const double scale = pauseScale();
        m_previous = Clock::setSleeper([this, scale](int milliseconds) { sleep(milliseconds, scale); });
    }
    ~ConsoleSleeper() { Clock::setSleeper(std::move(m_previous)); }
    ConsoleSleeper(const ConsoleSleeper&) = delete;
    ConsoleSleeper& operator=(const ConsoleSleeper&) = delete;

private:
    void sleep(int milliseconds, double scale)
    {
        constexpr qint64 slice = 20;
        const QDeadlineTimer deadline(qRound64(milliseconds * scale));
        for (qint64 left = deadline.remainingTime(); left > 0; left = deadline.remainingTime()) {
            m_sink.noticeInterrupts();
            if (RunInterrupt::count() >= 2)
                return;
            m_console.progressTick();
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, slice)));
        }
    }

    RunConsole& m_console;
    ConsoleSink& m_sink;
    Clock::Sleeper m_previous;
};

QString modeText(Mode mode)
{
    return mode == Mode::All ? QStringLiteral("--mode all") : QStringLiteral("--mode data");
}

QString question(qint32 count, Mode mode)
{
    if (mode == Mode::All)
        return QStringLiteral("Delete %1 subscribers (%2) AND remove their Active Directory accounts and "
                              "Exchange mailboxes?  There is no undo.")
            .arg(count)
            .arg(modeText(mode));
    return QStringLiteral("Delete %1 subscribers (%2): remove them from the Orvane database and clean the "
                          "Orvane properties from their directory accounts?")
        .arg(count)
        .arg(modeText(mode));
}

int writeSelection(const Options& options, const SubscriberGridModel& grid, RunConsole& console)
{
    QList<QStringList> kept;
    QStringList leftOut;
    for (const QStringList& row : SelectionExport::checkedRows(grid)) {
        if (SelectionExport::readsBack(row))
            kept.append(row);
        else
            leftOut.append(QLatin1Char('"') + row.value(0) + QLatin1Char('"'));
    }
    if (!leftOut.isEmpty())
        console.message(
            QStringLiteral("%1 subscribers left out, as the CSV import would not find them again "
                           "from their line (a comma, a double quote or a line break in the alias, "
                           "blanks at either end of it, or a line break in any field): %2")
                .arg(leftOut.size())
                .arg(leftOut.join(QStringLiteral(", "))));
    QByteArray bytes = SelectionExport::csv(kept, SelectionExport::extensionHeading());
    if (options.output.isEmpty()) {
        // A pipe into cut or grep must see "Alias" first; a file keeps the mark that spreadsheets read.
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        const bool written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()),
                                         stdout) == static_cast<std::size_t>(bytes.size()) &&
                             std::fflush(stdout) == 0;
        if (!written) {
            console.message(QStringLiteral("cannot write to standard output"));
            return ExitFailures;
        }
    } else {
        QString reason;
        if (!SelectionExport::writeFile(options.output, bytes, &reason)) {
            console.message(QStringLiteral("cannot write the --output file: %1").arg(reason));
            return ExitFailures;
        }
    }
    // Quiet on success; a selection that found nobody is worth a word.
    if (kept.isEmpty() && leftOut.isEmpty())
        console.message(QStringLiteral("no subscribers selected"));
    else if (options.verbose)
        console.message(QStringLiteral("%1 subscribers selected").arg(kept.size()));
    return leftOut.isEmpty() ? ExitDone : ExitFailures;
}

// A results file that lost a row, and why.
QString incomplete(const QString& path, const QString& reason)
{
    return QStringLiteral("results file %1 is incomplete: a row could not be written (%2)")
        .arg(QDir::toNativeSeparators(path), reason);
}

// The summary line's counts: one word per outcome, in a fixed order.
QString outcomeCounts(const std::array<qint32, RunResultsFile::OutcomeCount>& outcomes,
                      std::initializer_list<RunResultsFile::Outcome> which)
{
    QString counts;
    for (const RunResultsFile::Outcome outcome : which)
        counts += QLatin1Char(' ') + RunResultsFile::outcomeText(outcome).replace(QLatin1Char(' '), u'-') +
                  QLatin1Char('=') + QString::number(outcomes[std::size_t(outcome)]);
    return counts;
}

void printLine(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
}

int dryRun(const Options& options, const SubscriberGridModel& grid, ConsoleSink& sink, RunConsole& console,
           int& wouldNot)
{
    const DryRun::Outcome outcome = DryRun::run(
        grid, sink,
        [&](const RunResultsFile::Row& row) {
            if (row.outcome != RunResultsFile::Outcome::WouldDelete)
                ++wouldNot;
        },
        options.results);
    console.endProgress();
    if (outcome.resultsPath.isEmpty()) {
        console.message(
            QStringLiteral("the dry run's results file cannot be created: %1").arg(outcome.failure));
        return ExitFailures;
    }
    // The results file is all a dry run leaves: one with a row missing is no answer.
    if (!outcome.writeFailure.isEmpty())
        console.message(QStringLiteral("the dry run's ") +
                        incomplete(outcome.resultsPath, outcome.writeFailure));
    using O = RunResultsFile::Outcome;
    printLine(QStringLiteral("Results: ") + QDir::toNativeSeparators(outcome.resultsPath));
    printLine(
        QStringLiteral("Summary: dry-run selected=%1 processed=%2")
            .arg(grid.checkedRowCount())
            .arg(outcome.processed) +
        outcomeCounts(outcome.outcomes, {O::WouldDelete, O::NotFound, O::LookupFailed, O::NotAttempted}) +
        QStringLiteral(" ended=") + endedWord(outcome.stopped, false));
    std::fflush(stdout);
    return !outcome.stopped && outcome.writeFailure.isEmpty() && outcome.wouldDelete == grid.checkedRowCount()
               ? ExitDone
               : ExitFailures;
}

int deleteSubscribers(const Options& options, const SubscriberGridModel& grid, RunConsole& console)
{
    const qint32 checked = grid.checkedRowCount();
    if (checked == 0) {
        console.message(QStringLiteral("no subscribers selected: nothing to delete"));
        return ExitDone;
    }
    // A script that names its results file reads it afterwards: better nothing deleted than no file.
    if (!options.results.isEmpty()) {
        const QFileInfo results(options.results);
        if (results.exists() || results.isSymLink()) {
            console.message(
                QStringLiteral("the file given with --results exists, and a results file is never "
                               "written over (nothing deleted)"));
            return ExitUsage;
        }
        if (!QFileInfo(results.absolutePath()).isDir()) {
            console.message(QStringLiteral(
                "the folder of the file given with --results does not exist (nothing deleted)"));
            return ExitUsage;
        }
    }
    if (!options.dryRun && !options.yes) {
        if (!RunConsole::stdinIsTerminal()) {
            console.message(
                QStringLiteral("%1 subscribers selected; without a terminal to ask on, delete needs "
                               "--yes (nothing deleted)")
                    .arg(checked));
            return ExitUsage;
        }
        if (!console.confirm(question(checked, options.mode))) {
            console.message(QStringLiteral("nothing deleted"));
            return ExitRefused;
        }
    }

    const RunInterrupt::Scope interrupts;
    // A dry run's errors are the subscribers it would not delete.
    int wouldNot = 0;
    ConsoleSink sink(console, options.poll, options.inFlight, [&options, &wouldNot] {
        return options.dryRun ? wouldNot : int(Logging::RunLogErrorCount());
    });
    sink.setChecked(checked);
    const ConsoleSleeper sleeper(console, sink);
    if (options.dryRun)
        return dryRun(options, grid, sink, console, wouldNot);

    const qint64 startedMs = Clock::monotonicMs();
    const DeletionRun::Outcome outcome =
        DeletionRun::run(grid, options.mode == Mode::All, sink, options.results, options.inFlight);
    const qint64 tookMs = std::max<qint64>(Clock::monotonicMs() - startedMs, 1);
    console.endProgress();
    if (options.verbose) {
        // What the run asked of the database, for whoever watches its load.
        const qint32 statements = outcome.requests + outcome.polls + outcome.ticketRemovals;
        console.message(QStringLiteral("%1 statements in %2 s, %3 a second: %4 deletion requests, %5 ticket "
                                       "polls (%6 a second), %7 ticket removals")
                            .arg(statements)
                            .arg(double(tookMs) / 1000.0, 0, 'f', 1)
                            .arg(statements * 1000.0 / double(tookMs), 0, 'f', 2)
                            .arg(outcome.requests)
                            .arg(outcome.polls)
                            .arg(outcome.polls * 1000.0 / double(tookMs), 0, 'f', 2)
                            .arg(outcome.ticketRemovals));
    }
    // The deletion page's own messages.
    if (outcome.logFailed) {
        console.message(mymyLoadString(StringIds::RunLogNotCreated)
                            .arg(outcome.logPath, outcome.logFailure.isEmpty()
                                                      ? mymyLoadString(StringIds::UnknownReason)
                                                      : outcome.logFailure));
        return ExitFailures;
    }
    if (!Logging::RunLogWriteFailure().isEmpty())
        console.message(mymyLoadString(StringIds::RunLogIncomplete)
                            .arg(Logging::RunLogPath(), Logging::RunLogWriteFailure()));
    if (!outcome.resultsWriteFailure.isEmpty())
        console.message(QStringLiteral("the ") +
                        incomplete(outcome.resultsPath, outcome.resultsWriteFailure) +
                        QStringLiteral("; the run log has every subscriber"));
    const int errors = Logging::RunLogErrorCount();
    using O = RunResultsFile::Outcome;
    printLine(QStringLiteral("Run log: ") + QDir::toNativeSeparators(Logging::RunLogPath()));
    if (!outcome.resultsPath.isEmpty())
        printLine(QStringLiteral("Results: ") + QDir::toNativeSeparators(outcome.resultsPath));
    printLine(
        QStringLiteral("Summary: selected=%1 processed=%2").arg(checked).arg(outcome.processed) +
        outcomeCounts(outcome.outcomes, {O::Deleted, O::SyncFailed, O::SyncTimedOut, O::Rejected,
                                         O::RequestFailed, O::NotSent, O::OutcomeUnknown, O::NotAttempted}) +
        QStringLiteral(" errors=%1 ended=").arg(errors) + endedWord(outcome.stopped, outcome.unreachable));
    std::fflush(stdout);
    if (outcome.unreachable)
        return ExitTempFail;
    return !outcome.stopped && errors == 0 && outcome.processed == checked ? ExitDone : ExitFailures;
}

} // namespace

int runCulvaneRun(int& argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("culvane-run"));
    RunConsole console;

    const Parsed parsed = parse(QCoreApplication::arguments().mid(1));
    const RunConsole::QtMessages qtMessages(parsed.options.verbose);
    if (!parsed.error.isEmpty()) {
        console.message(parsed.error);
        console.message(QStringLiteral("Try 'culvane-run --help'."));
        return ExitUsage;
    }
    const Options& options = parsed.options;
    if (options.command == Command::Help) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return ExitDone;
    }
    if (options.command == Command::Version) {
        std::printf("culvane-run %s\n", CULVANE_VERSION_TEXT);
        return ExitDone;
    }

    // Culvane's own: its texts, its log folder beside it and the program name in the log's header, so that
    // a run here leaves the same log as the wizard's.
    modLocalize::setProgramLocation(QCoreApplication::applicationDirPath(), QStringLiteral("Culvane"));
    // No window to answer a question: one that would go on answers no.
    const MsgBox::Handler previous =
        MsgBox::setConsoleHandler([&](const QString& text, MsgBox::Buttons buttons, const QString& detail) {
            console.message(detail.isEmpty() ? text
                                             : text + QLatin1Char('\n') + QStringLiteral("    ") + detail);
            switch (buttons) {
            case MsgBox::vbYesNo:
                return MsgBox::vbNo;
            case MsgBox::vbOKCancel:
                return MsgBox::vbCancel;
            default:
                return MsgBox::vbOK;
            }
        });
    (void)previous;

    std::optional<QString> password;
    if (!options.passwordFile.isEmpty()) {
        QString reason;
        password = RunPassword::readPasswordFile(options.passwordFile, &reason);
        if (!password) {
            // Not named: a password given in place of its file would be shown.
            console.message(
                QStringLiteral("cannot read the password file given with --password-file: %1").arg(reason));
            return ExitNoInput;
        }
        if (RunPassword::othersCanRead(options.passwordFile))
            console.message(QStringLiteral("the password file %1 can be read by other users; chmod 600 it")
                                .arg(QDir::toNativeSeparators(options.passwordFile)));
    }

    applyTestTimeouts();
    StartupChecks::Steps steps;
    bool asked = false;
    steps.askPassword = [&](const QString& dataSource, const QString& user) -> std::optional<QString> {
        asked = true;
        if (!password)
            password = console.readSecret(
                QStringLiteral("Password for %1 (data source %2): ").arg(user, dataSource));
        if (!password) {
            console.message(
                QStringLiteral("no password for %1: give --password-file FILE or start on a terminal")
                    .arg(user));
            return std::nullopt;
        }
        if (options.verbose)
            console.message(QStringLiteral("signing in as %1 with the password given").arg(user));
        return password;
    };
    steps.connectionNote = [&](const QString& note) {
        if (options.verbose)
            console.message(note);
    };
    // Something to act on, unlike the notes: shown whether or not --verbose is given.
    steps.connectionWarning = [&](const QString& warning) { console.message(warning); };
    // Only full removal is touched by restricted rights, and that is refused below with its own message.
    steps.restrictedRightsNote = [&](const QString& note) {
        if (options.verbose)
            console.message(note);
    };
    const StartupChecks::Outcome started =
        StartupChecks::run(modLocalize::localizedReport(StringIds::InFrmMainFormLoad), steps);
    if (password && !asked)
        console.message(
            QStringLiteral("the password file is not used: the connection names no user without a password"));
    if (started.refused)
        return ExitRefused;
    if (options.command == Command::Delete && options.mode == Mode::All && started.restrictedRights) {
        console.message(QStringLiteral("--mode all is refused: this installation forces restricted rights"));
        return ExitRefused;
    }

    SubscriberGridModel grid;
    if (const std::optional<int> status = RunSelection::fill(options, grid, console))
        return *status;
    if (options.command == Command::Select)
        return writeSelection(options, grid, console);
    return deleteSubscribers(options, grid, console);
}
