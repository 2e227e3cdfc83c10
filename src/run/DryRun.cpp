#include "run/DryRun.h"

#include "deletion/DeletionRun.h"
#include "deletion/Logging.h"
#include "ports/CulvaneError.h"
#include "selection/SubscriberGridModel.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

// A new file beside the run logs, never over an existing one: a second dry run in the same second takes
// "_2", then "_3".
bool openResults(RunResultsFile& results, QString* failure)
{
    const QString folder = Logging::LogFolder();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        *failure = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HH_mm_ss"));
    for (int n = 1; n < 1000; ++n) {
        const QString path = folder + QStringLiteral("/Culvane_DryRun_") + stamp +
                             (n > 1 ? QStringLiteral("_%1").arg(n) : QString()) + QStringLiteral(".csv");
        if (results.open(path))
            return true;
        if (!QFileInfo::exists(path)) {
            *failure = QDir::toNativeSeparators(path) + QStringLiteral(": ") + results.failure();
            return false;
        }
    }
    *failure = QStringLiteral("too many dry runs in one second");
    return false;
}

void lookUp(RunResultsFile::Row& row)
{
    Recordset records;
    try {
        records.Open(DryRun::lookupStatement(row.objectId), modOrvaneDB::DbConnectionString());
        const bool found = !records.EOF_();
        records.Close();
        row.outcome = found ? RunResultsFile::Outcome::WouldDelete : RunResultsFile::Outcome::NotFound;
        if (!found)
            row.detail = QStringLiteral("no subscriber with this ObjectID");
    } catch (const CulvaneError& error) {
        row.outcome = RunResultsFile::Outcome::LookupFailed;
        row.detail = error.description();
    }
}

} // namespace

namespace DryRun {

QString lookupStatement(const QString& objectId)
{
    return QStringLiteral("SELECT vw_Subscriber.SubscriberObjectID, vw_Subscriber.Alias FROM vw_Subscriber "
                          "WHERE vw_Subscriber.SubscriberObjectID='") +
           Statements::quoted(objectId) + QLatin1Char('\'');
}

Outcome run(const SubscriberGridModel& grid, DeletionRunSink& sink,
            const std::function<void(const RunResultsFile::Row&)>& looked, const QString& resultsPath)
{
    Outcome outcome;
    RunResultsFile results;
    if (!resultsPath.isEmpty()) {
        if (!results.open(resultsPath)) {
            outcome.failure =
                QDir::toNativeSeparators(resultsPath) + QStringLiteral(": ") + results.failure();
            return outcome;
        }
    } else if (!openResults(results, &outcome.failure)) {
        return outcome;
    }
    outcome.resultsPath = results.path();

    const qint32 rows = grid.Rows() - 1;
    sink.runStarted(rows);
    const int aliasColumn = grid.ColIndex(QStringLiteral("Alias"));
    const int objectIdColumn = grid.ColIndex(QStringLiteral("ObjectID"));
    const int extensionColumn = grid.ColIndex(QStringLiteral("Extension"));
    const auto rowAt = [&](qint32 row) {
        RunResultsFile::Row result;
        result.alias = grid.TextMatrix(row, aliasColumn);
        result.objectId = grid.TextMatrix(row, objectIdColumn);
        result.extension = grid.TextMatrix(row, extensionColumn);
        return result;
    };
    for (qint32 row = 1; row <= rows; ++row) {
        if (!grid.isChecked(row)) {
            sink.rowsVisited(row);
            continue;
        }
        if (!outcome.stopped && sink.stopRequested())
            outcome.stopped = true;
        RunResultsFile::Row result = rowAt(row);
        if (!outcome.stopped) {
            result.started = QDateTime::currentDateTime();
            lookUp(result);
            result.finished = QDateTime::currentDateTime();
            if (result.outcome == RunResultsFile::Outcome::WouldDelete)
                ++outcome.wouldDelete;
        }
        results.write(result);
        ++outcome.outcomes[std::size_t(result.outcome)];
        if (!outcome.stopped) {
            if (looked)
                looked(result);
            sink.subscribersProcessed(++outcome.processed);
            sink.rowsVisited(row);
        }
    }
    outcome.writeFailure = results.writeFailure();
    results.close();
    return outcome;
}

} // namespace DryRun
