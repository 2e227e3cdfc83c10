#include "deletion/SyncTicketWait.h"

#include "deletion/Logging.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/Ports.h"
#include "server/Command.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QUuid>

#include <algorithm>
#include <optional>

namespace Module1 {
namespace {
const QString kTimeOutLine = QStringLiteral(
    "Syncronization process failed to complete in a timely fashion.  Check the ZAVEvedUda logs "
    "in the \\Orvane\\Logs directory");
const QString kAbandonedLine = QStringLiteral(
    "The wait for the directory synchronisation was ended by the user: the outcome for this subscriber is "
    "unknown.  Its ticket is ");
const QString kAbandonedDetail = QStringLiteral("outcome unknown: the wait was ended by the user");
const QString kUnreadableLine =
    QStringLiteral("Directory sync status could not be read from the database, giving up on this ticket: ");

// The wait's steps: the first failure is reported, the rest of that wait stays quiet (a database that
// cannot be read would otherwise ask for twenty answers per subscriber).
class OnceReport {
public:
    OnceReport() : m_report(modLocalize::localizedReport(StringIds::InWaitForSyncToFinished)) {}

    template <class Step> bool step(Step&& body)
    {
        try {
            std::forward<Step>(body)();
            return true;
        } catch (const CulvaneError& error) {
            fail(error);
        } catch (const std::exception& error) {
            fail(CulvaneError(ErrorNumbers::InvalidProcedureCall, QString::fromLocal8Bit(error.what())));
        }
        return false;
    }

    const CulvaneError* firstFailure() const { return m_failure ? &*m_failure : nullptr; }

private:
    void fail(const CulvaneError& error)
    {
        if (m_failure)
            return;
        m_failure = error;
        m_report.report(error);
    }

    ErrorReport m_report;
    std::optional<CulvaneError> m_failure;
};
} // namespace

QString NewTicketGuid()
{
    // QUuid::createUuid draws a random (version 4) identifier.
    return QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
}

SyncPollSchedule SyncPollSchedule::fast()
{
    SyncPollSchedule schedule;
    schedule.shortestPauseMilliseconds = 50;
    schedule.waitedShare = 0.25;
    return schedule;
}

QList<int> SyncPollSchedule::pauses() const
{
    QList<int> pauses;
    const qint64 bound = std::max(boundMilliseconds, 1);
    const qint64 shortest = std::max(shortestPauseMilliseconds, 1);
    const qint64 longest = std::max<qint64>(longestPauseMilliseconds, shortest);
    const double share = waitedShare > 0 ? waitedShare : 0.0;
    for (qint64 waited = 0; waited < bound; waited += pauses.constLast()) {
        // Rounded down, so that a result is never read later than its share allows.
        const double due = std::min(double(waited) * share, double(longest));
        const qint64 pause = std::max(static_cast<qint64>(due), shortest);
        pauses.append(static_cast<int>(std::min(pause, bound - waited)));
    }
    return pauses;
}

bool WaitForSyncToFinished(const QString& ticket, SyncWaitDetail* detail)
{
    return WaitForSyncToFinished(ticket, detail, SyncPollSchedule());
}

bool WaitForSyncToFinished(const QString& ticket, SyncWaitDetail* detail, const SyncPollSchedule& schedule)
{
    SyncWaitDetail ignored;
    SyncWaitDetail& ended = detail ? *detail : ignored;
    ended = SyncWaitDetail();
    OnceReport report;
    const QString& connection = modOrvaneDB::DbConnectionString();
    const auto abandoned = [&] {
        if (!schedule.abandoned || !schedule.abandoned())
            return false;
        ended.ending = SyncWaitDetail::Abandoned;
        ended.failure = kAbandonedDetail;
        Logging::WriteLogLine(kAbandonedLine + ticket);
        return true;
    };
    for (const int pause : schedule.pauses()) {
        if (abandoned())
            return false;
        Clock::sleep(pause);
        if (abandoned())
            return false;

        Recordset records;
        bool finished = false;
        const bool read = report.step([&] {
            records.Open(Statements::ticketPoll(ticket), connection, Recordset::adOpenKeyset);
            finished = records.RecordCount() > 0 && !records.field(QStringLiteral("result")).isNull();
        });
        if (!read) {
            // Unreadable: this subscriber's wait ends here; the next subscriber's wait tries again.
            ended.ending = SyncWaitDetail::Unreadable;
            ended.failure = report.firstFailure()->description();
            ended.failureStatement = report.firstFailure()->statement();
            Logging::WriteLogLine(kUnreadableLine + report.firstFailure()->description());
            return false;
        }
        if (!finished)
            continue;

        bool outcome = false;
        QString rowTicket = ticket;
        ended.ending = SyncWaitDetail::ResultRead;
        report.step([&] {
            records.MoveFirst();
            bool number = false;
            const QVariant result = records.field(QStringLiteral("result"));
            const qlonglong value = result.toLongLong(&number);
            outcome = value == 0 && number;
            ended.result = number ? QString::number(value) : result.toString();
            rowTicket = records.fieldText(QStringLiteral("Ticket"));
        });
        // The row's own value, which is the ticket the server keeps.
        report.step([&] { Statements::deleteTicketCommand(connection, rowTicket).Execute(); });
        return outcome;
    }
    // No "(error)" marker: the caller logs the failure that counts.
    Logging::WriteLogLine(kTimeOutLine);
    return false;
}

} // namespace Module1
