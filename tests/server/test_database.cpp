// The database layer against a fresh stand-in OrvaneDb, through Qt's ODBC driver and the SQLite ODBC driver.
#include "common/StandinFixture.h"
#include "ports/CulvaneError.h"
#include "server/Command.h"
#include "server/DbConnection.h"
#include "server/OdbcSetup.h"
#include "server/Recordset.h"
#include "server/SqlDialect.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <functional>

namespace {

const QString kConnection = Statements::ConnectionText;
const char* const kChildVariable = "CULVANE_TEST_DATABASE_CHILD";

// The error a call raises; fails the test when it raises none.
CulvaneError raised(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CulvaneError& error) {
        return error;
    }
    return CulvaneError(0, QStringLiteral("(no error raised)"));
}

// The object identifier of generated subscriber n.
QString subscriberId(StandinFixture& standin, int n)
{
    return standin.scalar(QStringLiteral("SELECT SubscriberObjectID FROM subscriber WHERE rowid = ?"), {n})
        .toString();
}

QVariant deletionValue(StandinFixture& standin, const QString& column, const QString& subscriber)
{
    return standin.scalar(
        QStringLiteral("SELECT %1 FROM standin_deletions WHERE SubscriberObjectID = ?").arg(column),
        {subscriber});
}

// The ticket's result as the program's poll reads it; an invalid QVariant when there is no row.
QVariant polledResult(const QString& ticket)
{
    Recordset poll;
    poll.Open(Statements::ticketPoll(ticket), kConnection, Recordset::adOpenKeyset);
    const QVariant result = poll.RecordCount() > 0 ? poll.field(QStringLiteral("result")) : QVariant();
    poll.Close();
    return result;
}

const QString kNoCurrentRecord = QStringLiteral("Either BOF or EOF is True, or the current record has been "
                                                "deleted. Requested operation requires a current record.");
const QString kItemNotFound =
    QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal.");
const QString kClosed = QStringLiteral("Operation is not allowed when the object is closed.");

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void recordsetWalksAndReports();
    void findMatchesLikeTheServer();
    void nullsAndTexts();
    void guidsReadAsAdoRendersThem();
    void driverErrorsCarryNumberAndMessage();
    void sharedListsOpenAndClose();
    void sharedListsFailWithoutTheirViews();
    void sharedListsFailWithoutDriver();
    void openRecordsetsDoNotBlockProcedures();
    void everyStatementIsForwardOnly();
    void deleteSubscriberProcedure();
    void deleteTicketProcedure();
    void dialectAdaptsOnlyWhatSqliteLacks();
    void connectionTextsReadAsTheirPairPattern();
    void credentialsAsEachDriverReadsThem();
    void oneConnectionPerTextIsKeptAndChecked();
    void aMissingStandinIsNeverCreated();
    void aLockedDatabaseFailsInBoundedTime();
    void failuresOnThisSideAreToldFromRefusals();
};

void TestDatabase::cleanup()
{
    modOrvaneDB::CloseSharedLists();
}

void TestDatabase::recordsetWalksAndReports()
{
    StandinFixture standin(0);
    QVERIFY(standin.isValid());

    Recordset cos;
    QCOMPARE(cos.state(), Recordset::adStateClosed);
    cos.Open(Statements::CosStatement, kConnection, Recordset::adOpenForwardOnly);
    QCOMPARE(cos.state(), Recordset::adStateOpen);
    QCOMPARE(cos.RecordCount(), 8);
    QVERIFY(!cos.BOF_());
    QCOMPARE(cos.fieldNames(), (QStringList{"CosObjectID", "Alias", "TextName"}));

    QStringList names;
    while (!cos.EOF_()) {
        names.append(cos.fieldText(QStringLiteral("TextName")));
        cos.MoveNext();
    }
    QCOMPARE(names.size(), 8);
    QCOMPARE(names.first(), QStringLiteral("Default Administrator"));
    QCOMPARE(names.last(), QStringLiteral("Élèves et étudiants"));
    QCOMPARE(names.count(QStringLiteral("Standard Users")), 2);

    CulvaneError atEnd = raised([&] { cos.field(QStringLiteral("TextName")); });
    QCOMPARE(atEnd.number(), 3021);
    QCOMPARE(atEnd.description(), kNoCurrentRecord);
    QCOMPARE(raised([&] { cos.MoveNext(); }).number(), 3021);

    // A forward-only recordset walks again from the start.
    cos.MoveFirst();
    QVERIFY(!cos.EOF_());
    QCOMPARE(cos.fieldText(QStringLiteral("tEXTnAME")), names.first());
    QCOMPARE(cos.field(QStringLiteral("ALIAS")).toString(), QStringLiteral("DefaultAdministrator"));
    int again = 0;
    for (; !cos.EOF_(); cos.MoveNext())
        ++again;
    QCOMPARE(again, 8);

    cos.MoveFirst();
    CulvaneError missing = raised([&] { cos.field(QStringLiteral("NoSuchColumn")); });
    QCOMPARE(missing.number(), 3265);
    QCOMPARE(missing.description(), kItemNotFound);

    cos.Close();
    QCOMPARE(cos.state(), Recordset::adStateClosed);
    CulvaneError twice = raised([&] { cos.Close(); });
    QCOMPARE(twice.number(), 3704);
    QCOMPARE(twice.description(), kClosed);
    QCOMPARE(raised([&] { cos.RecordCount(); }).number(), 3704);
    QCOMPARE(raised([&] { cos.EOF_(); }).number(), 3704);

    // Opened again after Close, on a statement without rows: BOF and EOF both, no first record.
    cos.Open(QStringLiteral("Select * from vw_COS where Alias='nobody'"), kConnection,
             Recordset::adOpenKeyset);
    QCOMPARE(cos.RecordCount(), 0);
    QVERIFY(cos.EOF_());
    QVERIFY(cos.BOF_());
    QCOMPARE(raised([&] { cos.MoveFirst(); }).number(), 3021);
    QCOMPARE(raised([&] { cos.Open(Statements::CosStatement, kConnection); }).number(), 3705);
    cos.Close();
}

void TestDatabase::findMatchesLikeTheServer()
{
    StandinFixture standin(0);
    QVERIFY(standin.isValid());

    Recordset cos;
    cos.setCursorLocation(Recordset::adUseServer);
    cos.Open(Statements::CosStatement, kConnection, Recordset::adOpenKeyset);
    QCOMPARE(cos.cursorLocation(), Recordset::adUseServer);

    cos.MoveFirst();
    cos.Find(QStringLiteral("Alias='StandardUsersWest'"), 0, Recordset::adSearchForward);
    QVERIFY(!cos.EOF_());
    QCOMPARE(cos.fieldText(QStringLiteral("CosObjectID")),
             QStringLiteral("{78DDE6C4-C050-4004-8000-000000000004}"));

    // Letter case is ignored, as the server's collation does; the two same-named classes stay apart.
    cos.MoveFirst();
    cos.Find(QStringLiteral("Alias='standardusersEAST'"));
    QCOMPARE(cos.fieldText(QStringLiteral("CosObjectID")),
             QStringLiteral("{DAA66D13-C050-4003-8000-000000000003}"));
    QCOMPARE(cos.fieldText(QStringLiteral("TextName")), QStringLiteral("Standard Users"));

    // A doubled apostrophe is one apostrophe; a lone one inside the quotes is taken as written.
    cos.MoveFirst();
    cos.Find(QStringLiteral("Alias='Director''sOffice'"));
    QCOMPARE(cos.fieldText(QStringLiteral("TextName")), QStringLiteral("Director's Office"));
    cos.MoveFirst();
    cos.Find(QStringLiteral("Alias='Director'sOffice'"));
    QCOMPARE(cos.fieldText(QStringLiteral("TextName")), QStringLiteral("Director's Office"));

    // The search starts at the current row: a match before it is not found.
    cos.Find(QStringLiteral("Alias='DefaultAdministrator'"));
    QVERIFY(cos.EOF_());

    cos.MoveFirst();
    cos.Find(QStringLiteral("TextName = 'Élèves et étudiants'"));
    QCOMPARE(cos.fieldText(QStringLiteral("Alias")), QStringLiteral("Students"));

    QCOMPARE(raised([&] { cos.Find(QStringLiteral("Alias")); }).number(), 3001);
    QCOMPARE(raised([&] { cos.Find(QStringLiteral("Nope='x'")); }).number(), 3265);
    cos.Close();

    Recordset locations;
    locations.Open(QStringLiteral("select * from vw_Location order by TextName"), kConnection,
                   Recordset::adOpenKeyset);
    locations.Find(QStringLiteral("DestinationType=9"));
    QCOMPARE(locations.fieldText(QStringLiteral("TextName")), QStringLiteral("Tokyo Internet"));
    locations.MoveFirst();
    locations.Find(QStringLiteral("DestinationType=5"));
    QCOMPARE(locations.fieldText(QStringLiteral("TextName")), QStringLiteral("New York Bridge"));
    locations.Find(QStringLiteral("DestinationType=5"), 1);
    QCOMPARE(locations.fieldText(QStringLiteral("TextName")), QStringLiteral("O'Hare Site"));
    locations.Find(QStringLiteral("DestinationType=0"), 0, Recordset::adSearchBackward);
    QCOMPARE(locations.fieldText(QStringLiteral("TextName")), QStringLiteral("Default Location"));
    locations.Find(QStringLiteral("DestinationType=42"), 0, Recordset::adSearchBackward);
    QVERIFY(locations.BOF_());
    locations.Close();
}

void TestDatabase::nullsAndTexts()
{
    StandinFixture standin(60);
    QVERIFY(standin.isValid());

    Recordset rows;
    rows.Open(QStringLiteral("select Alias, RemoteNodeID, SubscriberType, SwitchID from vw_Subscriber "
                             "where Alias in ('josé.müller2', 'user00013') order by Alias"),
              kConnection, Recordset::adOpenKeyset);
    QCOMPARE(rows.RecordCount(), 2);
    QCOMPARE(rows.fieldText(QStringLiteral("Alias")), QStringLiteral("josé.müller2"));
    QVERIFY(rows.field(QStringLiteral("RemoteNodeID")).isNull());
    CulvaneError null = raised([&] { rows.fieldText(QStringLiteral("RemoteNodeID")); });
    QCOMPARE(null.number(), 94);
    QCOMPARE(null.description(), QStringLiteral("Invalid use of Null"));
    QCOMPARE(rows.fieldText(QStringLiteral("SubscriberType")), QStringLiteral("1"));
    QCOMPARE(rows.field(QStringLiteral("SwitchID")).toInt(), 1);
    rows.MoveNext();
    QCOMPARE(rows.fieldText(QStringLiteral("Alias")), QStringLiteral("user00013"));
    rows.Close();

    // Text comparisons in the stand-in ignore letter case, also for accented letters in the query.
    rows.Open(QStringLiteral("select Alias from vw_Subscriber where Alias = 'O''BRIEN38'"), kConnection);
    QCOMPARE(rows.RecordCount(), 1);
    QCOMPARE(rows.fieldText(QStringLiteral("alias")), QStringLiteral("o'brien38"));
    rows.Close();
}

void TestDatabase::guidsReadAsAdoRendersThem()
{
    const auto guid = [](const QVariant& value) { return Recordset::guidValue(value); };
    QCOMPARE(guid(QStringLiteral("81af14c1-5b5c-400d-8000-00000000000d")).toString(),
             QStringLiteral("{81AF14C1-5B5C-400D-8000-00000000000D}"));
    QCOMPARE(guid(QStringLiteral("81AF14C1-5B5C-400D-8000-00000000000D")).toString(),
             QStringLiteral("{81AF14C1-5B5C-400D-8000-00000000000D}"));
    QCOMPARE(guid(QStringLiteral("{81af14c1-5b5c-400d-8000-00000000000d}")).toString(),
             QStringLiteral("{81AF14C1-5B5C-400D-8000-00000000000D}"));
    QCOMPARE(guid(QStringLiteral("00000000-0000-0000-0000-000000000000")).toString(),
             QStringLiteral("{00000000-0000-0000-0000-000000000000}"));
    QVERIFY(guid(QVariant(QMetaType::fromType<QString>())).isNull());
    QCOMPARE(guid(QStringLiteral("not a guid")).toString(), QStringLiteral("not a guid"));

    // Text columns are read as they are: the stand-in's SQLite driver reports no uniqueidentifier.
    StandinFixture standin(0);
    QVERIFY(standin.isValid());
    QVERIFY(standin.exec(QStringLiteral("CREATE TABLE ids (Id uniqueidentifier)")));
    QVERIFY(standin.exec(QStringLiteral("INSERT INTO ids VALUES ('81af14c1-5b5c-400d-8000-00000000000d')")));
    Recordset rows;
    rows.Open(QStringLiteral("select Id from ids"), kConnection);
    QCOMPARE(rows.fieldText(QStringLiteral("Id")), QStringLiteral("81af14c1-5b5c-400d-8000-00000000000d"));
    rows.Close();
}

void TestDatabase::driverErrorsCarryNumberAndMessage()
{
    StandinFixture standin(0);
    QVERIFY(standin.isValid());

    Recordset missing;
    CulvaneError error =
        raised([&] { missing.Open(QStringLiteral("select * from vw_Missing"), kConnection); });
    QCOMPARE(error.number(), 1); // SQLite's native SQLITE_ERROR
    QVERIFY2(error.description().contains(QStringLiteral("no such table: vw_Missing")),
             qPrintable(error.description()));
    QCOMPARE(missing.state(), Recordset::adStateClosed);

    CulvaneError syntax = raised([&] { missing.Open(QStringLiteral("selec nothing"), kConnection); });
    QCOMPARE(syntax.number(), 1);
    QVERIFY2(syntax.description().contains(QStringLiteral("syntax error")), qPrintable(syntax.description()));

    // No native number from the driver manager: the provider's general failure.
    CulvaneError noDriver = raised([&] {
        missing.Open(Statements::CosStatement, QStringLiteral("Driver={No Such Driver};database=OrvaneDb"));
    });
    QCOMPARE(noDriver.number(), -2147467259);
    QVERIFY2(noDriver.description().contains(QStringLiteral("No Such Driver")),
             qPrintable(noDriver.description()));

    CulvaneError empty = raised([&] { missing.Open(Statements::CosStatement, QString()); });
    QCOMPARE(empty.number(), 3709);
    QCOMPARE(missing.state(), Recordset::adStateClosed);

    // Every connection is released: nothing stays behind after the failures and a normal open and close.
    Recordset fine;
    fine.Open(Statements::CosStatement, kConnection);
    fine.Close();
    QCOMPARE(QSqlDatabase::connectionNames().size(), 1); // the one kept for the connection text
    QCOMPARE(DbConnection::keptConnectionCount(), 1);
    DbConnection::closeKeptConnections();
    QCOMPARE(QSqlDatabase::connectionNames().size(), 0);

    // The detail names the data source and gives the driver's own number and message.
    QCOMPARE(error.detail(),
             QStringLiteral("Data source: Driver={SQL Server};server=;database=OrvaneDb\nDriver error 1: ") +
                 error.description());
    QVERIFY2(noDriver.detail().startsWith(
                 QStringLiteral("Data source: Driver={No Such Driver};database=OrvaneDb\nDriver error ")),
             qPrintable(noDriver.detail()));
    QVERIFY(empty.detail().isEmpty()); // the program's own error, nothing beneath it

    // A refused sign-in as QODBC reports it: Qt 6.4 with the number of the driver's first record, later Qt
    // with every record's number in the driver's order. Either way the server's number names it, and the
    // password stays hidden.
    const QString refusal = QStringLiteral("[FreeTDS][SQL Server]Unable to connect to data source "
                                           "[FreeTDS][SQL Server]Login failed for user 'culvane'.");
    const QString text = QStringLiteral("DSN=OrvaneDb;database=OrvaneDb;UID=culvane;PWD=wrong");
    for (const QString& codes :
         {QStringLiteral("18456"), QStringLiteral("18456;0"), QStringLiteral("0;18456")}) {
        const CulvaneError refused = raised([&] {
            DbConnection::raise(QSqlError(QStringLiteral("QODBC: Unable to connect"), refusal,
                                          QSqlError::ConnectionError, codes),
                                text);
        });
        QCOMPARE(refused.number(), 18456);
        QCOMPARE(refused.description(), refusal);
        QCOMPARE(refused.detail(),
                 QStringLiteral("Data source: DSN=OrvaneDb;database=OrvaneDb;UID=culvane;PWD=***\n"
                                "Driver error 18456: ") +
                     refusal);
    }
    // Without a number the provider's general failure, and the detail says there was none.
    const CulvaneError unnumbered = raised([&] {
        DbConnection::raise(QSqlError(QStringLiteral("QODBC: Unable to connect"), refusal,
                                      QSqlError::ConnectionError, QStringLiteral("0")));
    });
    QCOMPARE(unnumbered.number(), -2147467259);
    QCOMPARE(unnumbered.detail(), QStringLiteral("Driver error (none): ") + refusal);

    // The server answered these with its error; a connection that was never made sent it nothing.
    QCOMPARE(error.statement(), CulvaneError::Statement::Refused);
    QCOMPARE(syntax.statement(), CulvaneError::Statement::Refused);
    QCOMPARE(noDriver.statement(), CulvaneError::Statement::NotSent);
    QCOMPARE(empty.statement(), CulvaneError::Statement::None);
    Command refused;
    refused.setActiveConnection(kConnection);
    refused.setCommandText(QStringLiteral("sp_NoSuchProcedure"));
    QCOMPARE(raised([&] { refused.Execute(); }).statement(), CulvaneError::Statement::Refused);
}

void TestDatabase::failuresOnThisSideAreToldFromRefusals()
{
    using Statement = CulvaneError::Statement;
    using Dbms = SqlDialect::Dbms;
    struct Case {
        QVector<DbConnection::Diagnostic> diagnostics;
        Dbms dbms;
        Statement expected;
    };
    const Case cases[] = {
        {{{QStringLiteral("HYT00"), 0}}, Dbms::SqlServer, Statement::Unanswered}, // command timeout
        {{{QStringLiteral("HYT01"), 0}}, Dbms::SqlServer, Statement::Unanswered}, // connection timeout
        {{{QStringLiteral("S1T00"), 0}}, Dbms::SqlServer, Statement::Unanswered}, // the same, ODBC 2
        {{{QStringLiteral("hyt00"), 0}}, Dbms::SqlServer, Statement::Unanswered},
        {{{QStringLiteral("08S01"), 0}},
         Dbms::SqlServer,
         Statement::Unanswered}, // communication link failure
        {{{QStringLiteral("08001"), 0}}, Dbms::SqlServer, Statement::Unanswered},
        {{{QStringLiteral("HY008"), 0}}, Dbms::SqlServer, Statement::Unanswered}, // cancelled
        {{{QStringLiteral("42000"), 2812}}, Dbms::SqlServer, Statement::Refused}, // no such procedure
        {{{QStringLiteral("23000"), 547}}, Dbms::SqlServer, Statement::Refused},
        // The server's error first, then the link gone while it was told: the answer did not arrive.
        {{{QStringLiteral("42000"), 50000}, {QStringLiteral("08S01"), 0}},
         Dbms::SqlServer,
         Statement::Unanswered},
        {{}, Dbms::SqlServer, Statement::Unanswered}, // no diagnostic: nothing shows an answer
        // The stand-in: every error is S1000 with SQLite's own number; busy and locked are its timeout.
        {{{QStringLiteral("S1000"), 5}}, Dbms::SQLite, Statement::Unanswered},
        {{{QStringLiteral("S1000"), 6}}, Dbms::SQLite, Statement::Unanswered},
        {{{QStringLiteral("S1000"), 19}}, Dbms::SQLite, Statement::Refused},
        {{{QStringLiteral("S1000"), 1}}, Dbms::SQLite, Statement::Refused},
        {{{QStringLiteral("S1000"), 5}}, Dbms::SqlServer, Statement::Refused},
    };
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        QVERIFY2(DbConnection::statementOutcome(c.diagnostics, c.dbms) == c.expected,
                 qPrintable(QString::number(n)));
    }
}

void TestDatabase::sharedListsOpenAndClose()
{
    StandinFixture standin(10);
    QVERIFY(standin.isValid());
    QVERIFY(modOrvaneDB::DbConnectionString().isEmpty());

    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    Recordset& cos = modOrvaneDB::CosRecords();
    Recordset& lists = modOrvaneDB::DistributionListRecords();
    QVERIFY(cos.isOpen());
    QVERIFY(lists.isOpen());
    QCOMPARE(cos.cursorLocation(), Recordset::adUseServer);
    QCOMPARE(lists.cursorLocation(), Recordset::adUseServer);
    QCOMPARE(cos.RecordCount(), 8);
    QCOMPARE(lists.RecordCount(), 5);
    QCOMPARE(cos.fieldText(QStringLiteral("TextName")), QStringLiteral("Default Administrator"));
    QCOMPARE(lists.fieldText(QStringLiteral("SystemDListObjectID")),
             QStringLiteral("{17156075-D15A-4005-8000-000000000005}"));
    QVERIFY(&modOrvaneDB::CosRecords() == &cos);

    modOrvaneDB::CloseSharedLists();
    QVERIFY(!cos.isOpen());
    QVERIFY(!lists.isOpen());
    modOrvaneDB::CloseSharedLists(); // closing closed lists is no error
    QVERIFY(!cos.isOpen());
}

void TestDatabase::sharedListsFailWithoutTheirViews()
{
    {
        StandinFixture standin(0);
        QVERIFY(standin.isValid());
        QVERIFY(standin.exec(QStringLiteral("DROP VIEW vw_COS")));
        QVERIFY(!modOrvaneDB::OpenSharedLists(kConnection));
        QVERIFY(!modOrvaneDB::CosRecords().isOpen());
        QVERIFY(!modOrvaneDB::DistributionListRecords().isOpen()); // it had opened; the failure closed it
    }
    {
        StandinFixture standin(0);
        QVERIFY(standin.isValid());
        QVERIFY(QFile::remove(standin.databasePath()));
        QVERIFY(!modOrvaneDB::OpenSharedLists(kConnection));
        QVERIFY(!modOrvaneDB::CosRecords().isOpen());
        QVERIFY(!modOrvaneDB::DistributionListRecords().isOpen());
    }
    // Once the views are back, the lists open again.
    StandinFixture standin(0);
    QVERIFY(standin.isValid());
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
}

void TestDatabase::sharedListsFailWithoutDriver()
{
    // The ODBC driver manager reads its configuration once per process, so a missing odbcinst.ini is
    // tried in a fresh process running only this function.
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QVERIFY(!modOrvaneDB::OpenSharedLists(kConnection));
        QVERIFY(!modOrvaneDB::CosRecords().isOpen());
        QVERIFY(!modOrvaneDB::DistributionListRecords().isOpen());
        Recordset rows;
        CulvaneError error = raised([&] { rows.Open(Statements::CosStatement, kConnection); });
        QCOMPARE(error.number(), -2147467259);
        QVERIFY2(error.description().contains(QStringLiteral("SQL Server")), qPrintable(error.description()));
        return;
    }
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("ODBCSYSINI"), empty.path());
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(empty.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("sharedListsFailWithoutDriver")});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : TestDatabase::sharedListsFailWithoutDriver()"), output.constData());
    QVERIFY(!QFile::exists(empty.filePath(QStringLiteral("OrvaneDb"))));
}

// What the driver manager is asked for, from its own trace: no statement, procedure calls included, asks for
// a cursor that could scroll (FreeTDS would open it on the server), and the recordsets still count, go back
// and find from the rows they keep.
void TestDatabase::everyStatementIsForwardOnly()
{
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
        Recordset& cos = modOrvaneDB::CosRecords();
        QCOMPARE(cos.RecordCount(), 8);
        while (!cos.EOF_())
            cos.MoveNext();
        cos.MoveFirst();
        cos.Find(QStringLiteral("Alias='StandardUsersEast'"));
        QVERIFY(!cos.EOF_());
        cos.MoveNext();
        cos.Find(QStringLiteral("Alias='StandardUsersEast'"), 0, Recordset::adSearchBackward);
        QCOMPARE(cos.fieldText(QStringLiteral("Alias")), QStringLiteral("StandardUsersEast"));
        Recordset rows;
        rows.setCursorLocation(Recordset::adUseClient);
        rows.Open(Statements::allSubscribers(), kConnection, Recordset::adOpenStatic);
        QCOMPARE(rows.RecordCount(), 12);
        rows.Close();
        for (Command& call : Statements::sampleProcedureCalls(kConnection))
            call.Execute();
        modOrvaneDB::CloseSharedLists();
        return;
    }
    StandinFixture standin(12);
    QVERIFY(standin.isValid());
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QFile odbcInst(StandinFixture::odbcInstPath());
    QVERIFY(odbcInst.open(QIODevice::ReadOnly));
    const QString trace = config.filePath(QStringLiteral("trace.log"));
    QFile traced(config.filePath(QStringLiteral("odbcinst.ini")));
    QVERIFY(traced.open(QIODevice::WriteOnly));
    traced.write("[ODBC]\nTrace=Yes\nTraceFile=" + QFile::encodeName(trace) + "\n\n" + odbcInst.readAll());
    traced.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("ODBCSYSINI"), config.path());
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(standin.folder());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("everyStatementIsForwardOnly")});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    QVERIFY2(output.contains("PASS   : TestDatabase::everyStatementIsForwardOnly()"), output.constData());

    // The trace: a block per call, "Attribute = SQL_ATTR_CURSOR_TYPE" with its "Value = ...", and the
    // statement each prepare or direct run sends, on the handle named in the block.
    QFile log(trace);
    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text));
    QHash<QString, QString> cursorOf; // statement handle -> the cursor type last asked for
    QStringList asked;
    QStringList procedureCursors;
    QString handle;
    QString attribute;
    while (!log.atEnd()) {
        const QString line = QString::fromUtf8(log.readLine()).trimmed();
        if (line.startsWith(QLatin1String("Statement = ")))
            handle = line.mid(12);
        else if (line.startsWith(QLatin1String("Attribute = ")))
            attribute = line.mid(12);
        else if (line.startsWith(QLatin1String("Value = ")) &&
                 attribute == QLatin1String("SQL_ATTR_CURSOR_TYPE")) {
            cursorOf.insert(handle, line.mid(8));
            asked.append(line.mid(8));
        } else if (line.startsWith(QLatin1String("SQL = [INSERT INTO sp_Delete"))) {
            procedureCursors.append(cursorOf.value(handle, QStringLiteral("(not set)")));
        }
        if (line.startsWith(QLatin1String("[ODBC]")))
            attribute.clear();
    }
    // (nil) is SQL_CURSOR_FORWARD_ONLY; a scrollable query asks for 0x3, SQL_CURSOR_STATIC.
    QVERIFY2(asked.size() >= 6, qPrintable(asked.join(QLatin1Char(','))));
    QCOMPARE(asked.filter(QStringLiteral("(nil)")), asked);
    QCOMPARE(procedureCursors, (QStringList{QStringLiteral("(nil)"), QStringLiteral("(nil)")}));
}

void TestDatabase::openRecordsetsDoNotBlockProcedures()
{
    StandinFixture standin(40);
    QVERIFY(standin.isValid());
    QCOMPARE(standin.scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    Recordset subscribers;
    subscribers.Open(Statements::allSubscribers(), kConnection);

    // A reader inside a transaction holds the file's read lock until the transaction ends.
    const QString reader = QStringLiteral("reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), reader);
        db.setDatabaseName(QStringLiteral("Driver={SQL Server};database=") + standin.databasePath());
        QVERIFY(db.open());
        QVERIFY(db.transaction());
        QSqlQuery pending(db);
        pending.setForwardOnly(true);
        QVERIFY(pending.exec(QStringLiteral("select Alias from subscriber")));
        QVERIFY(pending.next());

        const QString victim = subscriberId(standin, 13);
        QElapsedTimer timer;
        timer.start();
        Statements::deleteSubscriberCommand(kConnection, victim, false, true, QStringLiteral("{0000-T1}"))
            .Execute();
        QVERIFY2(timer.elapsed() < 3000, "the deletion waited for the readers");
        QCOMPARE(standin
                     .scalar(QStringLiteral("SELECT count(*) FROM subscriber WHERE SubscriberObjectID = ?"),
                             {victim})
                     .toInt(),
                 0);
        QVERIFY(pending.next());
        pending.finish();
        QVERIFY(db.rollback());
    }
    QSqlDatabase::removeDatabase(reader);
    QVERIFY(modOrvaneDB::CosRecords().isOpen());
    QCOMPARE(subscribers.RecordCount(), 39); // what it read before the deletion
    subscribers.Close();
}

void TestDatabase::deleteSubscriberProcedure()
{
    StandinFixture standin(60);
    QVERIFY(standin.isValid());

    // Orvane data only, on a server before 5.0: @ForceRemoveEAdmin is never mentioned.
    const QString first = subscriberId(standin, 13);
    const QString firstTicket = QStringLiteral("{6f1c0d2e-9a41-4b7e-8c55-0123456789ab}");
    Command request = Statements::deleteSubscriberCommand(kConnection, first, false, false, firstTicket);
    QCOMPARE(request.statementText(),
             QStringLiteral(
                 "EXEC sp_DeleteSubscriber @SubscriberObjectID=?, @DirectorySync=?, @DirectorySyncFlags=?, "
                 "@ForceRemove=?, @DirectorySyncTicket=?"));
    request.Execute();
    QCOMPARE(deletionValue(standin, QStringLiteral("Found"), first).toInt(), 1);
    QCOMPARE(deletionValue(standin, QStringLiteral("Alias"), first).toString(), QStringLiteral("user00013"));
    QCOMPARE(deletionValue(standin, QStringLiteral("DirectorySync"), first).toInt(), 1);
    QCOMPARE(deletionValue(standin, QStringLiteral("DirectorySyncFlags"), first).toInt(), 268435457);
    QCOMPARE(deletionValue(standin, QStringLiteral("ForceRemove"), first).toInt(), 0);
    QVERIFY(deletionValue(standin, QStringLiteral("ForceRemoveEAdmin"), first).isNull());
    QCOMPARE(deletionValue(standin, QStringLiteral("DirectoryAccountRemoved"), first).toInt(), 0);
    QCOMPARE(deletionValue(standin, QStringLiteral("DirectorySyncTicket"), first).toString(), firstTicket);
    QCOMPARE(
        standin
            .scalar(QStringLiteral("SELECT count(*) FROM subscriber WHERE SubscriberObjectID = ?"), {first})
            .toInt(),
        0);
    QCOMPARE(
        standin.scalar(QStringLiteral("SELECT count(*) FROM dtmfaccessid WHERE ParentObjectID = ?"), {first})
            .toInt(),
        0);
    QCOMPARE(standin.scalar(QStringLiteral("SELECT count(*) FROM callhandler WHERE Alias = 'ch_user00013'"))
                 .toInt(),
             0);
    // The poll finds the ticket whatever the letter case of its hexadecimal digits.
    QCOMPARE(polledResult(firstTicket.toUpper()), QVariant(0));

    // Full removal on a 5.0 server: directory account and mailbox go as well.
    const QString second = subscriberId(standin, 14);
    Statements::deleteSubscriberCommand(kConnection, second, true, true, QStringLiteral("{T-2}")).Execute();
    QCOMPARE(deletionValue(standin, QStringLiteral("ForceRemove"), second).toInt(), 1);
    QCOMPARE(deletionValue(standin, QStringLiteral("ForceRemoveEAdmin"), second).toInt(), 1);
    QCOMPARE(deletionValue(standin, QStringLiteral("DirectoryAccountRemoved"), second).toInt(), 1);
    QCOMPARE(deletionValue(standin, QStringLiteral("MailboxRemoved"), second).toInt(), 1);
    QCOMPARE(polledResult(QStringLiteral("{T-2}")), QVariant(0));

    // A subscriber marked to fail its synchronisation reports its mark.
    const QString failing = subscriberId(standin, 16);
    QVERIFY(standin.exec(QStringLiteral("UPDATE subscriber SET SyncResult = 5 WHERE SubscriberObjectID = ?"),
                         {failing}));
    Statements::deleteSubscriberCommand(kConnection, failing, false, true, QStringLiteral("{T-3}")).Execute();
    QCOMPARE(polledResult(QStringLiteral("{T-3}")), QVariant(5));

    // One that never finishes keeps a NULL result until a test releases it.
    const QString stuck = subscriberId(standin, 17);
    QVERIFY(standin.exec(
        QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE SubscriberObjectID = ?"), {stuck}));
    Statements::deleteSubscriberCommand(kConnection, stuck, false, true, QStringLiteral("{T-4}")).Execute();
    const QVariant pending = polledResult(QStringLiteral("{T-4}"));
    QVERIFY(pending.isValid());
    QVERIFY(pending.isNull());
    QVERIFY(
        standin.exec(QStringLiteral("UPDATE directorysyncticket SET result = PendingResult WHERE Ticket = ?"),
                     {QStringLiteral("{T-4}")}));
    QCOMPARE(polledResult(QStringLiteral("{T-4}")), QVariant(0));

    // An unknown subscriber: nothing removed, and its synchronisation fails.
    const int before = standin.scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt();
    Statements::deleteSubscriberCommand(kConnection, QStringLiteral("{00000000-0000-0000-0000-000000000000}"),
                                        true, true, QStringLiteral("{T-5}"))
        .Execute();
    QCOMPARE(standin.scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt(), before);
    QCOMPARE(deletionValue(standin, QStringLiteral("Found"),
                           QStringLiteral("{00000000-0000-0000-0000-000000000000}"))
                 .toInt(),
             0);
    QCOMPARE(polledResult(QStringLiteral("{T-5}")), QVariant(1));
    QVERIFY(!polledResult(QStringLiteral("{never-made}")).isValid());

    // Setting a parameter again replaces its value; a procedure the server lacks is the driver's error.
    Command twice;
    twice.setActiveConnection(kConnection);
    twice.setCommandText(QStringLiteral("sp_DeleteSubscriber"));
    twice.setParameter(QStringLiteral("@ForceRemove"), Command::adInteger, 0);
    twice.setParameter(QStringLiteral("@forceremove"), Command::adInteger, 1);
    QCOMPARE(twice.statementText(), QStringLiteral("EXEC sp_DeleteSubscriber @ForceRemove=?"));
    Command missing;
    missing.setActiveConnection(kConnection);
    missing.setCommandText(QStringLiteral("sp_NoSuchProcedure"));
    missing.setParameter(QStringLiteral("@Ticket"), Command::adGUID, QStringLiteral("{T}"));
    CulvaneError error = raised([&] { missing.Execute(); });
    QCOMPARE(error.number(), 1);
    QVERIFY2(error.description().contains(QStringLiteral("sp_NoSuchProcedure")),
             qPrintable(error.description()));
    QVERIFY(error.detail().contains(QStringLiteral("sp_NoSuchProcedure")));
    QCOMPARE(QSqlDatabase::connectionNames().size(), 1);
    DbConnection::closeKeptConnections();
    QCOMPARE(QSqlDatabase::connectionNames().size(), 0);
}

void TestDatabase::deleteTicketProcedure()
{
    StandinFixture standin(20);
    QVERIFY(standin.isValid());
    const QString ticket = QStringLiteral("{AAAAAAAA-1111-4222-8333-444444444444}");
    Statements::deleteSubscriberCommand(kConnection, subscriberId(standin, 3), false, true, ticket).Execute();
    QVERIFY(standin.exec(
        QStringLiteral("INSERT INTO directorysyncticket (Ticket, result) VALUES ('{B}', 7), ('{B}', 0)")));

    Command remove = Statements::deleteTicketCommand(kConnection, ticket.toLower());
    QCOMPARE(remove.statementText(), QStringLiteral("EXEC sp_DeleteDirectorySyncTicket @Ticket=?"));
    remove.Execute();
    QVERIFY(!polledResult(ticket).isValid());
    QCOMPARE(standin
                 .scalar(QStringLiteral("SELECT RowsRemoved FROM standin_ticket_deletions WHERE Ticket = ?"),
                         {ticket})
                 .toInt(),
             1);

    // Two rows for one ticket: the poll sees the first, the removal takes both.
    QCOMPARE(polledResult(QStringLiteral("{B}")), QVariant(7));
    Statements::deleteTicketCommand(kConnection, QStringLiteral("{B}")).Execute();
    QCOMPARE(standin.scalar(QStringLiteral("SELECT count(*) FROM directorysyncticket WHERE Ticket = '{B}'"))
                 .toInt(),
             0);
    QCOMPARE(
        standin
            .scalar(QStringLiteral("SELECT RowsRemoved FROM standin_ticket_deletions WHERE Ticket = '{B}'"))
            .toInt(),
        2);
}

void TestDatabase::dialectAdaptsOnlyWhatSqliteLacks()
{
    using SqlDialect::adapt;
    using SqlDialect::Dbms;

    const QString range = Statements::extensionRange(QStringLiteral("12"), QStringLiteral("100"));
    QCOMPARE(adapt(range, Dbms::SqlServer), range);
    QCOMPARE(
        adapt(range, Dbms::SQLite),
        QStringLiteral("SELECT DISTINCT vw_Subscriber.SubscriberObjectID FROM vw_Subscriber INNER JOIN "
                       "vw_DTMFAccessID ON vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID "
                       "WHERE vw_Subscriber.SubscriberType IN (1,2,3,5,7,8,9)AND "
                       "(substr('00000000000000000000' || vw_dtmfaccessid.DtmfAccessId, -20) COLLATE RTRIM) "
                       "between '00000000000000000012 ' and '00000000000000000100'"));

    // Concatenation only where a side is a text; arithmetic stays.
    QCOMPARE(adapt(QStringLiteral("select a + 'x', 'y'+b, c + d from t"), Dbms::SQLite),
             QStringLiteral("select a || 'x', 'y'||b, c + d from t"));
    QCOMPARE(adapt(QStringLiteral("select 'it''s' + name from t"), Dbms::SQLite),
             QStringLiteral("select 'it''s' || name from t"));
    // Nothing inside a quoted text is touched.
    QCOMPARE(adapt(QStringLiteral("select 'right(a, 2) + b' from t where x='EXEC p'"), Dbms::SQLite),
             QStringLiteral("select 'right(a, 2) + b' from t where x='EXEC p'"));
    QCOMPARE(
        adapt(QStringLiteral("select RIGHT(right(name, 5), n + 1) from t"), Dbms::SQLite),
        QStringLiteral("select (substr((substr(name, -5) COLLATE RTRIM), -(n + 1)) COLLATE RTRIM) from t"));

    QCOMPARE(
        adapt(QStringLiteral("EXEC sp_DeleteSubscriber @SubscriberObjectID=?, @ForceRemove=?"), Dbms::SQLite),
        QStringLiteral("INSERT INTO sp_DeleteSubscriber (SubscriberObjectID, ForceRemove) VALUES (?, ?)"));
    QCOMPARE(adapt(QStringLiteral("exec p @A='x, y', @B=1"), Dbms::SQLite),
             QStringLiteral("INSERT INTO p (A, B) VALUES ('x, y', 1)"));
    QCOMPARE(adapt(QStringLiteral("EXEC p"), Dbms::SQLite), QStringLiteral("INSERT INTO p DEFAULT VALUES"));
    QCOMPARE(adapt(QStringLiteral("\r\n\t Execute p @A = 1 ;"), Dbms::SQLite),
             QStringLiteral("INSERT INTO p (A) VALUES (1)"));
    QCOMPARE(adapt(QStringLiteral("EXECUTEp @A=1"), Dbms::SQLite), QStringLiteral("EXECUTEp @A=1"));
    QCOMPARE(adapt(QStringLiteral("EXEC p 1, 2"), Dbms::SQLite), QStringLiteral("EXEC p 1, 2"));
    QCOMPARE(adapt(QStringLiteral("EXEC sp_DeleteSubscriber @ForceRemove=?"), Dbms::SqlServer),
             QStringLiteral("EXEC sp_DeleteSubscriber @ForceRemove=?"));

    // Unicode literals are plain ones to SQLite, also inside right() and beside '+'; an N that is a name, or
    // stands apart from the apostrophe, stays.
    QCOMPARE(adapt(QStringLiteral(
                       "select N'a' + name, n'b''c', xN'd', N 'e', N, 'N''f' from t where a=N'O''Brien'"),
                   Dbms::SQLite),
             QStringLiteral("select 'a' || name, 'b''c', xN'd', N 'e', N, 'N''f' from t where a='O''Brien'"));
    QCOMPARE(adapt(QStringLiteral("select right(N'000' + x, 2), y+N'z' from t"), Dbms::SQLite),
             QStringLiteral("select (substr('000' || x, -2) COLLATE RTRIM), y||'z' from t"));

    // Every other statement the program sends goes out as written, its Unicode literals plain.
    for (const Statements::SampleStatement& sample : Statements::sampleStatements()) {
        if (sample.kind != Statements::SampleStatement::SubscriberIds)
            QCOMPARE(adapt(sample.text, Dbms::SQLite),
                     QString(sample.text)
                         .replace(QLatin1String("=N'"), QLatin1String("='"))
                         .replace(QLatin1String("(N'"), QLatin1String("('"))
                         .replace(QLatin1String(",N'"), QLatin1String(",'")));
    }
}

// The attribute reader against the pattern it replaced, on written and on random connection texts.
void TestDatabase::connectionTextsReadAsTheirPairPattern()
{
    const auto byPattern = [](const QString& text, const QString& key) {
        static const QRegularExpression pair(
            QStringLiteral(R"(\s*([^=;]+?)\s*=\s*(\{[^}]*\}|[^;]*)\s*(?:;|$))"));
        QRegularExpressionMatchIterator it = pair.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            if (match.captured(1).compare(key, Qt::CaseInsensitive) != 0)
                continue;
            QString value = match.captured(2).trimmed();
            if (value.startsWith(QLatin1Char('{')) && value.endsWith(QLatin1Char('}')))
                value = value.mid(1, value.size() - 2);
            return value;
        }
        return QString();
    };
    using OdbcSetup::connectionAttribute;
    QCOMPARE(connectionAttribute(kConnection, QStringLiteral("DRIVER")), QStringLiteral("SQL Server"));
    QCOMPARE(connectionAttribute(kConnection, QStringLiteral("database")), QStringLiteral("OrvaneDb"));
    QCOMPARE(connectionAttribute(kConnection, QStringLiteral("server")), QString());
    QCOMPARE(connectionAttribute(QStringLiteral("Driver={a;b} ;PWD={x}y;UID= me "), QStringLiteral("driver")),
             QStringLiteral("a;b"));
    QCOMPARE(connectionAttribute(QStringLiteral("Driver={a;b} ;PWD={x}y;UID= me "), QStringLiteral("pwd")),
             QStringLiteral("{x}y"));
    QCOMPARE(connectionAttribute(QStringLiteral("Driver={a;b} ;PWD={x}y;UID= me "), QStringLiteral("uid")),
             QStringLiteral("me"));

    const QStringList written = {
        QString(),
        QStringLiteral(";;;"),
        QStringLiteral("DSN=OrvaneDb"),
        QStringLiteral("  DSN = OrvaneDb ; database = x"),
        QStringLiteral("noequals;database=a=b;database=second"),
        QStringLiteral("  =x=database;database=y"),
        QStringLiteral("=database=x;database=y"),
        QStringLiteral("data base=x;database={y"),
        QStringLiteral("database={unclosed;x}=1;Driver={}"),
        QStringLiteral("database={a}b;x"),
        QStringLiteral("database=\n{a}\n"),
        QStringLiteral("\tdatabase\t=\t{ a }\t;DRIVER=\u00e9;"),
        QStringLiteral("d\u00e9=\U0001F600;database=\U0001F600\u00a0"),
    };
    const QStringList keys = {
        QStringLiteral("database"),  QStringLiteral("driver"),  QStringLiteral("dsn"), QStringLiteral(" "),
        QStringLiteral("data base"), QStringLiteral("d\u00e9"), QStringLiteral("x")};
    for (const QString& text : written) {
        for (const QString& key : keys)
            QVERIFY2(connectionAttribute(text, key) == byPattern(text, key), qPrintable(text + " / " + key));
    }
    // Random texts over the characters that matter to the grammar.
    const QString alphabet = QStringLiteral("dx =;{} \t\n\u00a0");
    QRandomGenerator random(20261208);
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int length = random.bounded(14);
        for (int i = 0; i < length; ++i)
            text += alphabet.at(random.bounded(alphabet.size()));
        for (const QString& key : {QStringLiteral("d"), QStringLiteral("x"), QStringLiteral("d x"),
                                   QStringLiteral(" "), QStringLiteral("dd")})
            QVERIFY2(connectionAttribute(text, key) == byPattern(text, key),
                     qPrintable(QStringLiteral("[%1] / [%2]").arg(text, key)));
    }
}

// Values as ODBC's rule and as FreeTDS 1.3 read braces, and texts with the password hidden.
void TestDatabase::credentialsAsEachDriverReadsThem()
{
    using OdbcSetup::BraceRule;
    using OdbcSetup::connectionValue;
    // ODBC's rule: braces around anything with ';', braces or blanks, and "}}" for '}'.
    QCOMPARE(connectionValue(QStringLiteral("alice"), BraceRule::Odbc), QStringLiteral("alice"));
    QCOMPARE(connectionValue(QStringLiteral("EXAMPLE\\alice"), BraceRule::Odbc),
             QStringLiteral("EXAMPLE\\alice"));
    QCOMPARE(connectionValue(QStringLiteral("pa;ss"), BraceRule::Odbc), QStringLiteral("{pa;ss}"));
    QCOMPARE(connectionValue(QStringLiteral("a}b{c"), BraceRule::Odbc), QStringLiteral("{a}}b{c}"));
    QCOMPARE(connectionValue(QStringLiteral(" two words "), BraceRule::Odbc),
             QStringLiteral("{ two words }"));
    QCOMPARE(connectionValue(QStringLiteral("x};y"), BraceRule::Odbc), QStringLiteral("{x}};y}"));
    QCOMPARE(connectionValue(QString(), BraceRule::Odbc), QString());
    // FreeTDS 1.3 keeps blanks and braces of a plain value; braces only where ';' or a leading '{' needs
    // them, and nothing can carry "};".
    QCOMPARE(connectionValue(QStringLiteral("a}b{c"), BraceRule::FreeTds), QStringLiteral("a}b{c"));
    QCOMPARE(connectionValue(QStringLiteral("  sp  "), BraceRule::FreeTds), QStringLiteral("  sp  "));
    QCOMPARE(connectionValue(QStringLiteral(" a;b}c "), BraceRule::FreeTds), QStringLiteral("{ a;b}c }"));
    QCOMPARE(connectionValue(QStringLiteral("{abc"), BraceRule::FreeTds), QStringLiteral("{{abc}"));
    QCOMPARE(connectionValue(QStringLiteral("a;b}"), BraceRule::FreeTds), QStringLiteral("{a;b}}"));
    QCOMPARE(connectionValue(QStringLiteral("x};y"), BraceRule::FreeTds), QString());

    // Everything from the password's value on is hidden, however it is written; other texts stay whole.
    using OdbcSetup::redacted;
    QCOMPARE(redacted(QStringLiteral("DSN=OrvaneDb;database=OrvaneDb;UID=alice;PWD=secret")),
             QStringLiteral("DSN=OrvaneDb;database=OrvaneDb;UID=alice;PWD=***"));
    QCOMPARE(redacted(QStringLiteral("DSN=a;UID=alice;PWD={a;b}c};")),
             QStringLiteral("DSN=a;UID=alice;PWD=***"));
    QCOMPARE(redacted(QStringLiteral("DSN=a;UID=u; pwd = {x}}y};Other=1")),
             QStringLiteral("DSN=a;UID=u; pwd =***"));
    QCOMPARE(redacted(QStringLiteral("Password=x;DSN=a")), QStringLiteral("Password=***"));
    QCOMPARE(redacted(QStringLiteral("UID={x;PWD=y};PWD=z")), QStringLiteral("UID={x;PWD=***"));
    QCOMPARE(redacted(kConnection), kConnection);
    QCOMPARE(redacted(QStringLiteral("DSN=PWDless;UID=PWD")), QStringLiteral("DSN=PWDless;UID=PWD"));
    QCOMPARE(redacted(QString()), QString());
}

void TestDatabase::oneConnectionPerTextIsKeptAndChecked()
{
    DbConnection::closeKeptConnections();
    StandinFixture standin(10);
    QVERIFY(standin.isValid());
    auto count = [] {
        Recordset rows;
        rows.Open(QStringLiteral("select count(*) as n from subscriber"), kConnection);
        const int n = rows.field(QStringLiteral("n")).toInt();
        rows.Close();
        return n;
    };

    // Recordsets, the shared lists and commands all go through the one kept connection.
    QCOMPARE(count(), 10);
    const QStringList first = QSqlDatabase::connectionNames();
    QCOMPARE(first.size(), 1);
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    Statements::deleteTicketCommand(kConnection, QStringLiteral("{none}")).Execute();
    QCOMPARE(count(), 10);
    QCOMPARE(QSqlDatabase::connectionNames(), first);

    // A connection in use is not lent twice: a second user meanwhile gets its own, which then closes.
    {
        DbConnection held(kConnection);
        QCOMPARE(count(), 10);
        QCOMPARE(QSqlDatabase::connectionNames().size(), 1 + 1);
    }
    QCOMPARE(QSqlDatabase::connectionNames().size(), 1);

    // A connection left inside a transaction is closed, not lent again with the transaction open.
    {
        DbConnection careless(kConnection);
        QVERIFY(careless.database().transaction());
        QSqlQuery insert(careless.database());
        QVERIFY(insert.exec(QStringLiteral("delete from subscriber where rowid = 1")));
    }
    QCOMPARE(DbConnection::keptConnectionCount(), 0);
    QCOMPARE(count(), 10); // the uncommitted deletion went with its connection
    const QStringList second = QSqlDatabase::connectionNames();
    QCOMPARE(second.size(), 1);
    QVERIFY(second != first);

    // The file replaced behind the kept connection: the next query reads the new file, not the old one.
    QProcess maker;
    maker.start(QStringLiteral(CULVANE_SOURCE_DIR "/standin/new-orvanedb"), {standin.databasePath(), "25"});
    QVERIFY(maker.waitForFinished(120000) && maker.exitCode() == 0);
    QCOMPARE(count(), 25);
    QVERIFY(QSqlDatabase::connectionNames() != second);

    // Another working folder: the same text names another file, and the kept connection is not used.
    {
        StandinFixture other(4);
        QVERIFY(other.isValid());
        QCOMPARE(count(), 4);
    }
    QCOMPARE(count(), 25);
    QCOMPARE(DbConnection::keptConnectionCount(), 1);

    // The open shared lists hold no connection and no lock: the kept one may close under them.
    DbConnection::closeKeptConnections();
    QVERIFY(modOrvaneDB::CosRecords().isOpen());
    QCOMPARE(modOrvaneDB::CosRecords().RecordCount(), 8);
}

void TestDatabase::aMissingStandinIsNeverCreated()
{
    StandinFixture standin(0);
    QVERIFY(standin.isValid());
    Recordset rows;
    rows.Open(Statements::CosStatement, kConnection);
    rows.Close();
    QVERIFY(QFile::remove(standin.databasePath()));

    // Neither the kept connection to the removed file nor a new one makes the file again.
    QString detail;
    QVERIFY(!modOrvaneDB::OpenSharedLists(kConnection, &detail));
    QVERIFY(!QFile::exists(standin.databasePath()));
    QVERIFY2(detail.contains(QStringLiteral("Driver error 14: ")), qPrintable(detail));
    QVERIFY2(detail.contains(QStringLiteral("(the database file %1 does not exist)")
                                 .arg(QDir::current().absoluteFilePath(QStringLiteral("OrvaneDb")))),
             qPrintable(detail));
    CulvaneError error = raised([&] { rows.Open(Statements::CosStatement, kConnection); });
    QCOMPARE(error.number(), 14); // SQLite's SQLITE_CANTOPEN
    QVERIFY(!QFile::exists(standin.databasePath()));
    QCOMPARE(DbConnection::keptConnectionCount(), 0);
}

void TestDatabase::aLockedDatabaseFailsInBoundedTime()
{
    QCOMPARE(DbConnection::timeouts().connectSeconds, 15);
    QCOMPARE(DbConnection::timeouts().commandSeconds, 30);
    DbConnection::setTimeoutsForTests({1, 2});
    StandinFixture standin(10);
    QVERIFY(standin.isValid());

    // Another process takes the file for itself and keeps it.
    QProcess holder;
    holder.setProcessChannelMode(QProcess::MergedChannels);
    holder.start(QStringLiteral("sqlite3"), {standin.databasePath()});
    QVERIFY(holder.waitForStarted());
    const QString marker = standin.folder() + QStringLiteral("/holding");
    holder.write("PRAGMA locking_mode=EXCLUSIVE;\nBEGIN EXCLUSIVE;\nUPDATE subscriber SET Alias=Alias;\n");
    holder.write(".system touch " + QFile::encodeName(marker) + "\n");
    QElapsedTimer waiting;
    waiting.start();
    while (!QFile::exists(marker) && waiting.elapsed() < 20000)
        QTest::qWait(50);
    QVERIFY2(QFile::exists(marker), holder.readAll().constData());

    QElapsedTimer timer;
    timer.start();
    QString detail;
    QVERIFY(!modOrvaneDB::OpenSharedLists(kConnection, &detail));
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 8000, qPrintable(QString::number(elapsed)));
    QVERIFY2(detail.contains(QStringLiteral("Driver error 5: ")) &&
                 detail.contains(QStringLiteral("database is locked")),
             qPrintable(detail));
    // A procedure that runs out of time waiting for the file: the command timeout, no answer.
    Command request = Statements::deleteTicketCommand(
        kConnection, QStringLiteral("{00000000-0000-4000-8000-000000000000}"));
    const CulvaneError timedOut = raised([&] { request.Execute(); });
    QVERIFY2(timedOut.description().contains(QStringLiteral("database is locked")),
             qPrintable(timedOut.description()));
    QCOMPARE(timedOut.statement(), CulvaneError::Statement::Unanswered);
    holder.write(".quit\n");
    holder.closeWriteChannel();
    if (!holder.waitForFinished(5000))
        holder.kill();
    holder.waitForFinished(5000);

    // Once the other process lets go, the same start succeeds.
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    DbConnection::setTimeoutsForTests(DbTimeouts());
}

QTEST_GUILESS_MAIN(TestDatabase)

#include "test_database.moc"
