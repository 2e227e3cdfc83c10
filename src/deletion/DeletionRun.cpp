#include "deletion/DeletionRun.h"

#include "deletion/Logging.h"
#include "deletion/SyncTicketWait.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "selection/SubscriberGridModel.h"
#include "server/Command.h"
#include "server/OrvaneVersion.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

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

    Logging::WriteLogLine(kCrLf + (deleteAll ? FullRemovalLine : OrvaneDataOnlyLine));

    const qint32 rows = grid.Rows() - 1;
    sink.runStarted(rows);
    const int aliasColumn = grid.ColIndex(QStringLiteral("Alias"));
    const int objectIdColumn = grid.ColIndex(QStringLiteral("ObjectID"));
    const QString& connection = modOrvaneDB::DbConnectionString();

    bool setForceRemoveEAdmin = true;
    report.step([&] { setForceRemoveEAdmin = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0); });

    qint32 processed = 0;
    for (qint32 row = 1; row <= rows; ++row) {
        // A check box that cannot be read counts as checked, as every failed condition does.
        bool checked = true;
        report.step([&] { checked = grid.isChecked(row); });
        if (checked) {
            QString alias;
            QString objectId;
            report.step([&] {
                alias = grid.TextMatrix(row, aliasColumn);
                objectId = grid.TextMatrix(row, objectIdColumn);
            });
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
            std::optional<CulvaneError> rejected;
            try {
                if (request)
                    request->Execute();
            } catch (const CulvaneError& error) {
                rejected = error;
                report.report(error);
            }
            if (rejected) {
                // No ticket was registered: waiting for it would only end in a time-out that blames the
                // directory synchronisation. The database's own reason is what the log needs.
                Logging::WriteLogLine(
                    requestRejectedLine(alias, rejected->number(), rejected->description()));
            } else if (Module1::WaitForSyncToFinished(ticket)) {
                Logging::WriteLogLine(SyncCompleteLine);
            } else {
                Logging::WriteLogLine(syncFailedLine(alias));
            }
            sink.subscribersProcessed(++processed);
        }
        sink.rowsVisited(row);
    }
    outcome.processed = processed;
    Logging::CloseRunLog();
    return outcome;
}
