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

#include <optional>

namespace Module1 {
namespace {
const QString kTimeOutLine = QStringLiteral(
    "Syncronization process failed to complete in a timely fashion.  Check the ZAVEvedUda logs "
    "in the \\Orvane\\Logs directory");
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

bool WaitForSyncToFinished(const QString& ticket)
{
    OnceReport report;
    const QString& connection = modOrvaneDB::DbConnectionString();
    for (int poll = 1; poll <= SyncWait::Polls; ++poll) {
        Clock::sleep(SyncWait::PauseMilliseconds);

        Recordset records;
        bool finished = false;
        const bool read = report.step([&] {
            records.Open(Statements::ticketPoll(ticket), connection, Recordset::adOpenKeyset);
            finished = records.RecordCount() > 0 && !records.field(QStringLiteral("result")).isNull();
        });
        if (!read) {
            // Unreadable: this subscriber's wait ends here; the next subscriber's wait tries again.
            Logging::WriteLogLine(kUnreadableLine + report.firstFailure()->description());
            return false;
        }
        if (!finished)
            continue;

        bool outcome = false;
        QString rowTicket = ticket;
        report.step([&] {
            records.MoveFirst();
            bool number = false;
            outcome = records.field(QStringLiteral("result")).toLongLong(&number) == 0 && number;
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
