#pragma once

#include "deletion/SyncTicketWait.h"

#include <QString>
#include <QtGlobal>

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
    // Asked before each checked row: true ends the run there, the rows left not attempted.
    virtual bool stopRequested() { return false; }
    // The results file could not be created; the run goes on without it.
    virtual void resultsFileUnavailable(const QString& /*path*/, const QString& /*reason*/) {}
    // How each subscriber's wait polls: the wizard's schedule unless the caller chooses another.
    virtual Module1::SyncPollSchedule syncSchedule() { return {}; }
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
        // The run ended at a checked row because Stop was pressed.
        bool stopped = false;
        // The results file beside the log; empty when it could not be created.
        QString resultsPath;
        // Why a row of the results file could not be written; empty when every row was.
        QString resultsWriteFailure;
    };

    // deleteAll: full removal (directory account and mailbox too) rather than Orvane data only.
    static Outcome run(const SubscriberGridModel& grid, bool deleteAll, DeletionRunSink& sink);

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
    // `processed` of the `checked` subscribers had their deletion steps when Stop ended the run.
    static QString stoppedLine(qint32 processed, qint32 checked);
};
