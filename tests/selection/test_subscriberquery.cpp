// The criterion queries without a window: each statement run through the real ODBC driver on a generated
// stand-in, with the rows, their order and the messages a sink receives.
#include "common/StandinFixture.h"
#include "localize/modLocalize.h"
#include "selection/SubscriberQuery.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QtTest>

#include <functional>

namespace {

const QString kConnection = Statements::ConnectionText;
using SubscriberQuery::Criteria;

// Records rows (by alias) and messages in the order they come.
class RecordingSink : public SubscriberSink {
public:
    void addSubscriber(SubscriberValues&& values) override
    {
        events.append(QStringLiteral("row ") + values.alias);
        rows.append(values);
        if (onRow)
            onRow(rows.size());
    }
    void message(const QString& text) override
    {
        events.append(QStringLiteral("msg ") + text);
        messages.append(text);
    }
    void rowCounted(std::int16_t count) override { counts.append(count); }

    QStringList aliases() const
    {
        QStringList list;
        for (const SubscriberValues& row : rows)
            list.append(row.alias);
        return list;
    }

    QStringList events;
    QList<SubscriberValues> rows;
    QStringList messages;
    QList<int> counts;
    std::function<void(int)> onRow;
};

Criteria criterion(int code)
{
    Criteria criteria;
    criteria.code = code;
    return criteria;
}

QList<int> oneTo(int n)
{
    QList<int> list;
    for (int i = 1; i <= n; ++i)
        list.append(i);
    return list;
}

} // namespace

class TestSubscriberQuery : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void allAndArchivedSubscribers();
    void extensionRange();
    void classOfService();
    void switchMailServerLocationAndNode();
    void apostrophesInValuesStayInsideTheLiteral();
    void failuresKeepTheRowsAlreadyRead();

private:
    // Aliases a plain SQLite query over the stand-in's tables gives, in its order.
    QStringList expected(const QString& sql);
    std::unique_ptr<StandinFixture> m_db;
};

void TestSubscriberQuery::init()
{
    modLocalize::resetLocalisation();
    m_db = std::make_unique<StandinFixture>(400);
    QVERIFY(m_db->isValid());
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
}

void TestSubscriberQuery::cleanup()
{
    modOrvaneDB::CloseSharedLists();
    m_db.reset();
}

QStringList TestSubscriberQuery::expected(const QString& sql)
{
    const QVariant joined =
        m_db->scalar(QStringLiteral("SELECT group_concat(a, char(10)) FROM (") + sql + QStringLiteral(")"));
    return joined.toString().isEmpty() ? QStringList() : joined.toString().split(QLatin1Char('\n'));
}

void TestSubscriberQuery::allAndArchivedSubscribers()
{
    const QString typed = QStringLiteral("SELECT s.Alias AS a FROM subscriber s JOIN callhandler c ON "
                                         "c.CallHandlerObjectID = s.CallHandlerObjectID WHERE ");
    const QStringList all =
        expected(typed + QStringLiteral("s.SubscriberType IN (1,2,3,5,7,8,9) ORDER BY s.Alias"));
    QVERIFY(all.size() > 300);
    RecordingSink sink;
    SubscriberQuery::run(criterion(SubscriberQuery::AllSubscribers), kConnection, sink);
    QCOMPARE(sink.aliases(), all);
    QCOMPARE(sink.messages, QStringList());
    QCOMPARE(sink.counts, oneTo(all.size()));
    // The row of user00013 carries every value from its own column.
    const SubscriberValues& row = sink.rows.at(all.indexOf(QStringLiteral("user00013")));
    QCOMPARE(row.extension, QStringLiteral("401"));
    QCOMPARE(row.cos, QString::fromUtf8("\xc3\x89l\xc3\xa8ves et \xc3\xa9tudiants"));
    QCOMPARE(row.subscriberObjectId, QStringLiteral("{08D12DFD-5B5C-400D-8000-00000000000D}"));
    QVERIFY(row.callHandlerObjectId.contains(QStringLiteral("-CA11-")));
    QCOMPARE(row.homeServer, QStringLiteral("MAILSRV02"));
    QCOMPARE(row.firstName + QLatin1Char(' ') + row.lastName, row.displayName);
    // Subscriber 7 has no class of service: it comes through with that value empty (the grid refuses it).
    const SubscriberValues& noCos = sink.rows.at(all.indexOf(QStringLiteral("user00007")));
    QVERIFY(noCos.cos.isEmpty());
    QVERIFY(!noCos.alias.isEmpty());

    RecordingSink archived;
    SubscriberQuery::run(criterion(SubscriberQuery::ArchivedMailboxes), kConnection, archived);
    const QStringList gone = expected(typed + QStringLiteral("s.SubscriberType = 0 ORDER BY s.Alias"));
    QCOMPARE(gone.size(), 8);
    QCOMPARE(archived.aliases(), gone);
    QCOMPARE(archived.counts, oneTo(8));

    // Nothing to find, or nothing to open: the same one message.
    QVERIFY(m_db->exec(QStringLiteral("DELETE FROM subscriber WHERE SubscriberType = 0")));
    RecordingSink none;
    SubscriberQuery::run(criterion(SubscriberQuery::ArchivedMailboxes), kConnection, none);
    QCOMPARE(none.events, QStringList{QStringLiteral("msg No subscribers found")});
    QVERIFY(m_db->exec(QStringLiteral("DROP VIEW vw_CallHandler")));
    RecordingSink broken;
    SubscriberQuery::run(criterion(SubscriberQuery::AllSubscribers), kConnection, broken);
    QCOMPARE(broken.events, QStringList{QStringLiteral("msg No subscribers found")});

    // Codes without a query do nothing at all.
    for (int code : {0, 3, int(SubscriberQuery::CsvFile), 11}) {
        RecordingSink nothing;
        SubscriberQuery::run(criterion(code), kConnection, nothing);
        QVERIFY(nothing.events.isEmpty());
    }
}

void TestSubscriberQuery::extensionRange()
{
    const auto range = [&](const QString& low, const QString& high) {
        Criteria criteria = criterion(SubscriberQuery::ExtensionRange);
        criteria.rangeLow = low;
        criteria.rangeHigh = high;
        auto sink = std::make_unique<RecordingSink>();
        SubscriberQuery::run(criteria, kConnection, *sink);
        return sink;
    };
    // Extensions compared as 20-digit texts: every subscriber with any extension from 100 to 999.
    QSet<QString> inRange;
    for (const QString& alias :
         expected(QStringLiteral("SELECT DISTINCT s.Alias AS a FROM subscriber s JOIN dtmfaccessid d ON "
                                 "d.ParentObjectID = s.SubscriberObjectID WHERE s.SubscriberType IN "
                                 "(1,2,3,5,7,8,9) AND length(d.DTMFAccessID) = 3 AND d.DTMFAccessID "
                                 "BETWEEN '100' AND '999'")))
        inRange.insert(alias);
    QVERIFY(inRange.size() > 10);
    auto found = range(QStringLiteral("100"), QStringLiteral("999"));
    const QStringList aliases = found->aliases();
    QCOMPARE(QSet<QString>(aliases.begin(), aliases.end()), inRange);
    QCOMPARE(aliases.size(), inRange.size());
    QCOMPARE(found->messages, QStringList());
    QCOMPARE(found->counts, oneTo(inRange.size()));

    // One extension; surrounding blanks and leading zeros change nothing.
    for (const auto& [low, high] : {std::pair{"401", "401"}, std::pair{" 401 ", "0401"}}) {
        auto one = range(QString::fromLatin1(low), QString::fromLatin1(high));
        QCOMPARE(one->aliases(), QStringList{QStringLiteral("user00013")});
        QCOMPARE(one->rows.constFirst().extension, QStringLiteral("401"));
    }

    const QString notNumeric =
        QStringLiteral("Invalid input for extension range.  Please input numbers only.");
    const QString order =
        QStringLiteral("Invalid extension range. First extension must be lower than the second.");
    QCOMPARE(range(QStringLiteral("abc"), QStringLiteral("100"))->events, QStringList{"msg " + notNumeric});
    QCOMPARE(range(QString(), QStringLiteral("100"))->events, QStringList{"msg " + notNumeric});
    QCOMPARE(range(QStringLiteral("200"), QStringLiteral("100"))->events, QStringList{"msg " + order});
    QCOMPARE(range(QStringLiteral("-5"), QStringLiteral("100"))->events, QStringList{"msg " + order});
    // Forms a number may take but an extension does not are refused rather than padded as typed.
    QCOMPARE(range(QStringLiteral("+5"), QStringLiteral("100"))->events, QStringList{"msg " + notNumeric});
    QCOMPARE(range(QStringLiteral("100"), QStringLiteral("1e3"))->events, QStringList{"msg " + notNumeric});
    QCOMPARE(SubscriberQuery::plainRangeDigits(QStringLiteral(" 0042 ")),
             std::optional(QStringLiteral("0042")));
    QCOMPARE(SubscriberQuery::plainRangeDigits(QStringLiteral("\t42")), std::nullopt);

    // A range without extensions: no rows, no message.
    QVERIFY(range(QStringLiteral("0"), QStringLiteral("99"))->events.isEmpty());

    // A subscriber whose call handler is gone has no details: it is passed over, the rest of the range
    // still comes, and one message at the end says how many were skipped.
    QStringList sorted(inRange.begin(), inRange.end());
    sorted.sort();
    const QString broken = sorted.at(sorted.size() / 2);
    QVERIFY(m_db->exec(QStringLiteral("DELETE FROM callhandler WHERE CallHandlerObjectID = (SELECT "
                                      "CallHandlerObjectID FROM subscriber WHERE Alias = ?)"),
                       {broken}));
    auto partial = range(QStringLiteral("100"), QStringLiteral("999"));
    QSet<QString> rest = inRange;
    rest.remove(broken);
    const QStringList partialAliases = partial->aliases();
    QCOMPARE(QSet<QString>(partialAliases.begin(), partialAliases.end()), rest);
    QCOMPARE(partial->messages, QStringList{QStringLiteral(
                                    "1 subscriber(s) of that range were skipped, because their details could "
                                    "not be read (no call handler).  The other subscribers of the range are "
                                    "in the grid.")});
    QVERIFY(partial->events.constLast().startsWith(QStringLiteral("msg ")));
}

void TestSubscriberQuery::classOfService()
{
    const auto byCos = [&](const QString& text, const QString& alias) {
        Criteria criteria = criterion(SubscriberQuery::ClassOfService);
        criteria.cosText = text;
        criteria.cosAlias = alias;
        auto sink = std::make_unique<RecordingSink>();
        SubscriberQuery::run(criteria, kConnection, *sink);
        return sink;
    };
    // The alias holds an apostrophe; the search for it still finds its own class of service.
    const QStringList directors = expected(
        QStringLiteral("SELECT s.Alias AS a FROM subscriber s JOIN callhandler c ON c.CallHandlerObjectID = "
                       "s.CallHandlerObjectID JOIN cos ON cos.CosObjectID = s.CosObjectId WHERE "
                       "s.SubscriberType IN (1,2,3,5,7,8,9) AND cos.Alias = 'Director''sOffice' ORDER BY "
                       "s.Alias"));
    QVERIFY(directors.size() > 20);
    auto found = byCos(QStringLiteral("Director's Office"), QStringLiteral("Director'sOffice"));
    QCOMPARE(found->aliases(), directors);
    QCOMPARE(found->counts, oneTo(directors.size()));
    QCOMPARE(found->rows.constFirst().cos, QStringLiteral("Director's Office"));

    QCOMPARE(byCos(QString(), QStringLiteral("Executives"))->events,
             QStringList{QStringLiteral("msg You must first select a COS")});
    QVERIFY(byCos(QStringLiteral("Gone"), QStringLiteral("NoSuchAlias"))->events.isEmpty());
}

void TestSubscriberQuery::switchMailServerLocationAndNode()
{
    const QString joined = QStringLiteral("SELECT s.Alias AS a FROM subscriber s JOIN callhandler c ON "
                                          "c.CallHandlerObjectID = s.CallHandlerObjectID WHERE "
                                          "s.SubscriberType IN (1,2,3,5,7,8,9) AND ");
    const auto run = [&](Criteria criteria) {
        auto sink = std::make_unique<RecordingSink>();
        SubscriberQuery::run(criteria, kConnection, *sink);
        return sink;
    };

    // Switches: the subscriber's own extension, only subscribers with a class of service, no counter.
    Criteria sw = criterion(SubscriberQuery::Switch);
    sw.switchText = QStringLiteral("East");
    sw.switchId = 2;
    const QString withCos =
        QStringLiteral("SELECT s.Alias AS a FROM subscriber s JOIN cos ON cos.CosObjectID "
                       "= s.CosObjectId WHERE s.SubscriberType IN (1,2,3,5,7,8,9) AND ");
    auto east = run(sw);
    QCOMPARE(east->aliases(), expected(withCos + QStringLiteral("s.SwitchID = 2 ORDER BY s.Alias")));
    QVERIFY(east->counts.isEmpty());
    sw.switchId = 0;
    auto unassigned = run(sw);
    QCOMPARE(unassigned->aliases(),
             expected(withCos + QStringLiteral("(s.SwitchID IS NULL OR s.SwitchID = 0) ORDER BY s.Alias")));
    QVERIFY(unassigned->rows.size() > east->rows.size());
    sw.switchId = 9;
    QCOMPARE(run(sw)->events, QStringList{QStringLiteral("msg No subscribers found for that switch")});
    sw.switchText.clear();
    QCOMPARE(run(sw)->events, QStringList{QStringLiteral("msg You must select a switch first")});

    Criteria mail = criterion(SubscriberQuery::MailServer);
    mail.mailServer = QStringLiteral("EXCH-BRANCH");
    auto branch = run(mail);
    QCOMPARE(branch->aliases(),
             expected(joined + QStringLiteral("s.HomeServer = 'EXCH-BRANCH' ORDER BY s.Alias")));
    QVERIFY(branch->rows.size() > 20);
    QVERIFY(branch->counts.isEmpty());
    mail.mailServer.clear();
    QCOMPARE(run(mail)->events, QStringList{QStringLiteral("msg You must select a mailstore first")});

    Criteria location = criterion(SubscriberQuery::Location);
    location.locationText = QStringLiteral("O'Hare Site");
    location.locationObjectId = QStringLiteral("{538453D7-10CA-4007-8000-000000000007}");
    auto ohare = run(location);
    QCOMPARE(ohare->aliases(), expected(joined + QStringLiteral("s.LocationObjectID = '") +
                                        location.locationObjectId + QStringLiteral("' ORDER BY s.Alias")));
    QVERIFY(!ohare->rows.isEmpty());
    location.locationText.clear();
    QCOMPARE(run(location)->events, QStringList{QStringLiteral("msg You must select a location first")});

    Criteria node = criterion(SubscriberQuery::NetworkNode);
    node.nodeText = QStringLiteral("101");
    auto bridge = run(node);
    QCOMPARE(bridge->aliases(), expected(joined + QStringLiteral("s.RemoteNodeID = '101' ORDER BY s.Alias")));
    QVERIFY(!bridge->rows.isEmpty());
    QCOMPARE(bridge->rows.constFirst().remoteNode, QStringLiteral("101"));
    // No node chosen is no error: the query runs and finds nothing.
    node.nodeText.clear();
    QVERIFY(run(node)->events.isEmpty());
}

void TestSubscriberQuery::apostrophesInValuesStayInsideTheLiteral()
{
    StandinFixture& db = *m_db;
    QVERIFY(db.exec(QStringLiteral("INSERT INTO cos (CosObjectID, Alias, TextName) VALUES "
                                   "('{C0''S}', 'Quote''Cos', 'Quoted')")));
    QVERIFY(
        db.exec(QStringLiteral("INSERT INTO location (LocationObjectID, Alias, TextName, DestinationType) "
                               "VALUES ('{L0''C}', 'quoteloc', 'Quoted Site', 7)")));
    QVERIFY(db.exec(QStringLiteral("INSERT INTO callhandler (CallHandlerObjectID, Alias, DTMFAccessID) "
                                   "VALUES ('{H-Q}', 'ch_q', '7777')")));
    QVERIFY(db.exec(
        QStringLiteral("INSERT INTO subscriber (SubscriberObjectID, Alias, SubscriberType, HomeServer, "
                       "RemoteNodeID, CallHandlerObjectID, CosObjectId, LocationObjectID) VALUES "
                       "('{S-Q}', 'quinn', 1, 'o''neil-mx', 'o''neil-mx', '{H-Q}', '{C0''S}', '{L0''C}')")));
    modOrvaneDB::CloseSharedLists();
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection)); // the new class of service joins the shared list

    Criteria mail = criterion(SubscriberQuery::MailServer);
    mail.mailServer = QStringLiteral("o'neil-mx");
    Criteria node = criterion(SubscriberQuery::NetworkNode);
    node.nodeText = QStringLiteral("o'neil-mx");
    Criteria location = criterion(SubscriberQuery::Location);
    location.locationText = QStringLiteral("Quoted Site");
    location.locationObjectId = QStringLiteral("{L0'C}");
    Criteria cos = criterion(SubscriberQuery::ClassOfService);
    cos.cosText = QStringLiteral("Quoted");
    cos.cosAlias = QStringLiteral("Quote'Cos");
    for (const Criteria& criteria : {mail, node, location, cos}) {
        RecordingSink sink;
        SubscriberQuery::run(criteria, kConnection, sink);
        QCOMPARE(sink.events, QStringList{QStringLiteral("row quinn")});
        QCOMPARE(sink.rows.constFirst().extension, QStringLiteral("7777"));
    }
    // A crafted value stays a value: nobody's home server is "x' OR 'a'='a".
    mail.mailServer = QStringLiteral("x' OR 'a'='a");
    RecordingSink crafted;
    SubscriberQuery::run(mail, kConnection, crafted);
    QVERIFY(crafted.events.isEmpty());
    QCOMPARE(Statements::homeServer(QStringLiteral("o'neil-mx")),
             Statements::SelectC + Statements::TypeFilter +
                 QStringLiteral(" AND vw_subscriber.HomeServer=N'o''neil-mx' ORDER BY vw_Subscriber.Alias"));
}

void TestSubscriberQuery::failuresKeepTheRowsAlreadyRead()
{
    // The range query reads each subscriber's details with a query of its own; the database goes away
    // after the second subscriber was added.
    Criteria criteria = criterion(SubscriberQuery::ExtensionRange);
    criteria.rangeLow = QStringLiteral("100");
    criteria.rangeHigh = QStringLiteral("999");
    RecordingSink sink;
    sink.onRow = [&](int rows) {
        if (rows == 2)
            QVERIFY(m_db->exec(QStringLiteral("DROP VIEW vw_CallHandler")));
    };
    SubscriberQuery::run(criteria, kConnection, sink);
    QCOMPARE(sink.rows.size(), 2);
    QCOMPARE(sink.messages,
             QStringList{QStringLiteral("Failed opening extension range recordset - exiting function.")});

    // Criteria 7, 5, 8 and 9 whose statement cannot be opened say so once, with the driver's reason.
    Criteria mail = criterion(SubscriberQuery::MailServer);
    mail.mailServer = QStringLiteral("MAILSRV01");
    Criteria cos = criterion(SubscriberQuery::ClassOfService);
    cos.cosText = QStringLiteral("Executives");
    cos.cosAlias = QStringLiteral("Executives");
    Criteria location = criterion(SubscriberQuery::Location);
    location.locationText = QStringLiteral("London AMIS");
    location.locationObjectId = QStringLiteral("{x}");
    Criteria node = criterion(SubscriberQuery::NetworkNode);
    for (const Criteria& c : {mail, cos, location, node}) {
        RecordingSink failed;
        SubscriberQuery::run(c, kConnection, failed);
        QVERIFY(failed.rows.isEmpty());
        QCOMPARE(failed.messages.size(), 1);
        QVERIFY2(failed.messages.constFirst().startsWith(QStringLiteral("The subscriber query failed.")),
                 qPrintable(failed.messages.constFirst()));
        QVERIFY2(failed.messages.constFirst().contains(QStringLiteral("vw_CallHandler")),
                 qPrintable(failed.messages.constFirst()));
    }
    // In the chosen language, as every other message.
    QTemporaryDir program;
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll"),
                        program.filePath(QStringLiteral("Culvane_DEU.dll"))));
    modLocalize::setProgramLocation(program.path(), QStringLiteral("Culvane"));
    modLocalize::setCurrentLangID(1031);
    modLocalize::reloadLanguageLibrary();
    QVERIFY(modLocalize::languageLibraryLoaded());
    RecordingSink german;
    SubscriberQuery::run(mail, kConnection, german);
    modLocalize::setProgramLocation(QString(), QString());
    modLocalize::resetLocalisation();
    QCOMPARE(german.messages.size(), 1);
    QVERIFY2(german.messages.constFirst().startsWith(
                 QStringLiteral("Die Teilnehmerabfrage ist fehlgeschlagen.  Das Raster enthält nur")),
             qPrintable(german.messages.constFirst()));
    QVERIFY2(german.messages.constFirst().contains(QStringLiteral("\n\nFehler ")) &&
                 german.messages.constFirst().contains(QStringLiteral("vw_CallHandler")),
             qPrintable(german.messages.constFirst()));
    // The switch statement does not need the call handlers and still runs.
    Criteria sw = criterion(SubscriberQuery::Switch);
    sw.switchText = QStringLiteral("East");
    sw.switchId = 2;
    RecordingSink switches;
    SubscriberQuery::run(sw, kConnection, switches);
    QVERIFY(!switches.rows.isEmpty());
    QVERIFY(switches.messages.isEmpty());
    QVERIFY(m_db->exec(QStringLiteral("DROP VIEW vw_COS")));
    RecordingSink noSwitch;
    SubscriberQuery::run(sw, kConnection, noSwitch);
    QCOMPARE(noSwitch.events, QStringList{QStringLiteral("msg Error opening recordset - exiting routine.")});
}

QTEST_GUILESS_MAIN(TestSubscriberQuery)
#include "test_subscriberquery.moc"
