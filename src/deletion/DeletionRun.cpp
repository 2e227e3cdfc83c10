#include "deletion/DeletionRun.h"

#include "deletion/Logging.h"
#include "deletion/RunResultsFile.h"
#include "deletion/SyncTicketWait.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "selection/SubscriberGridModel.h"
#include "server/Command.h"
#include "server/OrvaneVersion.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QDateTime>

#include <optional>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
}

const QString DeletionRun::FullRemovalLine =
    QStringLiteral("**** User has opted to remove objects in AD and Exchange for deleted subscribers ****");
const QString DeletionRun::OrvaneDataOnlyLine = QStringLiteral(
    "**** User has opted to only remove properties from objects in AD for deleted subscribers ****");
const QString DeletionRun::DeletingLine = QStringLiteral("** Deleting Subscriber **");
const QString DeletionRun::SyncCompleteLine = QStringLiteral("    Directory sync complete for subscriber");

QString DeletionRun::syncFailedLine(const QString& alias)
{
    return QStringLiteral("(error)SQL Sync to directory failed when deleting subscriber with alias= ") +
           alias + kCrLf +
           QStringLiteral(
               "You can check the ZAVEvedUda logs in the \\Orvane\\logs directory for more details");
}

QString DeletionRun::requestRejectedLine(const QString& alias, int number, const QString& reason)
{
    return QStringLiteral("(error)The database refused to delete the subscriber with alias= ") + alias +
           QStringLiteral(": ") + QString::number(number) + QStringLiteral(" (") + reason + QLatin1Char(')');
}

QString DeletionRun::requestFailedLine(const QString& alias, int number, const QString& reason)
{
    return QStringLiteral("(error)The request to delete the subscriber with alias= ") + alias +
           QStringLiteral(" failed: ") + QString::number(number) + QStringLiteral(" (") + reason +
           QStringLiteral(").  The database may have carried it out all the same, so its directory sync "
                          "ticket is waited for.");
}

QString DeletionRun::requestNotSentLine(const QString& alias, int number, const QString& reason)
{
    return QStringLiteral("(error)The request to delete the subscriber with alias= ") + alias +
           QStringLiteral(" was not sent: no connection to the database could be opened: ") +
           QString::number(number) + QStringLiteral(" (") + reason +
           QStringLiteral(").  Nothing was deleted; no directory sync ticket is waited for.");
}

QString DeletionRun::stoppedLine(qint32 processed, qint32 checked)
{
    return QStringLiteral("**** Run stopped by the user after %1 of %2 subscribers ****")
        .arg(processed)
        .arg(checked);
}

QString DeletionRun::unreachableStopLine(qint32 processed, qint32 checked, const QString& alias,
                                         qint32 inARow, const QString& reason)
{
    return QStringLiteral(
               "**** Run stopped after %1 of %2 subscribers, at the subscriber with alias= %3: the "
               "database could not be reached for %4 subscribers in a row (%5) ****")
        .arg(processed)
        .arg(checked)
        .arg(alias)
        .arg(inARow)
        .arg(reason);
}

namespace {

// One checked subscriber's deletion: its request, its wait, its lines in the log. No widget, no counters.
class SubscriberDeletion {
public:
    SubscriberDeletion(const ErrorReport& report, bool deleteAll, bool setForceRemoveEAdmin,
                       DeletionRunSink& sink)
        : m_report(report), m_deleteAll(deleteAll), m_setForceRemoveEAdmin(setForceRemoveEAdmin), m_sink(sink)
    {
    }

    struct Done {
        RunResultsFile::Row row;
        // No statement for this subscriber reached the database, or the last one that tried did not: the
        // request was not sent, or it and its wait both failed on this side.
        bool unreached = false;
        QString unreachedReason;
    };

    Done run(RunResultsFile::Row subscriber)
    {
        Done done;
        done.row = std::move(subscriber);
        RunResultsFile::Row& result = done.row;
        result.started = QDateTime::currentDateTime();
        const QString& alias = result.alias;
        Logging::WriteLogLine(DeletionRun::DeletingLine);
        Logging::WriteLogLine(QStringLiteral("    Alias=") + alias);
        Logging::WriteLogLine(QStringLiteral("    ObjectID=") + result.objectId);

        std::optional<Command> request;
        QString ticket;
        m_report.step([&] {
            ticket = Module1::NewTicketGuid();
            request = Statements::deleteSubscriberCommand(modOrvaneDB::DbConnectionString(), result.objectId,
                                                          m_deleteAll, m_setForceRemoveEAdmin, ticket);
        });
        std::optional<CulvaneError> failure;
        try {
            if (request)
                request->Execute();
        } catch (const CulvaneError& error) {
            failure = error;
            m_report.report(error);
        }
        const CulvaneError::Statement answered =
            failure ? failure->statement() : CulvaneError::Statement::None;
        if (answered == CulvaneError::Statement::NotSent) {
            // It never left this machine: there is no ticket to wait for, and the subscriber is as it was.
            Logging::WriteLogLine(
                DeletionRun::requestNotSentLine(alias, failure->number(), failure->description()));
            result.outcome = RunResultsFile::Outcome::NotSent;
            result.detail = failure->description();
            done.unreached = true;
            done.unreachedReason = failure->description();
        } else if (answered == CulvaneError::Statement::Refused) {
            // The database answered with its refusal, so no ticket was registered: waiting for it would
            // only end in a time-out that blames the directory synchronisation.
            Logging::WriteLogLine(
                DeletionRun::requestRejectedLine(alias, failure->number(), failure->description()));
            result.outcome = RunResultsFile::Outcome::Rejected;
            result.detail = failure->description();
            result.ticket = ticket;
        } else {
            // A request that failed on this side after it was sent (a timeout, a lost connection) may have
            // reached the database and been carried out: its ticket tells.
            result.ticket = ticket;
            if (failure)
                Logging::WriteLogLine(
                    DeletionRun::requestFailedLine(alias, failure->number(), failure->description()));
            wait(ticket, !failure, result);
            if (failure) {
                result.detail = RunResultsFile::requestFailedDetail(failure->description(), result.outcome,
                                                                    result.detail);
                result.outcome = RunResultsFile::Outcome::RequestFailed;
                // The request's line counted this subscriber's error; the wait only says what it found.
            }
            done.unreached = m_waitUnreached;
            done.unreachedReason = m_waitFailure;
        }
        result.finished = QDateTime::currentDateTime();
        return done;
    }

private:
    // requestAnswered: the request went through, so a failed wait is this subscriber's one error.
    void wait(const QString& ticket, bool requestAnswered, RunResultsFile::Row& result)
    {
        Module1::SyncWaitDetail wait;
        m_waitUnreached = false;
        m_waitFailure.clear();
        if (Module1::WaitForSyncToFinished(ticket, &wait, m_sink.syncSchedule())) {
            Logging::WriteLogLine(DeletionRun::SyncCompleteLine);
            result.outcome = RunResultsFile::Outcome::Deleted;
            return;
        }
        const QString failed = DeletionRun::syncFailedLine(result.alias);
        Logging::WriteLogLine(requestAnswered ? failed : failed.mid(kErrorMarker.size()));
        switch (wait.ending) {
        case Module1::SyncWaitDetail::TimedOut:
            result.outcome = RunResultsFile::Outcome::SyncTimedOut;
            break;
        case Module1::SyncWaitDetail::Abandoned:
            // The request was sent: the subscriber may be gone or not.
            result.outcome = RunResultsFile::Outcome::OutcomeUnknown;
            result.detail = wait.failure;
            break;
        case Module1::SyncWaitDetail::ResultRead:
            result.outcome = RunResultsFile::Outcome::SyncFailed;
            result.detail = wait.result;
            break;
        case Module1::SyncWaitDetail::Unreadable:
            result.outcome = RunResultsFile::Outcome::SyncFailed;
            result.detail = wait.failure;
            m_waitUnreached = wait.failureStatement == CulvaneError::Statement::NotSent ||
                              wait.failureStatement == CulvaneError::Statement::Unanswered;
            m_waitFailure = wait.failure;
            break;
        }
    }

    static inline const QString kErrorMarker = QStringLiteral("(error)");

    const ErrorReport& m_report;
    bool m_deleteAll;
    bool m_setForceRemoveEAdmin;
    DeletionRunSink& m_sink;
    bool m_waitUnreached = false;
    QString m_waitFailure;
};

} // namespace

DeletionRun::Outcome DeletionRun::run(const SubscriberGridModel& grid, bool deleteAll, DeletionRunSink& sink,
                                      const QString& resultsPath)
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InCmdDeleteSubscribersClick);
    Outcome outcome;

    report.step([&] { outcome.logPath = Logging::GenerateNewLogFileName(); });
    report.step([&] { Logging::OpenRunLog(outcome.logPath, false); });
    // Deleting without a record of it would leave the administrator nothing to check afterwards.
    if (!Logging::RunLogIsOpen()) {
        outcome.logFailed = true;
        outcome.logFailure = Logging::RunLogOpenFailure();
        Logging::CloseRunLog();
        return outcome;
    }

    // The results file only adds to the log: without it the run still has its full record.
    RunResultsFile results;
    if (results.open(resultsPath.isEmpty() ? RunResultsFile::pathFor(outcome.logPath) : resultsPath))
        outcome.resultsPath = results.path();
    else
        sink.resultsFileUnavailable(results.path(), results.failure());
    const auto record = [&](const RunResultsFile::Row& row) {
        results.write(row);
        ++outcome.outcomes[std::size_t(row.outcome)];
    };

    Logging::WriteLogLine(kCrLf + (deleteAll ? FullRemovalLine : OrvaneDataOnlyLine));

    const qint32 rows = grid.Rows() - 1;
    sink.runStarted(rows);
    const int aliasColumn = grid.ColIndex(QStringLiteral("Alias"));
    const int objectIdColumn = grid.ColIndex(QStringLiteral("ObjectID"));
    const int extensionColumn = grid.ColIndex(QStringLiteral("Extension"));

    bool setForceRemoveEAdmin = true;
    report.step([&] { setForceRemoveEAdmin = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0); });
    SubscriberDeletion deletion(report, deleteAll, setForceRemoveEAdmin, sink);

    // A check box that cannot be read counts as checked, as every failed condition does.
    const auto checkedRow = [&](qint32 row) {
        bool checked = true;
        report.step([&] { checked = grid.isChecked(row); });
        return checked;
    };
    const auto subscriberAt = [&](qint32 row) {
        RunResultsFile::Row subscriber;
        report.step([&] {
            subscriber.alias = grid.TextMatrix(row, aliasColumn);
            subscriber.objectId = grid.TextMatrix(row, objectIdColumn);
        });
        // The extension only helps to recognise the row; a cell that cannot be read stays empty unreported.
        try {
            subscriber.extension = grid.TextMatrix(row, extensionColumn);
        } catch (const CulvaneError&) {
        }
        return subscriber;
    };

    qint32 processed = 0;
    // Subscribers in a row for whom the database could not be reached.
    qint32 unreached = 0;
    QString unreachedAlias;
    QString unreachedReason;
    qint32 row = 1;
    for (; row <= rows; ++row) {
        if (checkedRow(row)) {
            // The subscriber before has had its wait; this one is not begun.
            if (sink.stopRequested()) {
                outcome.stopped = true;
                break;
            }
            const RunResultsFile::Row subscriber = subscriberAt(row);
            sink.subscriberStarted(subscriber.alias);
            SubscriberDeletion::Done done = deletion.run(subscriber);
            unreached = done.unreached ? unreached + 1 : 0;
            if (unreached >= UnreachableInARow) {
                const bool notSent = done.row.outcome == RunResultsFile::Outcome::NotSent;
                const bool more = [&] {
                    for (qint32 next = row + 1; next <= rows; ++next) {
                        if (checkedRow(next))
                            return true;
                    }
                    return false;
                }();
                // Nothing to try again and nothing left to stop: the run ends here all the same.
                using Unreachable = DeletionRunSink::Unreachable;
                const Unreachable answer =
                    notSent || more
                        ? sink.databaseUnreachable(unreached, done.row.alias, done.unreachedReason, notSent)
                        : Unreachable::Stop;
                if (answer == Unreachable::Retry && notSent) {
                    // The same subscriber again; its failed attempt stays in the log, its row waits, and it
                    // counts once in the row however often it is tried.
                    --unreached;
                    --row;
                    continue;
                }
                if (answer == Unreachable::Stop) {
                    record(done.row);
                    sink.subscribersProcessed(++processed);
                    sink.rowsVisited(row);
                    outcome.stopped = outcome.unreachable = true;
                    unreachedAlias = done.row.alias;
                    unreachedReason = done.unreachedReason;
                    ++row;
                    break;
                }
            }
            record(done.row);
            sink.subscribersProcessed(++processed);
        }
        sink.rowsVisited(row);
    }
    outcome.processed = processed;

    if (outcome.stopped) {
        // The rows left stay checked in the grid; the results file names each of them.
        for (; row <= rows; ++row) {
            if (!checkedRow(row))
                continue;
            ++outcome.notAttempted;
            record(subscriberAt(row));
        }
        const qint32 checked = processed + outcome.notAttempted;
        if (outcome.unreachable)
            Logging::WriteLogLine(
                unreachableStopLine(processed, checked, unreachedAlias, unreached, unreachedReason));
        else
            Logging::WriteLogLine(stoppedLine(processed, checked));
    }
    outcome.resultsWriteFailure = results.writeFailure();
    results.close();
    Logging::CloseRunLog();
    return outcome;
}
