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

QString DeletionRun::stoppedLine(qint32 processed, qint32 checked)
{
    return QStringLiteral("**** Run stopped by the user after %1 of %2 subscribers ****")
        .arg(processed)
        .arg(checked);
}

DeletionRun::Outcome DeletionRun::run(const SubscriberGridModel& grid, bool deleteAll, DeletionRunSink& sink)
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
    if (results.open(RunResultsFile::pathFor(outcome.logPath)))
        outcome.resultsPath = results.path();
    else
        sink.resultsFileUnavailable(results.path(), results.failure());

    Logging::WriteLogLine(kCrLf + (deleteAll ? FullRemovalLine : OrvaneDataOnlyLine));

    const qint32 rows = grid.Rows() - 1;
    sink.runStarted(rows);
    const int aliasColumn = grid.ColIndex(QStringLiteral("Alias"));
    const int objectIdColumn = grid.ColIndex(QStringLiteral("ObjectID"));
    const int extensionColumn = grid.ColIndex(QStringLiteral("Extension"));
    const QString& connection = modOrvaneDB::DbConnectionString();

    bool setForceRemoveEAdmin = true;
    report.step([&] { setForceRemoveEAdmin = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0); });

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
    qint32 row = 1;
    for (; row <= rows; ++row) {
        if (checkedRow(row)) {
            // The subscriber before has had its wait; this one is not begun.
            if (sink.stopRequested()) {
                outcome.stopped = true;
                break;
            }
            RunResultsFile::Row result = subscriberAt(row);
            result.started = QDateTime::currentDateTime();
            const QString& alias = result.alias;
            const QString& objectId = result.objectId;
            sink.subscriberStarted(alias);
            Logging::WriteLogLine(DeletingLine);
            Logging::WriteLogLine(QStringLiteral("    Alias=") + alias);
            Logging::WriteLogLine(QStringLiteral("    ObjectID=") + objectId);

            std::optional<Command> request;
            QString ticket;
            report.step([&] {
                ticket = Module1::NewTicketGuid();
                request = Statements::deleteSubscriberCommand(connection, objectId, deleteAll,
                                                              setForceRemoveEAdmin, ticket);
            });
            std::optional<CulvaneError> failure;
            try {
                if (request)
                    request->Execute();
            } catch (const CulvaneError& error) {
                failure = error;
                report.report(error);
            }
            result.ticket = ticket;
            if (failure && failure->statement() == CulvaneError::Statement::Refused) {
                // The database answered with its refusal, so no ticket was registered: waiting for it would
                // only end in a time-out that blames the directory synchronisation.
                Logging::WriteLogLine(requestRejectedLine(alias, failure->number(), failure->description()));
                result.outcome = RunResultsFile::Outcome::Rejected;
                result.detail = failure->description();
            } else {
                // A request that failed on this side (a timeout, a lost connection) may have reached the
                // database and been carried out: its ticket tells.
                if (failure)
                    Logging::WriteLogLine(
                        requestFailedLine(alias, failure->number(), failure->description()));
                Module1::SyncWaitDetail wait;
                if (Module1::WaitForSyncToFinished(ticket, &wait, sink.syncSchedule())) {
                    Logging::WriteLogLine(SyncCompleteLine);
                    result.outcome = RunResultsFile::Outcome::Deleted;
                } else {
                    Logging::WriteLogLine(syncFailedLine(alias));
                    result.outcome = wait.ending == Module1::SyncWaitDetail::TimedOut
                                         ? RunResultsFile::Outcome::SyncTimedOut
                                         : RunResultsFile::Outcome::SyncFailed;
                    result.detail =
                        wait.ending == Module1::SyncWaitDetail::ResultRead ? wait.result : wait.failure;
                }
                if (failure) {
                    result.detail = RunResultsFile::requestFailedDetail(failure->description(),
                                                                        result.outcome, result.detail);
                    result.outcome = RunResultsFile::Outcome::RequestFailed;
                }
            }
            result.finished = QDateTime::currentDateTime();
            results.write(result);
            sink.subscribersProcessed(++processed);
        }
        sink.rowsVisited(row);
    }
    outcome.processed = processed;

    if (outcome.stopped) {
        // The rows left stay checked in the grid; the results file names each of them.
        qint32 checked = processed;
        for (; row <= rows; ++row) {
            if (!checkedRow(row))
                continue;
            ++checked;
            results.write(subscriberAt(row));
        }
        Logging::WriteLogLine(stoppedLine(processed, checked));
    }
    outcome.resultsWriteFailure = results.writeFailure();
    results.close();
    Logging::CloseRunLog();
    return outcome;
}
