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

#include <algorithm>

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

QString DeletionRun::requestSentLine(const QString& alias, const QString& ticket)
{
    return QStringLiteral("    Request sent for alias= ") + alias +
           QStringLiteral(", waiting for directory sync (ticket ") + ticket + QLatin1Char(')');
}

namespace {

// One checked subscriber's deletion: its request, the end of its wait, its lines in the log. No widget, no
// counters. One at a time (`together`), the lines are written as the steps go, as they always were; with
// several in flight, a line when the request went out and the whole block once the outcome is known, so
// that a subscriber's lines stand together.
class SubscriberDeletion {
public:
    SubscriberDeletion(const ErrorReport& report, bool deleteAll, bool setForceRemoveEAdmin, bool together)
        : m_report(report), m_deleteAll(deleteAll), m_setForceRemoveEAdmin(setForceRemoveEAdmin),
          m_together(together)
    {
    }

    struct Done {
        RunResultsFile::Row row;
        // No statement for this subscriber reached the database, or the last one that tried did not: the
        // request was not sent, or it and its wait both failed on this side.
        bool unreached = false;
        QString unreachedReason;
    };

    // A request whose ticket is waited for.
    struct Sent {
        RunResultsFile::Row row;
        // The request failed on this side after it was sent.
        std::optional<CulvaneError> failure;
    };

    // Sends the request. True: its ticket is to be waited for (`sent`); false: the subscriber is done.
    bool send(RunResultsFile::Row subscriber, Done& done, Sent& sent)
    {
        RunResultsFile::Row result = std::move(subscriber);
        result.started = QDateTime::currentDateTime();
        if (m_together)
            writeHeading(result);

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
            if (!m_together)
                writeHeading(result);
            Logging::WriteLogLine(
                DeletionRun::requestNotSentLine(result.alias, failure->number(), failure->description()));
            result.outcome = RunResultsFile::Outcome::NotSent;
            result.detail = failure->description();
            result.finished = QDateTime::currentDateTime();
            done = Done{result, true, failure->description()};
            return false;
        }
        ++m_sentRequests;
        if (answered == CulvaneError::Statement::Refused) {
            // The database answered with its refusal, so no ticket was registered: waiting for it would
            // only end in a time-out that blames the directory synchronisation.
            if (!m_together)
                writeHeading(result);
            Logging::WriteLogLine(
                DeletionRun::requestRejectedLine(result.alias, failure->number(), failure->description()));
            result.outcome = RunResultsFile::Outcome::Rejected;
            result.detail = failure->description();
            result.ticket = ticket;
            result.finished = QDateTime::currentDateTime();
            done = Done{result, false, QString()};
            return false;
        }
        // A request that failed on this side after it was sent (a timeout, a lost connection) may have
        // reached the database and been carried out: its ticket tells.
        result.ticket = ticket;
        if (m_together && failure)
            Logging::WriteLogLine(
                DeletionRun::requestFailedLine(result.alias, failure->number(), failure->description()));
        if (!m_together)
            Logging::WriteLogLine(DeletionRun::requestSentLine(result.alias, ticket));
        sent = Sent{result, failure};
        return true;
    }

    // The wait for a sent request's ticket has ended.
    Done finish(const Sent& sent, const Module1::SyncTicketGroup::Ended& wait)
    {
        Done done;
        done.row = sent.row;
        RunResultsFile::Row& result = done.row;
        const std::optional<CulvaneError>& failure = sent.failure;
        if (!m_together) {
            writeHeading(result);
            if (failure)
                Logging::WriteLogLine(
                    DeletionRun::requestFailedLine(result.alias, failure->number(), failure->description()));
        }
        if (!wait.logLine.isEmpty())
            Logging::WriteLogLine(wait.logLine);
        // The request went through, so a failed wait is this subscriber's one error; otherwise the request's
        // line counted it and the wait only says what it found.
        const bool requestAnswered = !failure;
        if (wait.outcome) {
            Logging::WriteLogLine(DeletionRun::SyncCompleteLine);
            result.outcome = RunResultsFile::Outcome::Deleted;
        } else {
            const QString failed = DeletionRun::syncFailedLine(result.alias);
            Logging::WriteLogLine(requestAnswered ? failed : failed.mid(kErrorMarker.size()));
            const Module1::SyncWaitDetail& ended = wait.detail;
            switch (ended.ending) {
            case Module1::SyncWaitDetail::TimedOut:
                result.outcome = RunResultsFile::Outcome::SyncTimedOut;
                break;
            case Module1::SyncWaitDetail::Abandoned:
                // The request was sent: the subscriber may be gone or not.
                result.outcome = RunResultsFile::Outcome::OutcomeUnknown;
                result.detail = ended.failure;
                break;
            case Module1::SyncWaitDetail::ResultRead:
                result.outcome = RunResultsFile::Outcome::SyncFailed;
                result.detail = ended.result;
                break;
            case Module1::SyncWaitDetail::Unreadable:
                result.outcome = RunResultsFile::Outcome::SyncFailed;
                result.detail = ended.failure;
                done.unreached = ended.failureStatement == CulvaneError::Statement::NotSent ||
                                 ended.failureStatement == CulvaneError::Statement::Unanswered;
                done.unreachedReason = ended.failure;
                break;
            }
        }
        if (failure) {
            result.detail =
                RunResultsFile::requestFailedDetail(failure->description(), result.outcome, result.detail);
            result.outcome = RunResultsFile::Outcome::RequestFailed;
        }
        result.finished = QDateTime::currentDateTime();
        return done;
    }

    qint32 sentRequests() const { return m_sentRequests; }

private:
    static void writeHeading(const RunResultsFile::Row& subscriber)
    {
        Logging::WriteLogLine(DeletionRun::DeletingLine);
        Logging::WriteLogLine(QStringLiteral("    Alias=") + subscriber.alias);
        Logging::WriteLogLine(QStringLiteral("    ObjectID=") + subscriber.objectId);
    }

    static inline const QString kErrorMarker = QStringLiteral("(error)");

    const ErrorReport& m_report;
    bool m_deleteAll;
    bool m_setForceRemoveEAdmin;
    bool m_together;
    qint32 m_sentRequests = 0;
};

} // namespace

DeletionRun::Outcome DeletionRun::run(const SubscriberGridModel& grid, bool deleteAll, DeletionRunSink& sink,
                                      const QString& resultsPath, int inFlight)
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InCmdDeleteSubscribersClick);
    Outcome outcome;
    const int limit = std::clamp(inFlight, 1, MaxInFlight);

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
    // Each row as its outcome arrives, so that a run that is killed keeps them; by row once the run ends.
    QList<std::pair<qint32, RunResultsFile::Row>> recorded;
    const auto record = [&](qint32 row, const RunResultsFile::Row& result) {
        results.write(result);
        recorded.append({row, result});
        ++outcome.outcomes[std::size_t(result.outcome)];
    };

    Logging::WriteLogLine(kCrLf + (deleteAll ? FullRemovalLine : OrvaneDataOnlyLine));

    const qint32 rows = grid.Rows() - 1;
    sink.runStarted(rows);
    const int aliasColumn = grid.ColIndex(QStringLiteral("Alias"));
    const int objectIdColumn = grid.ColIndex(QStringLiteral("ObjectID"));
    const int extensionColumn = grid.ColIndex(QStringLiteral("Extension"));

    bool setForceRemoveEAdmin = true;
    report.step([&] { setForceRemoveEAdmin = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0); });
    SubscriberDeletion deletion(report, deleteAll, setForceRemoveEAdmin, limit == 1);
    Module1::SyncTicketGroup waits(sink.syncSchedule());

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

    struct Pending {
        qint32 row;
        SubscriberDeletion::Sent sent;
    };
    // In the order sent, which is the order of the waits.
    QList<Pending> pending;
    qint32 processed = 0;
    // Subscribers in a row, by outcome, for whom the database could not be reached.
    qint32 unreached = 0;
    QString unreachedAlias;
    QString unreachedReason;
    // The next row to visit; the rows before it are done or in flight.
    qint32 next = 1;
    // The database could not be reached and the run ends: no further request, and no wait goes on.
    bool ending = false;

    const auto showProgress = [&] { sink.rowsVisited(next - 1 - qint32(pending.size())); };
    const auto showInFlight = [&] {
        QStringList aliases;
        for (const Pending& waiting : std::as_const(pending))
            aliases.append(waiting.sent.row.alias);
        sink.inFlight(aliases);
    };
    enum class After { GoOn, Retry, Stop };
    // A subscriber's outcome has arrived: recorded, unless the database's absence asks to send it again.
    const auto arrived = [&](qint32 row, const SubscriberDeletion::Done& done) {
        unreached = done.unreached ? unreached + 1 : 0;
        if (unreached >= UnreachableInARow) {
            const bool notSent = done.row.outcome == RunResultsFile::Outcome::NotSent;
            const bool more = [&] {
                for (qint32 later = next; later <= rows; ++later) {
                    if (checkedRow(later))
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
                return After::Retry;
            }
            if (answer == Unreachable::Stop) {
                record(row, done.row);
                sink.subscribersProcessed(++processed);
                outcome.stopped = outcome.unreachable = true;
                unreachedAlias = done.row.alias;
                unreachedReason = done.unreachedReason;
                return After::Stop;
            }
        }
        record(row, done.row);
        sink.subscribersProcessed(++processed);
        return After::GoOn;
    };
    const auto waitEnded = [&](const Module1::SyncTicketGroup::Ended& wait) {
        const auto at = std::find_if(pending.begin(), pending.end(), [&](const Pending& waiting) {
            return waiting.sent.row.ticket == wait.ticket;
        });
        if (at == pending.end())
            return;
        const Pending done = *at;
        pending.erase(at);
        if (wait.detail.ending == Module1::SyncWaitDetail::ResultRead)
            ++outcome.ticketRemovals;
        const SubscriberDeletion::Done finished = deletion.finish(done.sent, wait);
        if (ending) {
            // The run is stopping already: this outcome is only recorded.
            record(done.row, finished.row);
            sink.subscribersProcessed(++processed);
        } else if (arrived(done.row, finished) == After::Stop) {
            ending = true;
        }
    };

    for (;;) {
        while (!ending && !outcome.stopped && pending.size() < limit && next <= rows) {
            const qint32 row = next;
            if (!checkedRow(row)) {
                ++next;
                showProgress();
                continue;
            }
            // The subscribers before have been sent; this one is not begun.
            if (sink.stopRequested()) {
                outcome.stopped = true;
                break;
            }
            const RunResultsFile::Row subscriber = subscriberAt(row);
            sink.subscriberStarted(subscriber.alias);
            ++next;
            SubscriberDeletion::Done done;
            SubscriberDeletion::Sent sent;
            if (deletion.send(subscriber, done, sent)) {
                waits.add(sent.row.ticket);
                pending.append({row, sent});
                showInFlight();
                continue;
            }
            const After after = arrived(row, done);
            if (after == After::Retry) {
                next = row;
                continue;
            }
            showProgress();
            ending = after == After::Stop;
        }
        if (pending.isEmpty())
            break;
        if (ending) {
            // The database is out of reach: the waits still going end at once, their outcomes unknown.
            for (const Module1::SyncTicketGroup::Ended& wait :
                 waits.abandonAll(Module1::SyncTicketGroup::Abandon::Unreachable))
                waitEnded(wait);
        } else {
            for (const Module1::SyncTicketGroup::Ended& wait : waits.next())
                waitEnded(wait);
        }
        showInFlight();
        showProgress();
    }
    outcome.processed = processed;
    outcome.requests = deletion.sentRequests();
    outcome.polls = waits.polls();

    if (outcome.stopped) {
        // The rows left stay checked in the grid; the results file names each of them.
        for (qint32 row = next; row <= rows; ++row) {
            if (!checkedRow(row))
                continue;
            ++outcome.notAttempted;
            record(row, subscriberAt(row));
        }
        const qint32 checked = processed + outcome.notAttempted;
        if (outcome.unreachable)
            Logging::WriteLogLine(
                unreachableStopLine(processed, checked, unreachedAlias, unreached, unreachedReason));
        else
            Logging::WriteLogLine(stoppedLine(processed, checked));
    }
    const auto byRow = [](const auto& left, const auto& right) { return left.first < right.first; };
    if (!std::is_sorted(recorded.cbegin(), recorded.cend(), byRow)) {
        std::stable_sort(recorded.begin(), recorded.end(), byRow);
        QList<RunResultsFile::Row> inOrder;
        inOrder.reserve(recorded.size());
        for (const auto& row : std::as_const(recorded))
            inOrder.append(row.second);
        results.rewrite(inOrder);
    }
    outcome.resultsWriteFailure = results.writeFailure();
    results.close();
    Logging::CloseRunLog();
    return outcome;
}
