#pragma once

#include "deletion/SyncTicketWait.h"

#include "deletion/RunResultsFile.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>

class SubscriberGridModel;

// What the deletion run tells the page as it goes: the progress bar and the counter.
class DeletionRunSink {
public:
    virtual ~DeletionRunSink() = default;
    // The run has begun: the bar's maximum is `rows`, its value and the processed count are 0.
    virtual void runStarted(qint32 rows) = 0;
    // Rows 1 to `visited` have been visited, checked or not.
    virtual void rowsVisited(qint32 visited) = 0;
    // `processed` checked rows have had their deletion steps, whatever their outcome.
    virtual void subscribersProcessed(qint32 processed) = 0;
    // A checked row's deletion steps begin.
    virtual void subscriberStarted(const QString& /*alias*/) {}
    // The subscribers whose requests were sent and whose directory sync is waited for, in the order sent.
    virtual void inFlight(const QStringList& /*aliases*/) {}
    // Asked before each checked row: true ends the run there, the rows left not attempted.
    virtual bool stopRequested() { return false; }
    // The results file could not be created; the run goes on without it.
    virtual void resultsFileUnavailable(const QString& /*path*/, const QString& /*reason*/) {}
    // How each subscriber's wait polls: the wizard's schedule unless the caller chooses another.
    virtual Module1::SyncPollSchedule syncSchedule() { return {}; }

    // The database could not be reached for `inARow` subscribers in a row, the last with the given alias;
    // `reason` is the driver's. `retrySame`: that subscriber's request was never sent, so Retry sends it
    // again; otherwise Retry goes on with the next. Stop ends the run as Stop does, the rest not attempted.
    enum class Unreachable { Retry, Stop };
    virtual Unreachable databaseUnreachable(qint32 /*inARow*/, const QString& /*alias*/,
                                            const QString& /*reason*/, bool /*retrySame*/)
    {
        return Unreachable::Stop;
    }
};

// The deletion of every checked row of the selection page's grid, with its run log, from the log's
// opening to its closing. No widget: the page asks for confirmation before and reports after. Rows and
// counts are 32-bit, so grids beyond 32,767 rows are covered.
class DeletionRun {
public:
    struct Outcome {
        // The run log could not be created: nothing was deleted. The path and the system's reason.
        bool logFailed = false;
        QString logPath;
        QString logFailure;
        qint32 processed = 0;
        // The run ended at a checked row because Stop was pressed, or because the database could not be
        // reached (unreachable).
        bool stopped = false;
        bool unreachable = false;
        // Checked subscribers left when the run was stopped.
        qint32 notAttempted = 0;
        // The results file; empty when it could not be created.
        QString resultsPath;
        // Why a row of the results file could not be written; empty when every row was.
        QString resultsWriteFailure;
        // How many subscribers ended with each outcome, not attempted included.
        std::array<qint32, RunResultsFile::OutcomeCount> outcomes{};
        qint32 count(RunResultsFile::Outcome outcome) const { return outcomes[std::size_t(outcome)]; }
        // The statements the run sent: deletion requests that left this machine, ticket polls, removals.
        qint32 requests = 0;
        qint32 polls = 0;
        qint32 ticketRemovals = 0;
    };

    // How many subscribers' directory syncs may be waited for at once: the next request goes out as soon as
    // fewer wait. 1 is one subscriber after the other.
    static constexpr int MaxInFlight = 16;

    // Subscribers in a row for whom the database could not be reached before the run stops.
    static constexpr qint32 UnreachableInARow = 3;

    // deleteAll: full removal (directory account and mailbox too) rather than Orvane data only. The results
    // file goes to resultsPath, or beside the run log when it is empty. inFlight: 1 to MaxInFlight. With
    // more than one, the requests still go one at a time, in order, on the one connection; a subscriber's
    // lines stand together in the log once its outcome is known, after one line when its request went out.
    static Outcome run(const SubscriberGridModel& grid, bool deleteAll, DeletionRunSink& sink,
                       const QString& resultsPath = QString(), int inFlight = 1);

    // The run's fixed log texts.
    static const QString FullRemovalLine;
    static const QString OrvaneDataOnlyLine;
    static const QString DeletingLine;
    static const QString SyncCompleteLine;
    static QString syncFailedLine(const QString& alias);
    // The database answered the request with an error: nothing is waited for.
    static QString requestRejectedLine(const QString& alias, int number, const QString& reason);
    // The request failed on this side (a command timeout, a lost connection): its ticket is waited for.
    static QString requestFailedLine(const QString& alias, int number, const QString& reason);
    // No connection could be opened for the request: nothing is waited for.
    static QString requestNotSentLine(const QString& alias, int number, const QString& reason);
    // The run ended because the database could not be reached for `inARow` subscribers up to `alias`.
    static QString unreachableStopLine(qint32 processed, qint32 checked, const QString& alias, qint32 inARow,
                                       const QString& reason);
    // With several in flight: the request went out and its ticket is waited for.
    static QString requestSentLine(const QString& alias, const QString& ticket);
    // `processed` of the `checked` subscribers had their deletion steps when Stop ended the run.
    static QString stoppedLine(qint32 processed, qint32 checked);
};
