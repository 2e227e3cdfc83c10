// Every statement the program sends, run through the real ODBC driver against a generated stand-in, and the
// stand-in generator itself.
#include "common/StandinFixture.h"
#include "ports/CulvaneError.h"
#include "server/Recordset.h"
#include "server/Statements.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QtTest>

namespace {

using Sample = Statements::SampleStatement;

const QString kConnection = Statements::ConnectionText;
const QStringList kSubscriberColumns = {
    "Alias", "DisplayName",        "FirstName",           "LastName",     "Extension",    "HomeServer",
    "COS",   "SubscriberObjectID", "CallHandlerObjectID", "RemoteNodeID", "LegacyMailbox"};

QStringList expectedColumns(const Sample& sample)
{
    switch (sample.kind) {
    case Sample::SubscriberRows:
        return kSubscriberColumns;
    case Sample::ExtensionRows: {
        QStringList columns = kSubscriberColumns;
        columns.replace(columns.indexOf(QStringLiteral("Extension")), QStringLiteral("DTMFAccessID"));
        return columns;
    }
    case Sample::SubscriberIds:
        return {QStringLiteral("SubscriberObjectID")};
    case Sample::TicketRows:
        return {QStringLiteral("Ticket"), QStringLiteral("result")};
    case Sample::SharedList:
    case Sample::CriterionList:
        break;
    }
    return {};
}

bool hasColumns(const QStringList& names, const QStringList& wanted)
{
    for (const QString& column : wanted) {
        bool found = false;
        for (const QString& name : names)
            found = found || name.compare(column, Qt::CaseInsensitive) == 0;
        if (!found)
            return false;
    }
    return true;
}

// All rows of a statement, opened as the subscriber queries open theirs: client cursor, forward-only.
QVector<QVariantMap> rowsOf(const QString& statement, QStringList* names = nullptr)
{
    Recordset records;
    records.setCursorLocation(Recordset::adUseClient);
    records.Open(statement, kConnection, Recordset::adOpenForwardOnly, Recordset::adLockReadOnly,
                 Recordset::adCmdUnspecified);
    if (records.state() != Recordset::adStateOpen)
        return {};
    if (names)
        *names = records.fieldNames();
    QVector<QVariantMap> rows;
    for (; !records.EOF_(); records.MoveNext()) {
        QVariantMap row;
        for (const QString& name : records.fieldNames())
            row.insert(name.toLower(), records.field(name));
        rows.append(row);
    }
    records.Close();
    return rows;
}

QString text(const QVariantMap& row, const char* column)
{
    return row.value(QString::fromLatin1(column).toLower()).toString();
}

int count(StandinFixture& standin, const QString& sql, const QVariantList& values = {})
{
    return standin.scalar(sql, values).toInt();
}

// A fingerprint of everything new-orvanedb generated.
QString fingerprint(StandinFixture& standin)
{
    return standin
        .scalar(QStringLiteral(
            "SELECT group_concat(x, '|') FROM ("
            "SELECT SubscriberObjectID || Alias || coalesce(DTMFAccessID, '-') || coalesce(CosObjectId, '-') "
            "|| "
            "coalesce(SwitchID, '-') || coalesce(HomeServer, '-') || SubscriberType AS x FROM subscriber "
            "UNION ALL SELECT DTMFAccessID || ParentObjectID FROM dtmfaccessid "
            "UNION ALL SELECT CosObjectID || Alias || TextName FROM cos ORDER BY 1)"))
        .toString();
}

} // namespace

class TestStatements : public QObject {
    Q_OBJECT

private slots:
    void everyStatementRunsOnTheStandin();
    void procedureCallsRunOnTheStandin();
    void everySplicedValueIsAUnicodeLiteral();
    void generatorMakesTheVarietyTheProgramMeets();
    void generatorIsDeterministicAndFast();
    void theDemoShowsOneSubscriberWithoutAClassOfService();
};

void TestStatements::everyStatementRunsOnTheStandin()
{
    StandinFixture standin(300);
    QVERIFY(standin.isValid());
    const Statements::SampleValues values;
    const QVector<Sample> samples = Statements::sampleStatements(values);
    QCOMPARE(samples.size(), 22);

    QMap<QString, QVector<QVariantMap>> results;
    for (const Sample& sample : samples) {
        QStringList names;
        try {
            results.insert(sample.name, rowsOf(sample.text, &names));
        } catch (const CulvaneError& error) {
            QFAIL(qPrintable(QStringLiteral("%1 failed: %2 %3\n%4")
                                 .arg(sample.name)
                                 .arg(error.number())
                                 .arg(error.description(), sample.text)));
        }
        QVERIFY2(hasColumns(names, expectedColumns(sample)),
                 qPrintable(sample.name + QStringLiteral(": ") + names.join(QLatin1Char(','))));
        if (sample.kind != Sample::TicketRows)
            QVERIFY2(!results.value(sample.name).isEmpty(),
                     qPrintable(sample.name + QStringLiteral(" found nothing")));
    }

    const QString sampleSubscriber = values.subscriberObjectId;
    const QString typeList = QStringLiteral("SubscriberType IN (1,2,3,5,7,8,9)");

    QCOMPARE(results["distribution lists"].size(), 5);
    QCOMPARE(results["classes of service"].size(), 8);
    QCOMPARE(results["archived mailbox count"].first().first().toInt(), 6);
    QCOMPARE(results["mail servers"].size(), 3);
    QCOMPARE(results["locations"].size(), 5);
    QStringList nodes;
    for (const QVariantMap& row : results["networking nodes"])
        nodes.append(text(row, "RemoteNodeID"));
    QCOMPARE(nodes, (QStringList{"101", "102", "2055", "300"}));

    QCOMPARE(results["all subscribers"].size(),
             count(standin, QStringLiteral("SELECT count(*) FROM subscriber WHERE ") + typeList));
    QCOMPARE(text(results["all subscribers"].first(), "Alias"), QStringLiteral("josé.müller166"));
    for (int i = 1; i < results["all subscribers"].size(); ++i) {
        const QString before = text(results["all subscribers"].at(i - 1), "Alias");
        const QString after = text(results["all subscribers"].at(i), "Alias");
        QVERIFY2(before.compare(after, Qt::CaseInsensitive) < 0,
                 qPrintable(before + QStringLiteral(" > ") + after));
    }
    int withoutCos = 0;
    for (const QVariantMap& row : results["all subscribers"])
        withoutCos += row.value(QStringLiteral("cos")).isNull() ? 1 : 0;
    QCOMPARE(withoutCos,
             count(standin, QStringLiteral("SELECT count(*) FROM subscriber WHERE CosObjectId IS NULL AND ") +
                                typeList));
    QCOMPARE(withoutCos, 1); // subscriber 7
    QCOMPARE(results["archived mailboxes"].size(), 6);

    // Ranges compare the padded extensions as SQL Server does, ignoring the blank after the low end.
    const QVector<QVariantMap>& exact = results["extension range of one"];
    QCOMPARE(exact.size(), 1);
    QCOMPARE(text(exact.first(), "SubscriberObjectID"), sampleSubscriber);
    QCOMPARE(
        results["extension range"].size(),
        count(standin,
              QStringLiteral("SELECT count(DISTINCT d.ParentObjectID) FROM dtmfaccessid d JOIN subscriber "
                             "s ON s.SubscriberObjectID = d.ParentObjectID WHERE s.") +
                  typeList + QStringLiteral(" AND CAST(d.DTMFAccessID AS INTEGER) BETWEEN ? AND ?"),
              {values.rangeLow.toInt(), values.rangeHigh.toInt()}));
    QCOMPARE(results["subscriber detail"].size(), 1);
    QCOMPARE(text(results["subscriber detail"].first(), "Extension"), values.extension);
    QCOMPARE(text(results["subscriber detail"].first(), "Alias"), QStringLiteral("user00013"));

    QCOMPARE(results["class of service"].size(),
             count(standin,
                   QStringLiteral("SELECT count(*) FROM subscriber WHERE CosObjectId = ? AND ") + typeList,
                   {values.cosObjectId}));
    for (const QVariantMap& row : results["class of service"])
        QCOMPARE(text(row, "COS"), QStringLiteral("Standard Users"));

    QCOMPARE(results["switch"].size(),
             count(standin,
                   QStringLiteral("SELECT count(*) FROM subscriber WHERE SwitchID = 2 AND CosObjectId IS NOT "
                                  "NULL AND ") +
                       typeList));
    QCOMPARE(results["switch 0"].size(),
             count(standin,
                   QStringLiteral("SELECT count(*) FROM subscriber WHERE (SwitchID IS NULL OR SwitchID = 0) "
                                  "AND CosObjectId IS NOT NULL AND ") +
                       typeList));

    for (const QVariantMap& row : results["mail server"])
        QCOMPARE(text(row, "HomeServer"), values.homeServer);
    QCOMPARE(
        results["location"].size(),
        count(standin,
              QStringLiteral("SELECT count(*) FROM subscriber WHERE LocationObjectID = ? AND ") + typeList,
              {values.locationObjectId}));
    for (const QVariantMap& row : results["networking node"])
        QCOMPARE(text(row, "RemoteNodeID"), values.remoteNode);

    const QVector<QVariantMap>& byExtension = results["CSV extension"];
    QCOMPARE(byExtension.size(), 1);
    QCOMPARE(text(byExtension.first(), "SubscriberObjectID"), sampleSubscriber);
    QCOMPARE(text(byExtension.first(), "DTMFAccessID"), values.extension);
    QCOMPARE(results["CSV second extension"].size(), 1);
    QCOMPARE(text(results["CSV second extension"].first(), "SubscriberObjectID"), sampleSubscriber);
    QCOMPARE(text(results["CSV second extension"].first(), "DTMFAccessID"), values.secondExtension);
    QCOMPARE(results["CSV alias"].size(), 1);
    QCOMPARE(text(results["CSV alias"].first(), "Alias"), values.alias);

    QVERIFY(results["ticket poll"].isEmpty());
}

// A name outside the server's code page must reach it whole: every literal that carries a value is N'...',
// and the stand-in, which knows no N'...', still finds accented names through them.
void TestStatements::everySplicedValueIsAUnicodeLiteral()
{
    Statements::SampleValues marked;
    marked.subscriberObjectId = QStringLiteral("VAL-SUBSCRIBER");
    marked.extension = QStringLiteral("VAL-EXT");
    marked.secondExtension = QStringLiteral("VAL-EXT2");
    marked.rangeLow = QStringLiteral("VAL-LOW");
    marked.rangeHigh = QStringLiteral("VAL-HIGH");
    marked.cosObjectId = QStringLiteral("VAL-COS");
    marked.homeServer = QStringLiteral("VAL-SERVER");
    marked.locationObjectId = QStringLiteral("VAL-LOCATION");
    marked.remoteNode = QStringLiteral("VAL-NODE");
    marked.alias = QStringLiteral("VAL-ALIAS");
    marked.ticket = QStringLiteral("VAL-TICKET");
    marked.secondTicket = QStringLiteral("VAL-SECOND-TICKET");
    int literals = 0;
    for (const Sample& sample : Statements::sampleStatements(marked)) {
        const QString& sql = sample.text;
        for (int open = sql.indexOf(QLatin1Char('\'')); open >= 0;) {
            int close = open + 1;
            while (close < sql.size() && (sql.at(close) != QLatin1Char('\'') ||
                                          (close + 1 < sql.size() && sql.at(close + 1) == QLatin1Char('\''))))
                close += sql.at(close) == QLatin1Char('\'') ? 2 : 1;
            if (sql.mid(open, close - open).contains(QLatin1String("VAL-"))) {
                ++literals;
                QVERIFY2(open > 0 && sql.at(open - 1) == QLatin1Char('N'),
                         qPrintable(sample.name + QStringLiteral(": ") + sql.mid(qMax(0, open - 20), 60)));
            }
            open = sql.indexOf(QLatin1Char('\''), close + 1);
        }
    }
    QCOMPARE(literals, 15); // every value of every sample statement

    StandinFixture standin(300);
    QVERIFY(standin.isValid());
    const QVector<QVariantMap> accented =
        rowsOf(Statements::csvByAlias(QStringLiteral("JOS\u00e9.M\u00fcLLER166")));
    QCOMPARE(accented.size(), 1);
    QCOMPARE(text(accented.first(), "Alias"), QStringLiteral("jos\u00e9.m\u00fcller166"));
    const QString server = text(accented.first(), "HomeServer");
    QVERIFY(!rowsOf(Statements::homeServer(server)).isEmpty());
}

void TestStatements::procedureCallsRunOnTheStandin()
{
    StandinFixture standin(300);
    QVERIFY(standin.isValid());
    const Statements::SampleValues values;
    QVector<Command> calls = Statements::sampleProcedureCalls(kConnection, values);
    QCOMPARE(calls.size(), 2);

    calls[0].Execute();
    QCOMPARE(count(standin, QStringLiteral("SELECT count(*) FROM subscriber WHERE SubscriberObjectID = ?"),
                   {values.subscriberObjectId}),
             0);
    QCOMPARE(standin.scalar(QStringLiteral("SELECT ForceRemoveEAdmin FROM standin_deletions")).toInt(), 1);
    const QVector<QVariantMap> ticket = rowsOf(Statements::ticketPoll(values.ticket));
    QCOMPARE(ticket.size(), 1);
    QCOMPARE(ticket.first().value(QStringLiteral("result")), QVariant(0));

    // The deleted subscriber is gone from every statement that found it.
    QVERIFY(rowsOf(Statements::extensionRange(values.extension, values.extension)).isEmpty());
    QVERIFY(rowsOf(Statements::csvByExtension(values.secondExtension)).isEmpty());

    calls[1].Execute();
    QVERIFY(rowsOf(Statements::ticketPoll(values.ticket)).isEmpty());
}

void TestStatements::generatorMakesTheVarietyTheProgramMeets()
{
    StandinFixture standin(300);
    QVERIFY(standin.isValid());
    auto has = [&](const QString& condition) {
        return count(standin, QStringLiteral("SELECT count(*) FROM subscriber WHERE ") + condition) > 0;
    };
    for (int type : {1, 2, 3, 5, 7, 8, 9})
        QVERIFY2(has(QStringLiteral("SubscriberType = %1").arg(type)), qPrintable(QString::number(type)));
    QVERIFY(has(QStringLiteral("SubscriberType = 0 AND CallHandlerObjectID IS NOT NULL")));
    QVERIFY(has(QStringLiteral("SubscriberType = 0 AND CallHandlerObjectID IS NULL")));
    QVERIFY(has(QStringLiteral("SwitchID IS NULL")));
    for (int id : {0, 1, 2})
        QVERIFY(has(QStringLiteral("SwitchID = %1").arg(id)));
    QVERIFY(has(QStringLiteral("CosObjectId IS NULL")));
    QVERIFY(has(QStringLiteral("RemoteNodeID IS NULL")));
    QVERIFY(has(QStringLiteral("Alias LIKE '%''%'")));
    QVERIFY(has(QStringLiteral("Alias LIKE '% %'")));
    QVERIFY(has(QStringLiteral("Alias = 'josé.müller2'")));
    QCOMPARE(count(standin, QStringLiteral("SELECT count(DISTINCT length(DTMFAccessID)) FROM subscriber")),
             13);
    QCOMPARE(count(standin, QStringLiteral("SELECT min(length(DTMFAccessID)) FROM subscriber")), 3);
    QCOMPARE(count(standin, QStringLiteral("SELECT max(length(DTMFAccessID)) FROM subscriber")), 15);
    QCOMPARE(
        count(standin, QStringLiteral("SELECT count(*) - count(DISTINCT DTMFAccessID) FROM dtmfaccessid")),
        0);
    QVERIFY(count(standin,
                  QStringLiteral("SELECT count(*) FROM (SELECT ParentObjectID FROM dtmfaccessid GROUP BY "
                                 "ParentObjectID HAVING count(*) >= 3)")) > 0);
    QCOMPARE(count(standin, QStringLiteral("SELECT count(*) FROM (SELECT TextName FROM cos GROUP BY TextName "
                                           "HAVING count(DISTINCT Alias) = 2)")),
             1);
    QCOMPARE(count(standin, QStringLiteral("SELECT count(DISTINCT HomeServer) FROM subscriber")), 3);
    QCOMPARE(
        count(standin, QStringLiteral("SELECT count(*) FROM location WHERE DestinationType IN (5,7,8,9)")),
        5);
    QCOMPARE(count(standin,
                   QStringLiteral("SELECT count(*) FROM location WHERE DestinationType NOT IN (5,7,8,9)")),
             3);

    // With no subscribers the reference rows are still there.
    StandinFixture empty(0);
    QVERIFY(empty.isValid());
    QCOMPARE(count(empty, QStringLiteral("SELECT count(*) FROM subscriber")), 0);
    QCOMPARE(count(empty, QStringLiteral("SELECT count(*) FROM cos")), 8);
    QCOMPARE(count(empty, QStringLiteral("SELECT count(*) FROM location")), 8);
    QCOMPARE(count(empty, QStringLiteral("SELECT count(*) FROM distributionlist")), 5);
}

void TestStatements::generatorIsDeterministicAndFast()
{
    QString first;
    {
        StandinFixture standin(500);
        QVERIFY(standin.isValid());
        first = fingerprint(standin);
    }
    StandinFixture again(500);
    QVERIFY(again.isValid());
    QVERIFY(!first.isEmpty());
    QCOMPARE(fingerprint(again), first);

    // Building a stand-in of 30,000 subscribers stays well within ten seconds.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString target = folder.filePath(QStringLiteral("nested/OrvaneDb"));
    QElapsedTimer timer;
    timer.start();
    QProcess maker;
    maker.start(QStringLiteral(CULVANE_SOURCE_DIR "/standin/new-orvanedb"),
                {target, QStringLiteral("30000")});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 0);
    const qint64 elapsed = timer.elapsed();
    qInfo("new-orvanedb with 30000 subscribers: %lld ms", elapsed);
    QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed)));

    // Running it again replaces the file.
    maker.start(QStringLiteral(CULVANE_SOURCE_DIR "/standin/new-orvanedb"), {target, QStringLiteral("3")});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 0);
    QProcess check;
    check.start(QStringLiteral("sqlite3"), {target, QStringLiteral("SELECT count(*) FROM subscriber")});
    QVERIFY(check.waitForFinished(30000));
    QCOMPARE(check.readAllStandardOutput().trimmed(), QByteArray("3"));

    maker.start(QStringLiteral(CULVANE_SOURCE_DIR "/standin/new-orvanedb"), {target, QStringLiteral("many")});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 2);
}

void TestStatements::theDemoShowsOneSubscriberWithoutAClassOfService()
{
    // The demo's stand-in: the grid refuses each subscriber without a class of service with a message, so a
    // first "All subscribers" meets one such message, not twenty.
    StandinFixture standin(2000);
    QVERIFY(standin.isValid());
    // The identifiers of the rows without one; a generated subscriber's identifier ends in its number.
    const auto withoutCos = [](const QVector<QVariantMap>& rows) {
        QSet<QString> numbers;
        for (const QVariantMap& row : rows) {
            if (text(row, "COS").isEmpty())
                numbers.insert(text(row, "SubscriberObjectID").right(13).left(12));
        }
        return numbers;
    };
    const auto generated = [](int n) {
        return QStringLiteral("%1").arg(n, 12, 16, QLatin1Char('0')).toUpper();
    };
    const QVector<QVariantMap> all = rowsOf(Statements::allSubscribers());
    QVERIFY(all.size() > 1500);
    QCOMPARE(withoutCos(all), QSet<QString>{generated(7)});

    // The others are archived mailboxes, the one criterion "All subscribers" leaves out: every hundredth,
    // from the fiftieth on.
    QSet<QString> archivedWithout;
    for (int n = 50; n <= 2000; n += 100)
        archivedWithout.insert(generated(n));
    const QVector<QVariantMap> archived = rowsOf(Statements::archivedSubscribers());
    QCOMPARE(archived.size(), 40);
    QCOMPARE(withoutCos(archived), archivedWithout);
    // The CSV import finds them by alias too.
    const QVector<QVariantMap> byAlias = rowsOf(Statements::csvByAlias(QStringLiteral("user01950")));
    QCOMPARE(byAlias.size(), 1);
    QVERIFY(text(byAlias.first(), "COS").isEmpty());
    QCOMPARE(count(standin, QStringLiteral("SELECT count(*) FROM subscriber WHERE CosObjectId IS NULL")), 21);
}

QTEST_GUILESS_MAIN(TestStatements)

#include "test_statements.moc"
