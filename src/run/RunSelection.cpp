#include "run/RunSelection.h"

#include "ports/CulvaneError.h"
#include "ports/MsgBox.h"
#include "run/RunConsole.h"
#include "run/RunResume.h"
#include "selection/CsvImport.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "server/OrvaneVersion.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"
#include "server/modSwitchInfo.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <functional>

using RunOptions::Criterion;

namespace {

// The rows go into the grid; a row the grid refuses is named after the grid's own message, which does
// not say whose row it was.
class GridRows : public CsvSink {
public:
    GridRows(SubscriberGridModel& grid, RunConsole& console, bool verbose)
        : m_grid(grid), m_console(console), m_verbose(verbose)
    {
    }

    void addSubscriber(SubscriberValues&& v) override
    {
        const qint32 before = m_grid.Rows();
        const QString alias = v.alias;
        const QString objectId = v.subscriberObjectId;
        m_grid.AddUserToGridFAST(std::move(v.alias), std::move(v.firstName), std::move(v.lastName),
                                 std::move(v.displayName), std::move(v.extension), std::move(v.homeServer),
                                 std::move(v.remoteNode), std::move(v.legacyMailbox), std::move(v.cos),
                                 std::move(v.subscriberObjectId), std::move(v.callHandlerObjectId));
        if (m_grid.Rows() == before)
            m_console.message(QStringLiteral("  skipped: alias \"%1\", ObjectID %2")
                                  .arg(alias, objectId.isEmpty() ? QStringLiteral("(none)") : objectId));
    }
    void message(const QString& text) override { MsgBox::show(text); }
    qint32 gridRows() const override { return m_grid.Rows(); }
    void queryFailed(const CulvaneError& error) override
    {
        if (!m_failure)
            m_failure = error;
    }
    // The first statement of the selection that failed: the grid is not the whole selection.
    const std::optional<CulvaneError>& failure() const { return m_failure; }

    // The lines read are a detail; subscribers left out are not.
    void importSummary(const QString& summary, const QString& duplicates) override
    {
        if (m_verbose)
            m_console.message(summary);
        if (!duplicates.isEmpty())
            m_console.message(duplicates);
    }

private:
    std::optional<CulvaneError> m_failure;
    SubscriberGridModel& m_grid;
    RunConsole& m_console;
    bool m_verbose;
};

// Every row of a recordset, first to last; false when it could not be read to the end.
bool walk(Recordset& records, const std::function<void()>& row, QString* failure)
{
    try {
        if (records.RecordCount() > 0) {
            for (records.MoveFirst(); !records.EOF_(); records.MoveNext())
                row();
        }
        return true;
    } catch (const CulvaneError& error) {
        *failure = error.description();
        return false;
    }
}

// The value given is not repeated: a word in the wrong place may be a password.
std::optional<int> unknown(RunConsole& console, const char* option, const QString& what,
                           const QStringList& known, const QString& failure)
{
    if (!failure.isEmpty()) {
        console.message(QStringLiteral("%1 cannot be checked against the server's list: %2")
                            .arg(QLatin1String(option), failure));
        return RunOptions::ExitRefused;
    }
    console.message(QStringLiteral("%1 names no %2 on this server; it has: %3")
                        .arg(QLatin1String(option), what,
                             known.isEmpty() ? QStringLiteral("none") : known.join(QStringLiteral(", "))));
    return RunOptions::ExitUsage;
}

std::optional<int> classOfService(const QString& alias, SubscriberQuery::Criteria& criteria,
                                  RunConsole& console)
{
    Recordset& classes = modOrvaneDB::CosRecords();
    QStringList known;
    QString failure;
    walk(
        classes,
        [&] {
            const QString candidate = classes.fieldText(QStringLiteral("Alias"));
            known.append(candidate);
            if (criteria.cosAlias.isEmpty() && candidate.compare(alias, Qt::CaseInsensitive) == 0) {
                criteria.cosAlias = candidate;
                criteria.cosText = classes.fieldText(QStringLiteral("TextName"));
            }
        },
        &failure);
    if (!criteria.cosAlias.isEmpty())
        return std::nullopt;
    return unknown(console, "--cos", QStringLiteral("class of service with that alias"), known, failure);
}

// One of the selection page's lists as the server gives it, and the option that names an entry of it.
struct ServerList {
    const QString& statement;
    const char* field;
    // The field the page keeps in a hidden list beside it, or null.
    const char* parallelField;
    const char* option;
    const char* what;
};

// Finds `wanted` (in any letter case) among the list's entries: `found` gets the server's own spelling and
// `parallel` the same row's parallel field.
std::optional<int> pick(const ServerList& list, const QString& wanted, QString& found, QString* parallel,
                        RunConsole& console)
{
    Recordset records;
    QStringList known;
    QString failure;
    try {
        records.Open(list.statement, modOrvaneDB::DbConnectionString(), Recordset::adOpenKeyset);
    } catch (const CulvaneError& error) {
        failure = error.description();
    }
    bool matched = false;
    if (records.isOpen()) {
        walk(
            records,
            [&] {
                const QString candidate = records.fieldText(QLatin1String(list.field));
                known.append(candidate);
                if (!matched && candidate.compare(wanted, Qt::CaseInsensitive) == 0) {
                    matched = true;
                    found = candidate;
                    if (parallel && list.parallelField)
                        *parallel = records.fieldText(QLatin1String(list.parallelField));
                }
            },
            &failure);
        try {
            records.Close();
        } catch (const CulvaneError&) {
        }
    }
    if (matched)
        return std::nullopt;
    return unknown(console, list.option, QLatin1String(list.what), known, failure);
}

std::optional<int> bySwitch(int id, SubscriberQuery::Criteria& criteria, RunConsole& console)
{
    QStringList known;
    const std::int16_t count = modSwitchInfo::SwitchCount();
    // Numbered from 1, as the selection page fills its list.
    for (std::int16_t i = 1; i <= count && i > 0; ++i) {
        QString name;
        std::int16_t integration = 0;
        modSwitchInfo::GetSwitchInfoBySwitchCount(i, name, integration);
        known.append(QStringLiteral("%1 (%2)").arg(integration).arg(name));
        if (criteria.switchText.isEmpty() && integration == id) {
            criteria.switchText = name.isEmpty() ? QString::number(id) : name;
            criteria.switchId = id;
        }
    }
    if (!criteria.switchText.isEmpty())
        return std::nullopt;
    return unknown(console, "--switch", QStringLiteral("switch integration with that number"), known,
                   QString());
}

// The file named by --csv or --from, whole; nothing when it cannot be read (reason says why).
std::optional<QByteArray> readInput(const QString& path, QString* reason)
{
    if (QFileInfo(path).isDir()) {
        *reason = QStringLiteral("it is a folder");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return std::nullopt;
    }
    return bytes;
}

// The rows of a results file that were never sent a request, looked up again by ObjectID: one deleted
// since is simply not found. A lookup that fails ends the selection, since a subscriber missing from this
// run would be missing from its results file too, and so from every later resume.
std::optional<int> resume(const QList<QStringList>& rows, GridRows& sink, RunConsole& console)
{
    const RunResume::Plan plan = RunResume::plan(rows);
    const QString leftOut = RunResume::leftOutLine(plan);
    if (!leftOut.isEmpty())
        console.message(leftOut);
    if (plan.objectIds.isEmpty()) {
        console.message(
            QStringLiteral("nothing left to do: no row of the results file waits for its request"));
        return RunOptions::ExitDone;
    }
    QSet<QString> passed;
    int duplicates = 0;
    int gone = 0;
    for (const QString& id : plan.objectIds) {
        Recordset records;
        records.setCursorLocation(Recordset::adUseClient);
        bool found = false;
        try {
            records.Open(Statements::subscriberDetail(Statements::quoted(id)),
                         modOrvaneDB::DbConnectionString(), Recordset::adOpenForwardOnly,
                         Recordset::adLockReadOnly, Recordset::adCmdUnspecified);
            for (; records.isOpen() && !records.EOF_(); records.MoveNext()) {
                found = true;
                SubscriberValues values = readSubscriberValues(records, QStringLiteral("Extension"));
                const qsizetype known = passed.size();
                passed.insert(values.subscriberObjectId);
                if (passed.size() == known)
                    ++duplicates;
                else
                    sink.addSubscriber(std::move(values));
            }
        } catch (const CulvaneError& error) {
            console.message(
                QStringLiteral("the subscriber with the ObjectID %1 cannot be looked up (%2); nothing "
                               "is deleted, try again later")
                    .arg(id, error.description()));
            return RunOptions::ExitTempFail;
        }
        if (!found)
            ++gone;
    }
    if (duplicates > 0)
        console.message(
            QStringLiteral("%1 %2 left out: the results file names the same subscriber more than once")
                .arg(duplicates)
                .arg(duplicates == 1 ? QStringLiteral("row") : QStringLiteral("rows")));
    if (gone > 0)
        console.message(QStringLiteral("%1 of the rows taken again %2 no subscriber on the server now")
                            .arg(gone)
                            .arg(gone == 1 ? QStringLiteral("names") : QStringLiteral("name")));
    return std::nullopt;
}

// A selection that a failed statement cut short is no selection: nothing is written or deleted from it.
std::optional<int> incomplete(const GridRows& sink, RunConsole& console)
{
    const std::optional<CulvaneError>& failure = sink.failure();
    if (!failure)
        return std::nullopt;
    const bool unreachable = failure->statement() == CulvaneError::Statement::NotSent ||
                             failure->statement() == CulvaneError::Statement::Unanswered;
    console.message(
        QStringLiteral("the selection could not be made whole: %1 (%2); nothing is written or "
                       "deleted%3")
            .arg(failure->number())
            .arg(failure->description(), unreachable ? QStringLiteral(", try again later") : QString()));
    return unreachable ? RunOptions::ExitTempFail : RunOptions::ExitFailures;
}

} // namespace

namespace RunSelection {

std::optional<int> fill(const RunOptions::Options& options, SubscriberGridModel& grid, RunConsole& console)
{
    grid.clear();
    GridRows sink(grid, console, options.verbose);
    const QString& connection = modOrvaneDB::DbConnectionString();
    if (options.criterion == Criterion::Csv || options.criterion == Criterion::From) {
        const char* option = options.criterion == Criterion::Csv ? "--csv" : "--from";
        QString reason;
        const std::optional<QByteArray> bytes = readInput(options.value, &reason);
        if (!bytes) {
            console.message(
                QStringLiteral("the %1 file cannot be read: %2").arg(QLatin1String(option), reason));
            return RunOptions::ExitNoInput;
        }
        if (options.criterion == Criterion::From) {
            if (const std::optional<QList<QStringList>> rows = RunResume::resultsRows(*bytes))
                return resume(*rows, sink, console);
        }
        const CsvImport::Outcome outcome = CsvImport::ParseCSVForSubscribers(options.value, connection, sink);
        if (outcome.file != CsvImport::Outcome::File::Read)
            return RunOptions::ExitNoInput;
        return incomplete(sink, console);
    }

    SubscriberQuery::Criteria criteria;
    std::optional<int> refused;
    switch (options.criterion) {
    case Criterion::All:
        criteria.code = SubscriberQuery::AllSubscribers;
        break;
    case Criterion::Archived: {
        // The selection page offers archived mailboxes from Orvane 5.0 on.
        bool newServer = false;
        try {
            newServer = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0);
        } catch (const CulvaneError&) {
        }
        if (!newServer) {
            console.message(
                QStringLiteral("archived mailboxes are kept from Orvane 5.0 on; this server is older"));
            return RunOptions::ExitUsage;
        }
        criteria.code = SubscriberQuery::ArchivedMailboxes;
        break;
    }
    case Criterion::Range:
        criteria.code = SubscriberQuery::ExtensionRange;
        criteria.rangeLow = options.rangeLow;
        criteria.rangeHigh = options.rangeHigh;
        break;
    case Criterion::Switch:
        criteria.code = SubscriberQuery::Switch;
        refused = bySwitch(options.switchId, criteria, console);
        break;
    case Criterion::Cos:
        criteria.code = SubscriberQuery::ClassOfService;
        refused = classOfService(options.value, criteria, console);
        break;
    case Criterion::HomeServer:
        criteria.code = SubscriberQuery::MailServer;
        refused = pick({Statements::MailServersStatement, "HomeServer", nullptr, "--home-server",
                        "mail server of that name"},
                       options.value, criteria.mailServer, nullptr, console);
        break;
    case Criterion::Location:
        criteria.code = SubscriberQuery::Location;
        refused = pick({Statements::LocationsStatement, "TextName", "LocationObjectID", "--location",
                        "location of that name"},
                       options.value, criteria.locationText, &criteria.locationObjectId, console);
        break;
    case Criterion::Node:
        criteria.code = SubscriberQuery::NetworkNode;
        refused = pick({Statements::NetworkNodesStatement, "RemoteNodeID", nullptr, "--node",
                        "networking node with that ID"},
                       options.value, criteria.nodeText, nullptr, console);
        break;
    default:
        return RunOptions::ExitUsage;
    }
    if (refused)
        return refused;
    SubscriberQuery::run(criteria, connection, sink);
    return incomplete(sink, console);
}

} // namespace RunSelection
