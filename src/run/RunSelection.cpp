#include "run/RunSelection.h"

#include "ports/CulvaneError.h"
#include "ports/MsgBox.h"
#include "run/RunConsole.h"
#include "selection/CsvImport.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "server/OrvaneVersion.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"
#include "server/modSwitchInfo.h"

#include <QStringList>

#include <functional>

using RunOptions::Criterion;

namespace {

// The rows go into the grid; a row the grid refuses is named after the grid's own message, which does
// not say whose row it was.
class GridRows : public CsvSink {
public:
    GridRows(SubscriberGridModel& grid, RunConsole& console) : m_grid(grid), m_console(console) {}

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

private:
    SubscriberGridModel& m_grid;
    RunConsole& m_console;
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

std::optional<int> unknown(RunConsole& console, const QString& what, const QString& value,
                           const QStringList& known, const QString& failure)
{
    if (!failure.isEmpty()) {
        console.message(QStringLiteral("cannot list the %1s: %2").arg(what, failure));
        return RunOptions::ExitRefused;
    }
    console.message(
        QStringLiteral("no %1 '%2' on this server; known: %3")
            .arg(what, value, known.isEmpty() ? QStringLiteral("none") : known.join(QStringLiteral(", "))));
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
    return unknown(console, QStringLiteral("class of service with the alias"), alias, known, failure);
}

std::optional<int> location(const QString& name, SubscriberQuery::Criteria& criteria, RunConsole& console)
{
    Recordset records;
    QStringList known;
    QString failure;
    try {
        records.Open(Statements::LocationsStatement, modOrvaneDB::DbConnectionString(),
                     Recordset::adOpenKeyset);
    } catch (const CulvaneError& error) {
        failure = error.description();
    }
    if (records.isOpen()) {
        walk(
            records,
            [&] {
                const QString candidate = records.fieldText(QStringLiteral("TextName"));
                known.append(candidate);
                if (criteria.locationText.isEmpty() && candidate.compare(name, Qt::CaseInsensitive) == 0) {
                    criteria.locationText = candidate;
                    criteria.locationObjectId = records.fieldText(QStringLiteral("LocationObjectID"));
                }
            },
            &failure);
    }
    if (!criteria.locationText.isEmpty())
        return std::nullopt;
    return unknown(console, QStringLiteral("location named"), name, known, failure);
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
    return unknown(console, QStringLiteral("switch integration"), QString::number(id), known, QString());
}

} // namespace

namespace RunSelection {

std::optional<int> fill(const RunOptions::Options& options, SubscriberGridModel& grid, RunConsole& console)
{
    grid.clear();
    GridRows sink(grid, console);
    const QString& connection = modOrvaneDB::DbConnectionString();
    if (options.criterion == Criterion::Csv || options.criterion == Criterion::From) {
        CsvImport::ParseCSVForSubscribers(options.value, connection, sink);
        return std::nullopt;
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
        criteria.mailServer = options.value;
        break;
    case Criterion::Location:
        criteria.code = SubscriberQuery::Location;
        refused = location(options.value, criteria, console);
        break;
    case Criterion::Node:
        criteria.code = SubscriberQuery::NetworkNode;
        criteria.nodeText = options.value;
        break;
    default:
        return RunOptions::ExitUsage;
    }
    if (refused)
        return refused;
    SubscriberQuery::run(criteria, connection, sink);
    return std::nullopt;
}

} // namespace RunSelection
