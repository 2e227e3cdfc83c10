#include "selection/SubscriberQuery.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/CulvaneError.h"
#include "selection/RangeEntry.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <utility>

namespace {

using namespace SubscriberQuery;
using modLocalize::mymyLoadString;

// Runs one step; a trapped error is handed back instead of ending the query.
template <class Step> std::optional<CulvaneError> attempt(Step&& step)
{
    try {
        std::forward<Step>(step)();
        return std::nullopt;
    } catch (const CulvaneError& error) {
        return error;
    } catch (const std::exception& error) {
        return CulvaneError(ErrorNumbers::InvalidProcedureCall, QString::fromLocal8Bit(error.what()));
    }
}

void closeQuietly(Recordset& records)
{
    if (records.isOpen())
        attempt([&] { records.Close(); });
}

// The main recordset of every criterion: client cursor, forward-only, read-only.
void openMain(Recordset& records, const QString& statement, const QString& connection, SubscriberSink& sink,
              std::optional<CulvaneError>* failure = nullptr)
{
    records.setCursorLocation(Recordset::adUseClient);
    auto error = attempt([&] {
        records.Open(statement, connection, Recordset::adOpenForwardOnly, Recordset::adLockReadOnly,
                     Recordset::adCmdUnspecified);
    });
    // A caller that takes the failure reports it, and the sink hears of it there.
    if (failure)
        *failure = std::move(error);
    else if (error)
        sink.queryFailed(*error);
}

int recordCount(const Recordset& records)
{
    int count = 0;
    if (attempt([&] { count = records.RecordCount(); }))
        return 0; // an unreadable count is as good as none
    return count;
}

// The row counter the splash window shows; a signed 16-bit count that stays at 32767.
class RowCounter {
public:
    explicit RowCounter(SubscriberSink& sink) : m_sink(sink) {}
    void next()
    {
        attempt([&] { m_count = increment16(m_count); });
        m_sink.rowCounted(m_count);
    }

private:
    SubscriberSink& m_sink;
    std::int16_t m_count = 0;
};

void reportBreak(SubscriberSink& sink, const CulvaneError& error)
{
    sink.queryFailed(error);
    sink.message(incompleteQueryMessage(error.number(), error.description()));
}

// Every row from the current one to the end goes to the sink, then the recordset is closed. A failure
// part-way ends the walk with one message; the rows already handed over stay.
void rowLoop(Recordset& records, SubscriberSink& sink, RowCounter* counter)
{
    for (;;) {
        bool atEnd = true;
        if (auto error = attempt([&] { atEnd = records.EOF_(); })) {
            reportBreak(sink, *error);
            break;
        }
        if (atEnd)
            break;
        if (counter)
            counter->next();
        sink.addSubscriber(readSubscriberValues(records, QStringLiteral("Extension")));
        if (auto error = attempt([&] { records.MoveNext(); })) {
            reportBreak(sink, *error);
            break;
        }
    }
    closeQuietly(records);
}

// Criteria 1 and 10: a statement that cannot be opened reads as an empty result.
void allOrArchived(const QString& statement, const QString& connection, SubscriberSink& sink)
{
    Recordset records;
    openMain(records, statement, connection, sink);
    if (!records.isOpen() || recordCount(records) < 1) {
        sink.message(NoSubscribersFound);
        closeQuietly(records);
        return;
    }
    RowCounter counter(sink);
    rowLoop(records, sink, &counter);
}

// Criteria 7, 5, 8 and 9: a statement that cannot be opened is reported with the driver's text.
void simpleQuery(const QString& statement, const QString& connection, SubscriberSink& sink,
                 RowCounter* counter = nullptr)
{
    Recordset records;
    std::optional<CulvaneError> failure;
    openMain(records, statement, connection, sink, &failure);
    if (failure) {
        reportBreak(sink, *failure);
        return;
    }
    if (records.isOpen())
        rowLoop(records, sink, counter);
}

void extensionRange(const Criteria& criteria, const QString& connection, SubscriberSink& sink)
{
    if (!RangeEntry::isNumeric(criteria.rangeLow) || !RangeEntry::isNumeric(criteria.rangeHigh)) {
        sink.message(mymyLoadString(StringIds::ExtensionRangeNotNumeric));
        return;
    }
    double low = -1;
    double high = -1;
    attempt([&] { low = RangeEntry::readNumber(criteria.rangeLow).value_or(-1); });
    attempt([&] { high = RangeEntry::readNumber(criteria.rangeHigh).value_or(-1); });
    if (!(low >= 0 && high >= 0 && low <= high)) {
        sink.message(mymyLoadString(StringIds::ExtensionRangeOrder));
        return;
    }
    const std::optional<QString> lowDigits = plainRangeDigits(criteria.rangeLow);
    const std::optional<QString> highDigits = plainRangeDigits(criteria.rangeHigh);
    if (!lowDigits || !highDigits) {
        sink.message(mymyLoadString(StringIds::ExtensionRangeNotNumeric));
        return;
    }

    Recordset records;
    openMain(records, Statements::extensionRange(*lowDigits, *highDigits), connection, sink);
    if (!records.isOpen())
        return;
    RowCounter counter(sink);
    qint32 skipped = 0;
    for (;;) {
        bool atEnd = true;
        if (auto error = attempt([&] { atEnd = records.EOF_(); })) {
            reportBreak(sink, *error);
            break;
        }
        if (atEnd)
            break;
        counter.next();
        QString id;
        attempt([&] { id = records.fieldText(QStringLiteral("SubscriberObjectID")); });
        Recordset detail;
        if (auto error = attempt([&] {
                detail.Open(Statements::subscriberDetail(id), connection, Recordset::adOpenKeyset,
                            Recordset::adLockReadOnly, Recordset::adCmdUnspecified);
            }))
            sink.queryFailed(*error);
        if (!detail.isOpen()) {
            sink.message(FailedOpeningRange);
            return;
        }
        // A subscriber without a call handler has no detail row; the rest of the range is still wanted.
        if (recordCount(detail) < 1)
            ++skipped;
        else
            sink.addSubscriber(readSubscriberValues(detail, QStringLiteral("Extension")));
        closeQuietly(detail);
        if (auto error = attempt([&] { records.MoveNext(); })) {
            reportBreak(sink, *error);
            break;
        }
    }
    closeQuietly(records);
    if (skipped > 0)
        sink.message(mymyLoadString(StringIds::RangeSubscribersSkipped).arg(skipped));
}

void classOfService(const Criteria& criteria, const QString& connection, SubscriberSink& sink)
{
    if (criteria.cosText.isEmpty()) {
        sink.message(mymyLoadString(StringIds::SelectCosFirst));
        return;
    }
    Recordset& classes = modOrvaneDB::CosRecords();
    attempt([&] { classes.MoveFirst(); });
    attempt([&] {
        classes.Find(QStringLiteral("Alias='") + Statements::quoted(criteria.cosAlias) + QStringLiteral("'"),
                     0, Recordset::adSearchForward);
    });
    bool notFound = true;
    attempt([&] { notFound = classes.EOF_(); });
    if (notFound)
        return;
    QString cosObjectId;
    attempt([&] { cosObjectId = classes.fieldText(QStringLiteral("CosObjectID")); });
    RowCounter counter(sink);
    simpleQuery(Statements::classOfService(cosObjectId), connection, sink, &counter);
}

void bySwitch(const Criteria& criteria, const QString& connection, SubscriberSink& sink)
{
    if (criteria.switchText.isEmpty()) {
        sink.message(mymyLoadString(StringIds::SelectSwitchFirst));
        return;
    }
    std::int16_t id = 0;
    attempt([&] { id = toInt16(criteria.switchId); });
    Recordset records;
    openMain(records, Statements::bySwitch(id), connection, sink);
    if (!records.isOpen()) {
        sink.message(ErrorOpeningRecordset);
        return;
    }
    if (recordCount(records) < 1) {
        sink.message(NoSubscribersForSwitch);
        closeQuietly(records);
        return;
    }
    attempt([&] { records.MoveFirst(); });
    rowLoop(records, sink, nullptr);
}

} // namespace

SubscriberValues readSubscriberValues(const Recordset& records, const QString& extensionColumn)
{
    SubscriberValues values;
    // A NULL is read without raising: most rows hold one, and a raised error per row would cost more
    // than the row itself.
    const auto read = [&](QString& value, const QString& column) {
        attempt([&] {
            const QVariant field = records.field(column);
            if (!field.isNull())
                value = field.toString();
        });
    };
    read(values.alias, QStringLiteral("Alias"));
    read(values.firstName, QStringLiteral("FirstName"));
    read(values.lastName, QStringLiteral("LastName"));
    read(values.displayName, QStringLiteral("DisplayName"));
    read(values.extension, extensionColumn);
    read(values.homeServer, QStringLiteral("HomeServer"));
    read(values.remoteNode, QStringLiteral("RemoteNodeID"));
    read(values.legacyMailbox, QStringLiteral("LegacyMailbox"));
    read(values.cos, QStringLiteral("COS"));
    read(values.subscriberObjectId, QStringLiteral("SubscriberObjectID"));
    read(values.callHandlerObjectId, QStringLiteral("CallHandlerObjectID"));
    return values;
}

namespace SubscriberQuery {

QString incompleteQueryMessage(int number, const QString& description)
{
    return modLocalize::mymyLoadString(StringIds::SubscriberQueryFailed)
        .arg(QString::number(number), description);
}

std::optional<QString> plainRangeDigits(const QString& typed)
{
    qsizetype from = 0;
    qsizetype to = typed.size();
    while (from < to && typed.at(from) == QLatin1Char(' '))
        ++from;
    while (to > from && typed.at(to - 1) == QLatin1Char(' '))
        --to;
    if (from == to)
        return std::nullopt;
    for (qsizetype i = from; i < to; ++i) {
        if (typed.at(i) < QLatin1Char('0') || typed.at(i) > QLatin1Char('9'))
            return std::nullopt;
    }
    return typed.mid(from, to - from);
}

void run(const Criteria& criteria, const QString& connection, SubscriberSink& sink)
{
    switch (criteria.code) {
    case AllSubscribers:
        allOrArchived(Statements::allSubscribers(), connection, sink);
        break;
    case ArchivedMailboxes:
        allOrArchived(Statements::archivedSubscribers(), connection, sink);
        break;
    case ExtensionRange:
        extensionRange(criteria, connection, sink);
        break;
    case ClassOfService:
        classOfService(criteria, connection, sink);
        break;
    case Switch:
        bySwitch(criteria, connection, sink);
        break;
    case MailServer:
        if (criteria.mailServer.isEmpty()) {
            sink.message(mymyLoadString(StringIds::SelectMailstoreFirst));
            break;
        }
        simpleQuery(Statements::homeServer(criteria.mailServer), connection, sink);
        break;
    case Location:
        if (criteria.locationText.isEmpty()) {
            sink.message(mymyLoadString(StringIds::SelectLocationFirst));
            break;
        }
        simpleQuery(Statements::location(criteria.locationObjectId), connection, sink);
        break;
    case NetworkNode:
        simpleQuery(Statements::remoteNode(criteria.nodeText), connection, sink);
        break;
    default:
        break; // the CSV file has its own import; other codes run nothing
    }
}

} // namespace SubscriberQuery
