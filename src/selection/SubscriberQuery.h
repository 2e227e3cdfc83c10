#pragma once

#include "ports/CulvaneError.h"

#include <QString>

#include <cstdint>
#include <optional>

class Recordset;

// One subscriber as a query hands it to the grid: the eleven texts in the order they are read.
struct SubscriberValues {
    QString alias;
    QString firstName;
    QString lastName;
    QString displayName;
    QString extension;
    QString homeServer;
    QString remoteNode;
    QString legacyMailbox;
    QString cos;
    QString subscriberObjectId;
    QString callHandlerObjectId;
};

// Where a query's results go. The selection page puts rows into its grid, shows the messages and the
// splash window's counter; tests record them.
class SubscriberSink {
public:
    virtual ~SubscriberSink() = default;
    // Once per result row, in result order (AddUserToGridFAST).
    virtual void addSubscriber(SubscriberValues&& values) = 0;
    // An OK message, at the moment the query reaches it.
    virtual void message(const QString& text) = 0;
    // The running row count, for the queries that show one; count is 1 for the first row.
    virtual void rowCounted(std::int16_t count) { (void)count; }
    // A statement of the query failed, whatever message() said of it: the rows handed over so far are not
    // the whole selection. The page has its messages; a caller without a person watching listens here.
    virtual void queryFailed(const CulvaneError& error) { (void)error; }
};

// Reads the eleven values of the current row. A value that cannot be read (NULL, or a column the statement
// does not return) stays empty.
SubscriberValues readSubscriberValues(const Recordset& records, const QString& extensionColumn);

// The subscriber queries of the selection page, one per criterion, without a window: the page reads its
// inputs into Criteria, runs the query and shows what the sink receives.
namespace SubscriberQuery {

enum Code {
    AllSubscribers = 1,
    ExtensionRange = 2,
    Switch = 4,
    MailServer = 5,
    CsvFile = 6,
    ClassOfService = 7,
    Location = 8,
    NetworkNode = 9,
    ArchivedMailboxes = 10,
};

// What the page's inputs held when the button was pressed.
struct Criteria {
    int code = 0;
    QString rangeLow;
    QString rangeHigh;
    QString cosText;    // the visible class-of-service entry
    QString cosAlias;   // its alias, from the hidden list
    QString switchText; // the visible switch entry
    int switchId = 0;   // its integration identifier (item data)
    QString mailServer;
    QString locationText;     // the visible location entry
    QString locationObjectId; // its identifier, from the hidden list
    QString nodeText;
};

// Messages the program shows besides the string-table ones.
inline const QString NoSubscribersFound = QStringLiteral("No subscribers found");
inline const QString NoSubscribersForSwitch = QStringLiteral("No subscribers found for that switch");
inline const QString ErrorOpeningRecordset = QStringLiteral("Error opening recordset - exiting routine.");
inline const QString FailedOpeningRange =
    QStringLiteral("Failed opening extension range recordset - exiting function.");
// A query that broke off: the grid keeps what was read, the administrator learns it is incomplete.
QString incompleteQueryMessage(int number, const QString& description);

// The bound of a range box as it goes into the statement: the digits of a whole number typed with
// nothing but blanks around them. A sign, a decimal point or an exponent gives nothing, since padding
// such a text would compare against extensions nobody meant.
std::optional<QString> plainRangeDigits(const QString& typed);

// Runs the query of criteria.code against the connection text and feeds the sink; codes without a query
// (the CSV file, unknown codes) do nothing. Never throws.
void run(const Criteria& criteria, const QString& connection, SubscriberSink& sink);

} // namespace SubscriberQuery
