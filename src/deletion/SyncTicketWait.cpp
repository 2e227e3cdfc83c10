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
const QString kUnreachableLine = QStringLiteral(
    "The wait for the directory synchronisation was ended when the run stopped, the database being out of "
    "reach: the outcome for this subscriber is unknown.  Its ticket is ");
const QString kUnreachableDetail =
    QStringLiteral("outcome unknown: the run stopped, the database could not be reached");
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
    SyncTicketGroup group(schedule);
    group.add(ticket);
    for (;;) {
        const QList<SyncTicketGroup::Ended> ended = group.next();
        if (ended.isEmpty())
            continue;
        const SyncTicketGroup::Ended& wait = ended.constFirst();
        if (!wait.logLine.isEmpty())
            Logging::WriteLogLine(wait.logLine);
        if (detail)
            *detail = wait.detail;
        return wait.outcome;
    }
}

SyncTicketGroup::SyncTicketGroup(SyncPollSchedule schedule) : m_schedule(std::move(schedule))
{
    qint64 due = 0;
    for (const int pause : m_schedule.pauses()) {
        due += pause;
        m_dueMs.append(due);
    }
    m_boundMs = due;
}

void SyncTicketGroup::add(const QString& ticket)
{
    m_waiting.append({ticket, m_nowMs});
}

qint64 SyncTicketGroup::nextPollMs() const
{
    // The ticket that has waited longest sets the pace; any ticket's bound is a poll of its own.
    const Waiting& oldest = m_waiting.constFirst();
    const qint64 waited = m_nowMs - oldest.sinceMs;
    const auto due = std::upper_bound(m_dueMs.cbegin(), m_dueMs.cend(), waited);
    qint64 next = oldest.sinceMs + (due != m_dueMs.cend() ? *due : m_boundMs);
    for (const Waiting& waiting : m_waiting)
        next = std::min(next, waiting.sinceMs + m_boundMs);
    return std::max(next, m_nowMs);
}

bool SyncTicketGroup::abandoned(QList<Ended>& ended)
{
    if (!m_schedule.abandoned || !m_schedule.abandoned())
        return false;
    ended = abandonAll(Abandon::ByUser);
    return true;
}

QList<SyncTicketGroup::Ended> SyncTicketGroup::abandonAll(Abandon why)
{
    QList<Ended> ended;
    for (const Waiting& waiting : std::as_const(m_waiting)) {
        Ended wait;
        wait.ticket = waiting.ticket;
        wait.detail.ending = SyncWaitDetail::Abandoned;
        wait.detail.failure = why == Abandon::ByUser ? kAbandonedDetail : kUnreachableDetail;
        wait.logLine = (why == Abandon::ByUser ? kAbandonedLine : kUnreachableLine) + waiting.ticket;
        ended.append(wait);
    }
    m_waiting.clear();
    return ended;
}

QList<SyncTicketGroup::Ended> SyncTicketGroup::next()
{
    QList<Ended> ended;
    if (m_waiting.isEmpty() || abandoned(ended))
        return ended;
    const qint64 at = nextPollMs();
    if (at > m_nowMs)
        Clock::sleep(static_cast<int>(at - m_nowMs));
    m_nowMs = at;
    if (abandoned(ended))
        return ended;

    OnceReport report;
    const QString& connection = modOrvaneDB::DbConnectionString();
    QStringList tickets;
    for (const Waiting& waiting : std::as_const(m_waiting))
        tickets.append(waiting.ticket);
    // Per waiting ticket, its first row: that one decides, as it does for a ticket polled alone.
    struct FirstRow {
        bool seen = false;
        // The result was there, but reading it again failed: false, with nothing to show.
        bool failed = false;
        QVariant result;
        QString rowTicket;
    };
    QList<FirstRow> rows(m_waiting.size());
    const auto indexOf = [&](const QString& rowTicket) -> qsizetype {
        // A lone ticket owns every row its poll returns.
        if (tickets.size() == 1)
            return 0;
        // The server may give a GUID column back in its own spelling.
        const QUuid rowId = QUuid::fromString(rowTicket);
        for (qsizetype i = 0; i < tickets.size(); ++i) {
            if (tickets.at(i).compare(rowTicket, Qt::CaseInsensitive) == 0 ||
                (!rowId.isNull() && QUuid::fromString(tickets.at(i)) == rowId))
                return i;
        }
        return -1;
    };
    Recordset records;
    ++m_polls;
    const bool read = report.step([&] {
        records.Open(Statements::ticketsPoll(tickets), connection, Recordset::adOpenKeyset);
        if (records.RecordCount() <= 0)
            return;
        if (tickets.size() == 1) {
            const QVariant result = records.field(QStringLiteral("result"));
            if (result.isNull())
                return;
            rows[0].seen = true;
            rows[0].result = result;
            // The row's own value, which is the ticket the server keeps.
            rows[0].rowTicket = tickets.constFirst();
            rows[0].failed = !report.step([&] {
                records.MoveFirst();
                rows[0].result = records.field(QStringLiteral("result"));
                rows[0].rowTicket = records.fieldText(QStringLiteral("Ticket"));
            });
            return;
        }
        for (records.MoveFirst(); !records.EOF_(); records.MoveNext()) {
            const QString rowTicket = records.fieldText(QStringLiteral("Ticket"));
            const qsizetype index = indexOf(rowTicket);
            if (index < 0 || rows.at(index).seen)
                continue;
            rows[index].seen = true;
            rows[index].result = records.field(QStringLiteral("result"));
            rows[index].rowTicket = rowTicket;
        }
    });
    if (!read) {
        // Unreadable: the waits this poll covered end here; the next requests' waits try again.
        const CulvaneError& failure = *report.firstFailure();
        for (const Waiting& waiting : std::as_const(m_waiting)) {
            Ended wait;
            wait.ticket = waiting.ticket;
            wait.detail.ending = SyncWaitDetail::Unreadable;
            wait.detail.failure = failure.description();
            wait.detail.failureStatement = failure.statement();
            wait.logLine = kUnreadableLine + failure.description();
            ended.append(wait);
        }
        m_waiting.clear();
        return ended;
    }

    QList<Waiting> still;
    for (qsizetype i = 0; i < m_waiting.size(); ++i) {
        const Waiting& waiting = m_waiting.at(i);
        const FirstRow& row = rows.at(i);
        if (!row.seen || (!row.failed && row.result.isNull())) {
            if (m_nowMs - waiting.sinceMs < m_boundMs) {
                still.append(waiting);
                continue;
            }
            // No "(error)" marker: the caller logs the failure that counts.
            Ended wait;
            wait.ticket = waiting.ticket;
            wait.detail.ending = SyncWaitDetail::TimedOut;
            wait.logLine = kTimeOutLine;
            ended.append(wait);
            continue;
        }
        Ended wait;
        wait.ticket = waiting.ticket;
        wait.detail.ending = SyncWaitDetail::ResultRead;
        bool number = false;
        const qlonglong value = row.failed ? 0 : row.result.toLongLong(&number);
        wait.outcome = value == 0 && number;
        wait.detail.result = row.failed ? QString() : number ? QString::number(value) : row.result.toString();
        report.step([&] { Statements::deleteTicketCommand(connection, row.rowTicket).Execute(); });
        ended.append(wait);
    }
    m_waiting = still;
    return ended;
}

} // namespace Module1
