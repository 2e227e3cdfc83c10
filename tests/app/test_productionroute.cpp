// The route administrators have, end to end: the program's own units and the program itself through unixODBC
// and FreeTDS's ODBC driver to standin/tds-server, a TDS 7.4 server in front of a stand-in OrvaneDb that
// refuses server cursors as a strict SQL Server does, under locales that are not UTF-8. unixODBC reads its
// configuration and the locale is set once per process, so each case runs this test again in a process of
// its own.
#include "RouteSupport.h"
#include "app/frmMain.h"
#include "common/NamedChild.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "common/TdsStandin.h"
#include "common/TestChild.h"
#include "deletion/DeletionRun.h"
#include "deletion/DeletionTestSupport.h"
#include "deletion/Logging.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "selection/CsvImport.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "server/Command.h"
#include "server/DbConnection.h"
#include "server/OrvaneVersion.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <signal.h>

namespace {

const char* const kChildVariable = "CULVANE_TEST_PRODUCTIONROUTE_CHILD";
// Sent braced as FreeTDS 1.3 reads braces: {Sw0rd;f}sh}.
const QString kPassword = QStringLiteral("Sw0rd;f}sh");
const QString kStudents = QStringLiteral("\u00c9l\u00e8ves et \u00e9tudiants");
const QString kAccentedAlias = QStringLiteral("jos\u00e9.m\u00fcller166");
const QByteArray kNoDatabase =
    "Unable to open OrvaneDB with necessary rights needed for this tool.  Make sure "
    "you are running this tool logged in as a member of the local admins group.";

// An odbcinst.ini naming FreeTDS and a user odbc.ini whose OrvaneDb reaches the server with the given lines.
bool writeDataSource(const QTemporaryDir& config, int port, const QByteArray& lines)
{
    return writeFile(config.filePath(QStringLiteral("odbcinst.ini")),
                     "[FreeTDS]\nDriver=" + QFile::encodeName(freeTdsLibrary()) + "\n") &&
           writeFile(config.filePath(QStringLiteral("odbc.ini")),
                     "[OrvaneDb]\nDriver=FreeTDS\nServer=127.0.0.1\nPort=" + QByteArray::number(port) +
                         "\nDatabase=OrvaneDb\nTDS_Version=7.4\n" + lines);
}

// culvane-run in a folder of its own, its run log and results there, reaching the server through the
// route's data source in the C locale, its 40-second bound cut to 2 seconds.
struct RouteRun {
    QTemporaryDir program;
    QTemporaryDir config;
    RegFile registry;
    QString binary;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    bool prepare(int port)
    {
        binary = program.filePath(QStringLiteral("culvane-run"));
        if (!program.isValid() || !config.isValid() ||
            !QFile::copy(QStringLiteral(CULVANE_RUN_BINARY), binary) ||
            !QFile::setPermissions(binary, QFile::permissions(binary) | QFileDevice::ExeOwner) ||
            !writeDataSource(config, port, "UID=culvane\nPWD=" + kPassword.toUtf8() + "\n"))
            return false;
        writeServer(registry);
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        environment.insert(QStringLiteral("ODBCSYSINI"), config.path());
        environment.insert(QStringLiteral("ODBCINI"), config.filePath(QStringLiteral("odbc.ini")));
        environment.insert(QStringLiteral("CULVANE_REGISTRY"), registry.path());
        environment.insert(QStringLiteral("CULVANE_RUN_PAUSE_SCALE"), QStringLiteral("0.05"));
        return true;
    }
    void setUp(QProcess& run) const
    {
        run.setProcessEnvironment(environment);
        run.setWorkingDirectory(config.path());
    }
    // The one run log or results file (by its name's start) the run left, else nothing.
    QString only(const QString& prefix) const
    {
        const QDir logs(program.filePath(QStringLiteral("logs")));
        const QStringList names = logs.entryList({prefix + QLatin1Char('*')}, QDir::Files);
        return names.size() == 1 ? readFile(logs.filePath(names.constFirst())) : QString();
    }
};

// A row as the comparisons with the file read it: alias, object identifier and display name.
QString rowKey(const SubscriberValues& row)
{
    return row.alias + QLatin1Char('|') + row.subscriberObjectId + QLatin1Char('|') + row.displayName;
}

class RecordingSink : public SubscriberSink {
public:
    void addSubscriber(SubscriberValues&& values) override { rows.append(std::move(values)); }
    void message(const QString& text) override { messages.append(text); }
    QStringList keys() const
    {
        QStringList list;
        for (const SubscriberValues& row : rows)
            list.append(rowKey(row));
        return list;
    }
    QVector<SubscriberValues> rows;
    QStringList messages;
};

class CsvRecorder : public CsvSink {
public:
    void addSubscriber(SubscriberValues&& values) override { rows.append(rowKey(values)); }
    void message(const QString& text) override { messages.append(text); }
    qint32 gridRows() const override { return 1 + static_cast<qint32>(rows.size()); }
    QStringList rows;
    QStringList messages;
};

bool bracedGuid(const QString& text)
{
    static const QRegularExpression guid(QStringLiteral("^\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}$"));
    return guid.match(text).hasMatch();
}

// The connection text start-up makes from a data source that names UID and PWD.
QString routeConnection()
{
    return QStringLiteral("DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=culvane;PWD={") +
           kPassword + QLatin1Char('}');
}

// Ends a process at once, as a crash or a pulled plug does, and waits until it has gone with its sockets.
// Loads the first page as the program's start does; answers how often the start asked to end.
int startUp()
{
    int exits = 0;
    const Module1::ExitHandler previous = Module1::setExitHandler([&] { ++exits; });
    {
        frmMain page;
        page.Form_Load();
    }
    Module1::setExitHandler(previous);
    return exits;
}

bool killAndWaitForItsEnd(qint64 pid)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), SIGKILL) != 0)
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        const char state = close >= 0 && close + 2 < text.size() ? text.at(close + 2) : 'X';
        if (state == 'Z' || state == 'X')
            return true;
        QThread::msleep(20);
    }
    return false;
}

// Runs one test function of this program again in a process of its own under LC_ALL=C, its data source
// reaching the server on port with UID and PWD; payload goes to it in the child variable.
QByteArray runChild(const QString& function, int port, const QString& payload,
                    const QByteArray& password = kPassword.toUtf8())
{
    QTemporaryDir config;
    if (!config.isValid() || !writeDataSource(config, port, "UID=culvane\nPWD=" + password + "\n"))
        return QByteArrayLiteral("no data source could be written");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LC_MESSAGES", "LC_CTYPE", "LANG"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QString::fromLatin1(kChildVariable), payload);
    return runTestFunctionInChild(function, environment, config.path(),
                                  config.filePath(QStringLiteral("odbc.ini")));
}

bool childPassed(const QByteArray& output, const char* function)
{
    // "function()", or "function(tag)" for a row of its data.
    return output.contains(QByteArray("PASS   : TestProductionRoute::") + function + "(") &&
           !output.contains("FAIL!");
}

QString stoppedClosingMessage(int processed, int errors, int notAttempted)
{
    return QStringLiteral("The run was stopped: %1 checked subscriber(s) were not attempted and are still "
                          "checked in the grid.\n\n")
               .arg(notAttempted) +
           closingMessage(processed, errors);
}

void addGridRow(SubscriberGridModel& grid, const QString& alias, const QString& objectId,
                const QString& extension)
{
    grid.AddUserToGridFAST(alias, QStringLiteral("First"), QStringLiteral("Last"), alias, extension,
                           QStringLiteral("MAIL1"), QString(), QString(), QStringLiteral("Staff"), objectId,
                           QStringLiteral("{H-") + alias + QLatin1Char('}'));
}

// The deletion page on its own, as the wizard shows it, over a grid of the given aliases (objectIdFor(n)
// for the n-th, extension 200n), reaching the server through the route's connection text.
class DeletionPage {
public:
    explicit DeletionPage(const QStringList& aliases)
    {
        modOrvaneDB::DbConnectionString() = routeConnection();
        OrvaneVersion::setInstalledVersion({5, 0, 1, 33});
        modLocalize::setProgramLocation(m_program.path(), QStringLiteral("Culvane"));
        for (int n = 1; n <= aliases.size(); ++n)
            addGridRow(m_grid, aliases.at(n - 1), objectIdFor(n), QString::number(2000 + n));
        page.setSources({[] { return false; }, [this] { return &m_grid; }});
        page.Form_Load();
        page.show();
    }
    ~DeletionPage()
    {
        modOrvaneDB::CloseSharedLists();
        Logging::CloseRunLog();
        Logging::setLogFolder(QString());
        modLocalize::setProgramLocation(QString(), QString());
    }
    DeletionPage(const DeletionPage&) = delete;
    DeletionPage& operator=(const DeletionPage&) = delete;

    QPushButton* button(const char* name) const { return namedChild<QPushButton>(page, name); }
    // The run log from its first subscriber on.
    static QString logFromFirstSubscriber()
    {
        const QString log = readFile(Logging::RunLogPath());
        return log.mid(log.indexOf(DeletionRun::DeletingLine));
    }
    // The results file named after the run's log, without its byte-order mark, split into lines.
    static QStringList results()
    {
        QString name = QFileInfo(Logging::RunLogPath()).fileName();
        name.replace(QStringLiteral("Culvane_Log_"), QStringLiteral("Culvane_Results_"))
            .replace(QStringLiteral(".TXT"), QStringLiteral(".csv"));
        QFile file(QFileInfo(Logging::RunLogPath()).dir().filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QByteArray bytes = file.readAll();
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        return QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    }

private:
    QTemporaryDir m_program;
    SubscriberGridModel m_grid;

public:
    frmDeleteSubscribers page;
};

// The ticket the server recorded for a subscriber's deletion request, read through the route.
QString recordedTicket(const QString& objectId)
{
    Recordset records;
    records.setCursorLocation(Recordset::adUseClient);
    records.Open(
        QStringLiteral("SELECT DirectorySyncTicket FROM standin_deletions WHERE SubscriberObjectID = '") +
            objectId + QLatin1Char('\''),
        routeConnection(), Recordset::adOpenForwardOnly);
    const QString ticket =
        records.RecordCount() == 1 ? records.fieldText(QStringLiteral("DirectorySyncTicket")) : QString();
    records.Close();
    return ticket;
}

} // namespace

class TestProductionRoute : public QObject {
    Q_OBJECT

private slots:
    void startsQueriesAndDeletesThroughFreeTds_data();
    void startsQueriesAndDeletesThroughFreeTds();
    void refusedConnectionsAreNamedAsFreeTdsNamesThem_data();
    void refusedConnectionsAreNamedAsFreeTdsNamesThem();
    void aWrongPasswordAtStartUpIsMessage422WithTheServersReason();
    void everyCriterionFindsTheRowsTheFileHolds();
    void aDeletionRunWithSyncFailureTimeOutAndStop();
    void theServerEndedMidRunAndRestarted();
    void aServerThatStopsAnsweringEndsTheRun_data();
    void aServerThatStopsAnsweringEndsTheRun();
    void culvaneRunOverlapsWaitsThroughFreeTds();

private:
    // The locale of a case: LC_ALL=C, or German in ISO-8859-1 made with localedef into a folder of its own.
    static bool localeEnvironment(const QString& tag, const QTemporaryDir& config,
                                  QProcessEnvironment& environment);
};

bool TestProductionRoute::localeEnvironment(const QString& tag, const QTemporaryDir& config,
                                            QProcessEnvironment& environment)
{
    environment.remove(QStringLiteral("LC_ALL"));
    environment.remove(QStringLiteral("LC_MESSAGES"));
    environment.remove(QStringLiteral("LC_CTYPE"));
    if (tag == QLatin1String("C")) {
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        return true;
    }
    const QString locales = config.filePath(QStringLiteral("locales"));
    QDir().mkpath(locales);
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                     QStringLiteral("ISO-8859-1"), locales + QStringLiteral("/de_DE.ISO-8859-1")});
    localedef.waitForFinished(60000);
    environment.insert(QStringLiteral("LOCPATH"), locales);
    environment.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.ISO-8859-1"));
    return QFile::exists(locales + QStringLiteral("/de_DE.ISO-8859-1/LC_CTYPE"));
}

void TestProductionRoute::startsQueriesAndDeletesThroughFreeTds_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("LC_ALL=C") << QStringLiteral("C");
    QTest::newRow("LANG=de_DE.ISO-8859-1") << QStringLiteral("de_DE.ISO-8859-1");
}

// Start-up signs in with the data source's UID and PWD; a criterion query and a CSV look-up meet accented
// names both ways; GUIDs read braced; a deletion request is a procedure call the server runs as a default
// result set, and its ticket is polled and removed.
void TestProductionRoute::startsQueriesAndDeletesThroughFreeTds()
{
    QFETCH(QString, locale);
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        const QStringList expected = qEnvironmentVariable(kChildVariable).split(QLatin1Char('|'));
        QCOMPARE(expected.size(), 2);
        RegFile reg;
        writeServer(reg);
        ScriptedMessageBoxes boxes;
        const int exits = startUp();
        QCOMPARE(boxes.texts().join(QLatin1Char('|')), QString());
        QCOMPARE(exits, 0);
        const QString connection = modOrvaneDB::DbConnectionString();
        QCOMPARE(connection,
                 QStringLiteral("DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=culvane;PWD={") +
                     kPassword + QLatin1Char('}'));

        // The shared list of classes of service, read through a keyset recordset.
        Recordset& cos = modOrvaneDB::CosRecords();
        QCOMPARE(cos.RecordCount(), 8);
        cos.MoveFirst();
        cos.Find(QStringLiteral("Alias='Students'"));
        QVERIFY(!cos.EOF_());
        QCOMPARE(cos.fieldText(QStringLiteral("TextName")), kStudents);
        QVERIFY2(bracedGuid(cos.fieldText(QStringLiteral("CosObjectID"))),
                 qPrintable(cos.fieldText(QStringLiteral("CosObjectID"))));

        // The class-of-service criterion: its identifier spliced into the statement, accented texts back.
        SubscriberQuery::Criteria criteria;
        criteria.code = SubscriberQuery::ClassOfService;
        criteria.cosText = kStudents;
        criteria.cosAlias = QStringLiteral("Students");
        RecordingSink sink;
        SubscriberQuery::run(criteria, connection, sink);
        QCOMPARE(sink.rows.size(), expected.at(0).toInt());
        QVERIFY(!sink.rows.isEmpty());
        bool accented = false;
        for (const SubscriberValues& row : std::as_const(sink.rows)) {
            QCOMPARE(row.cos, kStudents);
            QVERIFY2(bracedGuid(row.subscriberObjectId), qPrintable(row.subscriberObjectId));
            QVERIFY(!row.displayName.contains(QLatin1Char('?')) && !row.displayName.contains(QChar(0xfffd)));
            accented =
                accented || row.displayName.contains(QRegularExpression(QStringLiteral("[^\\x{0}-\\x{7f}]")));
        }
        QVERIFY(accented);

        // A CSV look-up sends an accented alias and finds its subscriber.
        Recordset byAlias;
        byAlias.setCursorLocation(Recordset::adUseClient);
        byAlias.Open(Statements::csvByAlias(kAccentedAlias), connection, Recordset::adOpenForwardOnly);
        QCOMPARE(byAlias.RecordCount(), 1);
        QCOMPARE(byAlias.fieldText(QStringLiteral("Alias")), kAccentedAlias);
        QCOMPARE(byAlias.fieldText(QStringLiteral("DisplayName")), expected.at(1));
        byAlias.Close();

        // The deletion request, its ticket's poll and its removal.
        const QString victim = sink.rows.constFirst().subscriberObjectId;
        const QString ticket = QStringLiteral("{6F1C0D2E-9A41-4B7E-8C55-0123456789AB}");
        Statements::deleteSubscriberCommand(connection, victim, false, true, ticket).Execute();
        Recordset poll;
        poll.Open(Statements::ticketPoll(ticket), connection, Recordset::adOpenKeyset);
        QCOMPARE(poll.RecordCount(), 1);
        QCOMPARE(poll.fieldText(QStringLiteral("Ticket")), ticket);
        QCOMPARE(poll.field(QStringLiteral("result")).toInt(), 0);
        poll.Close();
        Recordset gone;
        gone.Open(Statements::subscriberDetail(victim), connection, Recordset::adOpenKeyset);
        QCOMPARE(gone.RecordCount(), 0);
        gone.Close();
        Statements::deleteTicketCommand(connection, ticket).Execute();
        poll.Open(Statements::ticketPoll(ticket), connection, Recordset::adOpenKeyset);
        QCOMPARE(poll.RecordCount(), 0);
        poll.Close();
        modOrvaneDB::CloseSharedLists();
        return;
    }

    StandinFixture standin(300);
    QVERIFY(standin.isValid());
    const QString studentsId =
        standin.scalar(QStringLiteral("SELECT CosObjectID FROM cos WHERE Alias = 'Students'")).toString();
    const int students =
        standin
            .scalar(QStringLiteral("SELECT count(*) FROM subscriber WHERE CosObjectId = ? AND "
                                   "SubscriberType IN (1,2,3,5,7,8,9)"),
                    {studentsId})
            .toInt();
    const QString displayName =
        standin.scalar(QStringLiteral("SELECT DisplayName FROM subscriber WHERE Alias = ?"), {kAccentedAlias})
            .toString();
    const int subscribers = standin.scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt();
    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(writeDataSource(config, server.port(), "UID=culvane\nPWD=" + kPassword.toUtf8() + "\n"));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QVERIFY(localeEnvironment(locale, config, environment));
    environment.insert(QString::fromLatin1(kChildVariable),
                       QString::number(students) + QLatin1Char('|') + displayName);
    const QByteArray output =
        runTestFunctionInChild(QStringLiteral("startsQueriesAndDeletesThroughFreeTds:") +
                                   QString::fromLatin1(QTest::currentDataTag()),
                               environment, config.path(), config.filePath(QStringLiteral("odbc.ini")));
    QVERIFY2(output.contains("PASS   : TestProductionRoute::startsQueriesAndDeletesThroughFreeTds("),
             output.constData());
    QVERIFY2(!output.contains("FAIL!"), output.constData());
    QVERIFY2(output.contains("Culvane: connecting through the ODBC data source OrvaneDb "
                             "(DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=culvane;PWD=***)"),
             output.constData());
    QVERIFY2(!output.contains("Sw0rd"), output.constData());
    QVERIFY(server.running());
    QCOMPARE(standin.scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt(), subscribers - 1);
}

void TestProductionRoute::refusedConnectionsAreNamedAsFreeTdsNamesThem_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("wrong password") << true
                                    << QByteArray(
                                           "Driver error 18456: [FreeTDS][SQL Server]Unable to connect to "
                                           "data source [FreeTDS][SQL Server]Login failed for user "
                                           "'culvane'.");
    QTest::newRow("nobody listening")
        << false
        << QByteArray(
               "Driver error 20009: [FreeTDS][SQL Server]Unable to connect to data source "
               "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not exist");
}

// The program itself, refused: message 422 stays as it is, FreeTDS's number and text are behind it and on
// standard error, and the password is nowhere.
void TestProductionRoute::refusedConnectionsAreNamedAsFreeTdsNamesThem()
{
    QFETCH(bool, serverUp);
    QFETCH(QByteArray, reason);
    if (qEnvironmentVariableIsSet(kChildVariable))
        return;
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    std::unique_ptr<TdsStandin> server;
    int port = 0;
    if (serverUp) {
        server = std::make_unique<TdsStandin>(standin.databasePath(), kPassword);
        QVERIFY2(server->port() > 0, qPrintable(server->problem()));
        port = server->port();
    } else {
        // A port that was free a moment ago and has nobody listening now.
        TdsStandin gone(standin.databasePath(), kPassword);
        QVERIFY2(gone.port() > 0, qPrintable(gone.problem()));
        port = gone.port();
    }
    QTemporaryDir config;
    QVERIFY(config.isValid());
    const QByteArray wrong = "Wr0ng;pass";
    QVERIFY(writeDataSource(config, port, "UID=culvane\nPWD=" + wrong + "\n"));
    RegFile reg;
    writeServer(reg);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QVERIFY(localeEnvironment(QStringLiteral("C"), config, environment));
    environment.insert(QStringLiteral("ODBCSYSINI"), config.path());
    environment.insert(QStringLiteral("ODBCINI"), config.filePath(QStringLiteral("odbc.ini")));
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), reg.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess culvane;
    culvane.setProcessEnvironment(environment);
    culvane.setWorkingDirectory(config.path());
    culvane.start(QStringLiteral(CULVANE_BIN_DIR "/Culvane"), QStringList());
    QVERIFY(culvane.waitForStarted());
    QByteArray output;
    // The message box waits for a person; its text and detail are on standard error before it shows.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 40000 && !output.contains("Driver error")) {
        culvane.waitForReadyRead(200);
        output += culvane.readAllStandardError() + culvane.readAllStandardOutput();
    }
    QTest::qWait(200);
    output += culvane.readAllStandardError() + culvane.readAllStandardOutput();
    culvane.kill();
    culvane.waitForFinished(5000);

    QVERIFY2(output.contains(kNoDatabase), output.constData());
    QVERIFY2(output.contains(
                 "Data source: DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=culvane;PWD=***\n"),
             output.constData());
    QVERIFY2(output.contains(reason), output.constData());
    QVERIFY2(!output.contains("Wr0ng"), output.constData());
}

// Start-up refused by the server: message 422 as it is, and behind it the data source and the server's own
// number and text, never the password.
void TestProductionRoute::aWrongPasswordAtStartUpIsMessage422WithTheServersReason()
{
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        RegFile reg;
        writeServer(reg);
        ScriptedMessageBoxes boxes;
        const int exits = startUp();
        QCOMPARE(boxes.texts(), QStringList{QString::fromLatin1(kNoDatabase)});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
        QCOMPARE(boxes.details().constFirst(),
                 QStringLiteral("Data source: DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=culvane;"
                                "PWD=***\nDriver error 18456: [FreeTDS][SQL Server]Unable to connect to data "
                                "source [FreeTDS][SQL Server]Login failed for user 'culvane'."));
        QVERIFY(exits > 0);
        modOrvaneDB::CloseSharedLists();
        return;
    }
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));
    const QByteArray output =
        runChild(QStringLiteral("aWrongPasswordAtStartUpIsMessage422WithTheServersReason"), server.port(),
                 QStringLiteral("1"), "Wr0ng;pass");
    QVERIFY2(childPassed(output, "aWrongPasswordAtStartUpIsMessage422WithTheServersReason"),
             output.constData());
    QVERIFY2(!output.contains("Wr0ng"), output.constData());
    QVERIFY(server.running());
}

// Every criterion of the selection page and a CSV file of accented aliases find, through FreeTDS, the rows
// the file holds: alias, braced identifier and display name, in the file's order.
void TestProductionRoute::everyCriterionFindsTheRowsTheFileHolds()
{
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QFile file(qEnvironmentVariable(kChildVariable));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject expected = QJsonDocument::fromJson(file.readAll()).object();
        const auto list = [&](const QString& key) {
            QStringList rows;
            for (const QJsonValue& row : expected.value(key).toArray())
                rows.append(row.toString());
            return rows;
        };
        RegFile reg;
        writeServer(reg);
        ScriptedMessageBoxes boxes;
        QCOMPARE(startUp(), 0);
        QCOMPARE(boxes.texts(), QStringList());
        const QString connection = modOrvaneDB::DbConnectionString();
        QCOMPARE(connection, routeConnection());

        using SubscriberQuery::Criteria;
        QList<std::pair<QString, Criteria>> cases;
        const auto add = [&](const char* key, int code, const std::function<void(Criteria&)>& fill) {
            Criteria criteria;
            criteria.code = code;
            if (fill)
                fill(criteria);
            cases.append({QString::fromLatin1(key), criteria});
        };
        add("all", SubscriberQuery::AllSubscribers, {});
        add("archived", SubscriberQuery::ArchivedMailboxes, {});
        add("range", SubscriberQuery::ExtensionRange, [](Criteria& c) {
            c.rangeLow = QStringLiteral("100");
            c.rangeHigh = QStringLiteral("999");
        });
        add("switch2", SubscriberQuery::Switch, [](Criteria& c) {
            c.switchText = QStringLiteral("East");
            c.switchId = 2;
        });
        add("switch0", SubscriberQuery::Switch, [](Criteria& c) {
            c.switchText = QStringLiteral("Main PBX");
            c.switchId = 0;
        });
        add("cos", SubscriberQuery::ClassOfService, [](Criteria& c) {
            c.cosText = QStringLiteral("Director's Office");
            c.cosAlias = QStringLiteral("Director'sOffice");
        });
        add("mail", SubscriberQuery::MailServer,
            [](Criteria& c) { c.mailServer = QStringLiteral("EXCH-BRANCH"); });
        add("location", SubscriberQuery::Location, [&](Criteria& c) {
            c.locationText = QStringLiteral("O'Hare Site");
            c.locationObjectId = expected.value(QStringLiteral("locationId")).toString();
        });
        add("node", SubscriberQuery::NetworkNode, [](Criteria& c) { c.nodeText = QStringLiteral("101"); });
        for (const auto& [key, criteria] : std::as_const(cases)) {
            RecordingSink sink;
            SubscriberQuery::run(criteria, connection, sink);
            QStringList keys = sink.keys();
            // The range reads its subscribers one by one in the order of their extensions.
            if (key == QLatin1String("range"))
                keys.sort();
            QVERIFY2(!keys.isEmpty(), qPrintable(key));
            QVERIFY2(keys == list(key), qPrintable(key + QStringLiteral(": ") + keys.join(QLatin1Char(' '))));
            QVERIFY2(sink.messages.isEmpty(), qPrintable(key + sink.messages.join(QLatin1Char(' '))));
            for (const SubscriberValues& row : std::as_const(sink.rows))
                QVERIFY2(bracedGuid(row.subscriberObjectId) && bracedGuid(row.callHandlerObjectId),
                         qPrintable(rowKey(row)));
        }

        QTemporaryDir logs;
        Logging::setLogFolder(logs.path());
        CsvRecorder csv;
        CsvImport::ParseCSVForSubscribers(expected.value(QStringLiteral("csvFile")).toString(), connection,
                                          csv);
        Logging::CloseRunLog();
        Logging::setLogFolder(QString());
        QCOMPARE(csv.rows, list(QStringLiteral("csv")));
        QCOMPARE(csv.messages, QStringList{expected.value(QStringLiteral("csvSummary")).toString()});
        modOrvaneDB::CloseSharedLists();
        return;
    }

    StandinFixture standin(300);
    QVERIFY(standin.isValid());
    const auto rows = [&](const QString& sql, const QVariantList& binds = {}) {
        const QString joined =
            standin
                .scalar(QStringLiteral("SELECT group_concat(a, char(10)) FROM (") + sql + QLatin1Char(')'),
                        binds)
                .toString();
        return joined.isEmpty() ? QStringList() : joined.split(QLatin1Char('\n'));
    };
    const QString key = QStringLiteral(
        "SELECT s.Alias || '|' || s.SubscriberObjectID || '|' || ifnull(s.DisplayName, '') AS a ");
    const QString withHandler =
        key + QStringLiteral(
                  "FROM subscriber s JOIN callhandler c ON c.CallHandlerObjectID = s.CallHandlerObjectID ");
    const QString withCos =
        key + QStringLiteral("FROM subscriber s JOIN cos ON cos.CosObjectID = s.CosObjectId ");
    const QString shown = QStringLiteral("WHERE s.SubscriberType IN (1,2,3,5,7,8,9) ");
    const QString byAlias = QStringLiteral(" ORDER BY s.Alias");
    const QString locationId =
        standin
            .scalar(QStringLiteral("SELECT LocationObjectID FROM location WHERE TextName = 'O''Hare Site'"))
            .toString();
    QVERIFY(!locationId.isEmpty());

    QJsonObject expected;
    expected.insert(QStringLiteral("locationId"), locationId);
    QMap<QString, QStringList> lists;
    lists.insert(QStringLiteral("all"), rows(withHandler + shown + byAlias));
    lists.insert(QStringLiteral("archived"),
                 rows(withHandler + QStringLiteral("WHERE s.SubscriberType = 0") + byAlias));
    QStringList range = rows(QStringLiteral("SELECT DISTINCT ") + key.mid(7) +
                             QStringLiteral("FROM subscriber s JOIN dtmfaccessid d ON d.ParentObjectID = "
                                            "s.SubscriberObjectID ") +
                             shown +
                             QStringLiteral("AND length(d.DTMFAccessID) = 3 AND d.DTMFAccessID BETWEEN '100' "
                                            "AND '999'"));
    range.sort();
    lists.insert(QStringLiteral("range"), range);
    lists.insert(QStringLiteral("switch2"),
                 rows(withCos + shown + QStringLiteral("AND s.SwitchID = 2") + byAlias));
    lists.insert(
        QStringLiteral("switch0"),
        rows(withCos + shown + QStringLiteral("AND (s.SwitchID IS NULL OR s.SwitchID = 0)") + byAlias));
    lists.insert(QStringLiteral("cos"),
                 rows(withHandler + QStringLiteral("JOIN cos ON cos.CosObjectID = s.CosObjectId ") + shown +
                      QStringLiteral("AND cos.Alias = 'Director''sOffice'") + byAlias));
    lists.insert(QStringLiteral("mail"),
                 rows(withHandler + shown + QStringLiteral("AND s.HomeServer = 'EXCH-BRANCH'") + byAlias));
    lists.insert(
        QStringLiteral("location"),
        rows(withHandler + shown + QStringLiteral("AND s.LocationObjectID = ?") + byAlias, {locationId}));
    lists.insert(QStringLiteral("node"),
                 rows(withHandler + shown + QStringLiteral("AND s.RemoteNodeID = '101'") + byAlias));

    // A CSV file of every alias outside ASCII in UTF-8, and one again in the Latin-1 bytes of an older
    // spreadsheet; each line finds what a look-up by that alias finds in the file, and the Latin-1 line the
    // subscriber already found, which is counted as a duplicate and not added again.
    const QString accented =
        standin
            .scalar(QStringLiteral("SELECT group_concat(Alias, char(10)) FROM (SELECT Alias FROM subscriber "
                                   "WHERE Alias GLOB '*[^ -~]*' ORDER BY Alias)"))
            .toString();
    QStringList aliases = accented.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(aliases.size() > 5, qPrintable(accented));
    QByteArray bytes = "Alias\r\n";
    for (const QString& alias : std::as_const(aliases))
        bytes += alias.toUtf8() + "\r\n";
    QVERIFY(aliases.contains(kAccentedAlias));
    bytes += kAccentedAlias.toLatin1() + "\r\n";
    QStringList csv;
    for (const QString& alias : std::as_const(aliases))
        csv +=
            rows(withHandler + QStringLiteral("WHERE s.SubscriberType IN (0,1,2,3,5,7,8,9) AND s.Alias = ?") +
                     byAlias,
                 {alias});
    lists.insert(QStringLiteral("csv"), csv);
    QTemporaryDir files;
    const QString csvFile = files.filePath(QStringLiteral("accented.csv"));
    QVERIFY(writeFile(csvFile, bytes));
    expected.insert(QStringLiteral("csvFile"), csvFile);
    expected.insert(
        QStringLiteral("csvSummary"),
        QStringLiteral("Import complete.   %1 lines read in from text file,  %2 users added to grid.\n1 "
                       "duplicate(s) left out: subscribers the file names more than once are added once.")
            .arg(aliases.size() + 1)
            .arg(csv.size()));
    for (auto it = lists.cbegin(); it != lists.cend(); ++it) {
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key()));
        expected.insert(it.key(), QJsonArray::fromStringList(it.value()));
    }
    QVERIFY(lists.value(QStringLiteral("switch0")).size() > lists.value(QStringLiteral("switch2")).size());
    const QString expectedFile = files.filePath(QStringLiteral("expected.json"));
    QVERIFY(writeFile(expectedFile, QJsonDocument(expected).toJson()));

    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));
    const QByteArray output =
        runChild(QStringLiteral("everyCriterionFindsTheRowsTheFileHolds"), server.port(), expectedFile);
    QVERIFY2(childPassed(output, "everyCriterionFindsTheRowsTheFileHolds"), output.constData());
}

// A run on the deletion page through FreeTDS: a sync failure (result 5), a sync that never finishes (20
// polls), Stop pressed during the fourth of five; log and results file as on the SQLite route.
void TestProductionRoute::aDeletionRunWithSyncFailureTimeOutAndStop()
{
    const QStringList aliases{QStringLiteral("fine"), QStringLiteral("failing"), QStringLiteral("silent"),
                              QStringLiteral("user4"), QStringLiteral("user5")};
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        DeletionPage page(aliases);
        int pauses = 0;
        const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
            if (++pauses == 1 + 1 + 20 + 1)
                page.button("cmdStop")->click();
        });
        ScriptedMessageBoxes boxes;
        boxes.setNextAnswer(MsgBox::vbYes);
        boxes.setNextAnswer(MsgBox::vbOK);
        RecordingLauncher launcher;
        page.button("cmdDeleteSubscribers")->click();
        Clock::setSleeper(previousSleeper);

        QCOMPARE(pauses, 23);
        QCOMPARE(boxes.texts(), (QStringList{confirmOrvane(5), stoppedClosingMessage(4, 2, 1)}));
        QCOMPARE(launcher.started().size(), 1);
        QVERIFY(!Logging::RunLogIsOpen());
        const QString deleting =
            DeletionRun::DeletingLine + QStringLiteral("\r\n    Alias=%1\r\n    ObjectID=%2\r\n");
        const QString expectedLog =
            QStringLiteral("\r\n\r\n") + DeletionRun::OrvaneDataOnlyLine + QStringLiteral("\r\n") +
            deleting.arg(aliases.at(0), objectIdFor(1)) + DeletionRun::SyncCompleteLine +
            QStringLiteral("\r\n") + deleting.arg(aliases.at(1), objectIdFor(2)) +
            DeletionRun::syncFailedLine(aliases.at(1)) + QStringLiteral("\r\n") +
            deleting.arg(aliases.at(2), objectIdFor(3)) +
            QStringLiteral(
                "Syncronization process failed to complete in a timely fashion.  Check the ZAVEvedUda "
                "logs in the \\Orvane\\Logs directory\r\n") +
            DeletionRun::syncFailedLine(aliases.at(2)) + QStringLiteral("\r\n") +
            deleting.arg(aliases.at(3), objectIdFor(4)) + DeletionRun::SyncCompleteLine +
            QStringLiteral("\r\n") + DeletionRun::stoppedLine(4, 5) + QStringLiteral("\r\n");
        const QString log = readFile(Logging::RunLogPath());
        QVERIFY2(log.endsWith(expectedLog), qPrintable(log));

        const QStringList results = DeletionPage::results();
        QCOMPARE(results.size(), 1 + 5 + 1);
        QCOMPARE(results.at(0),
                 QStringLiteral("Alias,ObjectID,Extension,Outcome,Detail,Ticket,Started,Finished"));
        const QStringList outcomes{QStringLiteral("deleted,"), QStringLiteral("sync failed,5"),
                                   QStringLiteral("sync timed out,"), QStringLiteral("deleted,")};
        for (int n = 1; n <= 4; ++n) {
            const QRegularExpression row(
                QStringLiteral("^%1,%2,%3,%4,(\\{[0-9A-F-]{36}\\}),\\d{4}-[^,]+,\\d{4}-[^,]+$")
                    .arg(QRegularExpression::escape(aliases.at(n - 1)),
                         QRegularExpression::escape(objectIdFor(n)))
                    .arg(2000 + n)
                    .arg(outcomes.at(n - 1)));
            const QRegularExpressionMatch match = row.match(results.at(n));
            QVERIFY2(match.hasMatch(), qPrintable(results.at(n)));
            // The ticket the request carried is the one the server recorded for that subscriber.
            QCOMPARE(match.captured(1), recordedTicket(objectIdFor(n)));
        }
        QCOMPARE(results.at(5), QStringLiteral("user5,%1,2005,not attempted,,,,").arg(objectIdFor(5)));
        QCOMPARE(results.at(6), QString());
        return;
    }

    StandinFixture standin(0);
    QVERIFY(standin.isValid());
    QVERIFY(addSubscriber(standin, objectIdFor(1), aliases.at(0)));
    QVERIFY(addSubscriber(standin, objectIdFor(2), aliases.at(1), 5));
    QVERIFY(addSubscriber(standin, objectIdFor(3), aliases.at(2), QVariant(), true));
    QVERIFY(addSubscriber(standin, objectIdFor(4), aliases.at(3)));
    QVERIFY(addSubscriber(standin, objectIdFor(5), aliases.at(4)));
    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));
    const QByteArray output = runChild(QStringLiteral("aDeletionRunWithSyncFailureTimeOutAndStop"),
                                       server.port(), QStringLiteral("1"));
    QVERIFY2(childPassed(output, "aDeletionRunWithSyncFailureTimeOutAndStop"), output.constData());
    QCOMPARE(standin.scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
             QStringLiteral("fine,failing,silent,user4"));
    QCOMPARE(standin.scalar(QStringLiteral("SELECT group_concat(Alias) FROM subscriber")).toString(),
             QStringLiteral("user5"));
    // Every ticket whose result was read was removed; the one that never finished stays.
    QCOMPARE(standin.scalar(QStringLiteral("SELECT count(*) FROM standin_ticket_deletions")).toInt(), 3);
    QCOMPARE(standin
                 .scalar(QStringLiteral("SELECT group_concat(d.Alias) FROM directorysyncticket t JOIN "
                                        "standin_deletions d ON d.DirectorySyncTicket = t.Ticket"))
                 .toString(),
             QStringLiteral("silent"));
}

// The server ends during the first subscriber's wait and stays away for the rest of the run: each failure
// is reported with FreeTDS's text and logged; the requests that found no server are not sent and nothing is
// waited for them; after three subscribers in a row the person is asked, and Stop ends the run with its log
// and results file complete. A server started again on the same port answers the same connection text,
// also after a restart between two queries.
void TestProductionRoute::theServerEndedMidRunAndRestarted()
{
    const QStringList aliases{QStringLiteral("user1"), QStringLiteral("user2"), QStringLiteral("user3")};
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        const QStringList payload = qEnvironmentVariable(kChildVariable).split(QLatin1Char('|'));
        QCOMPARE(payload.size(), 3);
        const qint64 pid = payload.at(0).toLongLong();
        const int port = payload.at(1).toInt();
        const QString database = payload.at(2);
        DeletionPage page(aliases);
        int pauses = 0;
        bool ended = false;
        const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
            if (++pauses == 1)
                ended = killAndWaitForItsEnd(pid);
        });
        ScriptedMessageBoxes boxes;
        for (const MsgBox::Answer answer :
             {MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbCancel, MsgBox::vbOK})
            boxes.setNextAnswer(answer);
        RecordingLauncher launcher;
        page.button("cmdDeleteSubscribers")->click();
        Clock::setSleeper(previousSleeper);
        QVERIFY(ended);

        const QString waitReport =
            QStringLiteral(") in procedure WaitForSyncToFinished of Module modPMSFunctions");
        const QString requestReport =
            QStringLiteral(") in procedure cmdDeleteSubscribers_Click of Form frmDeleteSubscribers");
        const QString dataSource = QStringLiteral(
            "Data source: DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=culvane;PWD=***\nDriver "
            "error ");
        const QString unavailable =
            QStringLiteral("Driver error 20009: [FreeTDS][SQL Server]Unable to connect to data source "
                           "[FreeTDS][SQL Server]Unable "
                           "to connect: Adaptive Server is unavailable or does not exist");
        const QString connectionFailedReason =
            QStringLiteral("[FreeTDS][SQL Server]Unable to connect to data source [FreeTDS][SQL "
                           "Server]Adaptive Server connection failed");
        const QString connectionFailed = QStringLiteral("Driver error 20002: ") + connectionFailedReason;
        const QString reason = QStringLiteral("[FreeTDS][SQL Server]Unable to connect to data source "
                                              "[FreeTDS][SQL Server]Unable to connect: Adaptive "
                                              "Server is unavailable or does not exist");
        const QString all = boxes.texts().join(QStringLiteral("\n---\n")) + QStringLiteral("\n===\n") +
                            boxes.details().join(QStringLiteral("\n---\n"));
        // The first subscriber's wait, the two requests, the question, the closing message: the last
        // subscriber was reached, so nothing is left that the run did not attempt.
        QVERIFY2(boxes.texts().size() == 1 + 1 + 2 + 1 + 1, qPrintable(all));
        QCOMPARE(boxes.texts().constFirst(), confirmOrvane(3));
        QCOMPARE(boxes.texts().constLast(), closingMessage(3, 3));
        for (int i = 1; i <= 3; ++i) {
            const QString& text = boxes.texts().at(i);
            const QString& detail = boxes.details().at(i);
            QVERIFY2(text.startsWith(QStringLiteral("(error):")) &&
                         text.endsWith(i == 1 ? waitReport : requestReport) &&
                         detail.startsWith(dataSource) && detail.contains(QStringLiteral("[FreeTDS]")) &&
                         !detail.contains(QStringLiteral("Sw0rd")),
                     qPrintable(all));
            // The kept connection is found broken before it is used: each failure names the server that is
            // not there, refused at once or, while its end is still going, failed before it signs in.
            QVERIFY2(detail.endsWith(unavailable) || detail.endsWith(connectionFailed), qPrintable(detail));
        }
        QString question = boxes.texts().at(4);
        question.replace(connectionFailedReason, reason);
        QCOMPARE(question,
                 QStringLiteral("The database could not be reached for 3 subscribers in a row (%1).  "
                                "Press RETRY to send the request for the subscriber user3 again, or "
                                "STOP to end the run here; the subscribers not yet attempted stay "
                                "checked in the grid.")
                     .arg(reason));
        // Only the first subscriber's ticket was waited for.
        QCOMPARE(pauses, 1);
        QVERIFY(!Logging::RunLogIsOpen());

        const QString log = DeletionPage::logFromFirstSubscriber();
        const QString unreadable = QStringLiteral(
            "Directory sync status could not be read from the database, giving up on this ticket: ");
        const QString deleting =
            DeletionRun::DeletingLine + QStringLiteral("\r\n    Alias=%1\r\n    ObjectID=%2\r\n");
        QString expected = deleting.arg(aliases.at(0), objectIdFor(1)) + unreadable + reason +
                           QStringLiteral("\r\n") + DeletionRun::syncFailedLine(aliases.at(0)) +
                           QStringLiteral("\r\n");
        for (int n = 2; n <= 3; ++n)
            expected += deleting.arg(aliases.at(n - 1), objectIdFor(n)) +
                        DeletionRun::requestNotSentLine(aliases.at(n - 1), 20009, reason) +
                        QStringLiteral("\r\n");
        expected += DeletionRun::unreachableStopLine(3, 3, aliases.at(2), 3, reason) + QStringLiteral("\r\n");
        // Either way of not reaching the server reads as the refused one, for one comparison of the whole.
        QString sameReason = log;
        sameReason.replace(QStringLiteral("opened: 20002 (") + connectionFailedReason,
                           QStringLiteral("opened: 20009 (") + reason);
        sameReason.replace(connectionFailedReason, reason);
        QCOMPARE(sameReason, expected);

        QStringList results = DeletionPage::results();
        results.replaceInStrings(connectionFailedReason, reason);
        QCOMPARE(results.size(), 1 + 3 + 1);
        QVERIFY2(results.at(1).startsWith(
                     QStringLiteral("user1,%1,2001,sync failed,%2,{").arg(objectIdFor(1), reason)),
                 qPrintable(results.at(1)));
        for (int n = 2; n <= 3; ++n)
            QVERIFY2(results.at(n).startsWith(QStringLiteral("user%1,%2,%3,not sent,%4,,")
                                                  .arg(n)
                                                  .arg(objectIdFor(n))
                                                  .arg(2000 + n)
                                                  .arg(reason)),
                     qPrintable(results.at(n)));
        const QString firstTicket = results.at(1).section(QLatin1Char(','), 5, 5);
        QVERIFY2(bracedGuid(firstTicket), qPrintable(results.at(1)));

        // The server back on its port: the first subscriber's request had been carried out, and its ticket,
        // never read, is there with its result.
        auto restarted = std::make_unique<TdsStandin>(database, kPassword, port);
        QVERIFY2(restarted->port() == port, qPrintable(restarted->problem()));
        const auto firstTicketResult = [&] {
            Recordset poll;
            poll.Open(Statements::ticketPoll(firstTicket), routeConnection(), Recordset::adOpenKeyset);
            const QString result =
                poll.RecordCount() == 1 ? poll.fieldText(QStringLiteral("result")) : QStringLiteral("none");
            poll.Close();
            return result;
        };
        try {
            QCOMPARE(firstTicketResult(), QStringLiteral("0"));
            QCOMPARE(DbConnection::keptConnectionCount(), 1);
            // Restarted again between two queries: the kept connection is broken and is replaced.
            QVERIFY(killAndWaitForItsEnd(restarted->pid()));
            restarted = std::make_unique<TdsStandin>(database, kPassword, port);
            QVERIFY2(restarted->port() == port, qPrintable(restarted->problem()));
            QCOMPARE(firstTicketResult(), QStringLiteral("0"));
            QCOMPARE(DbConnection::keptConnectionCount(), 1);
        } catch (const CulvaneError& error) {
            QFAIL(qPrintable(
                QStringLiteral("%1 %2\n%3").arg(error.number()).arg(error.description(), error.detail())));
        }
        return;
    }

    StandinFixture standin(0);
    QVERIFY(standin.isValid());
    for (int n = 1; n <= 3; ++n)
        QVERIFY(addSubscriber(standin, objectIdFor(n), aliases.at(n - 1)));
    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));
    const QByteArray output =
        runChild(QStringLiteral("theServerEndedMidRunAndRestarted"), server.port(),
                 QStringLiteral("%1|%2|%3").arg(server.pid()).arg(server.port()).arg(standin.databasePath()));
    if (!childPassed(output, "theServerEndedMidRunAndRestarted"))
        qWarning().noquote() << output; // whole, as a failure's message is cut short
    QVERIFY(childPassed(output, "theServerEndedMidRunAndRestarted"));
    QVERIFY(server.ended());
    // Only the first request reached the server before it went.
    QCOMPARE(standin.scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
             QStringLiteral("user1"));
    QCOMPARE(standin.scalar(QStringLiteral("SELECT group_concat(Alias) FROM subscriber")).toString(),
             QStringLiteral("user2,user3"));
}

// Timeouts short enough for a test: connecting 2 s, a statement 3 s. FreeTDS waits as long again for the
// cancel of a statement that ran out of time, so a hung server costs at most 2 x 3 s for the statement in
// flight (or 2 x 2 s for the check of a kept connection), then 2 s for each of three connection attempts.
constexpr DbTimeouts kShortTimeouts{2, 3};
constexpr qint64 kUnansweredBoundMs = 2 * 3000 + 2 * 2000 + 3 * 2000 + 3000;
// Subscribers in the grid: many more than the three the run tries before it stops.
constexpr int kManySubscribers = 12;

QStringList manyAliases()
{
    QStringList aliases;
    for (int n = 1; n <= kManySubscribers; ++n)
        aliases.append(QStringLiteral("user%1").arg(n));
    return aliases;
}

void TestProductionRoute::aServerThatStopsAnsweringEndsTheRun_data()
{
    QTest::addColumn<bool>("onThePage");
    QTest::addColumn<int>("signal");
    QTest::newRow("the page, server hung") << true << int(SIGSTOP);
    QTest::newRow("culvane-run, server hung") << false << int(SIGSTOP);
    QTest::newRow("culvane-run, server killed") << false << int(SIGKILL);
}

// From the moment the server stops answering, three subscribers find it out of reach and the run ends:
// its time is bounded by the timeouts, not by the subscribers left. A hung server (stopped, its port still
// taking connections) and a killed one (refusing them).
void TestProductionRoute::aServerThatStopsAnsweringEndsTheRun()
{
    QFETCH(bool, onThePage);
    QFETCH(int, signal);
    const QStringList aliases = manyAliases();
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        const qint64 pid = qEnvironmentVariable(kChildVariable).toLongLong();
        DbConnection::setTimeoutsForTests(kShortTimeouts);
        DeletionPage page(aliases);
        QElapsedTimer sinceStopped;
        const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
            if (!sinceStopped.isValid() && ::kill(static_cast<pid_t>(pid), signal) == 0)
                sinceStopped.start();
        });
        ScriptedMessageBoxes boxes;
        for (const MsgBox::Answer answer :
             {MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbCancel, MsgBox::vbOK})
            boxes.setNextAnswer(answer);
        RecordingLauncher launcher;
        page.button("cmdDeleteSubscribers")->click();
        const qint64 elapsed = sinceStopped.elapsed();
        Clock::setSleeper(previousSleeper);
        DbConnection::setTimeoutsForTests(DbTimeouts());

        QVERIFY(sinceStopped.isValid());
        QVERIFY2(elapsed < kUnansweredBoundMs, qPrintable(QString::number(elapsed)));
        const QString all = boxes.texts().join(QStringLiteral("\n---\n"));
        QVERIFY2(boxes.texts().size() == 6, qPrintable(all));
        QVERIFY2(boxes.texts().at(4).startsWith(QStringLiteral(
                     "The database could not be reached for 3 subscribers in a row ([FreeTDS]")) &&
                     boxes.texts().at(4).contains(QStringLiteral("the subscriber user3 again")),
                 qPrintable(all));
        QVERIFY2(
            boxes.texts().at(5).startsWith(
                QStringLiteral("The run was stopped because the database could not be reached: %1 checked "
                               "subscriber(s) were not attempted")
                    .arg(kManySubscribers - 3)),
            qPrintable(all));
        const QString log = DeletionPage::logFromFirstSubscriber();
        QVERIFY2(
            log.contains(QStringLiteral("**** Run stopped after 3 of %1 subscribers, at the subscriber with "
                                        "alias= user3: the database could not be reached for 3 "
                                        "subscribers in a row ([FreeTDS]")
                             .arg(kManySubscribers)),
            qPrintable(log));
        QCOMPARE(log.count(QStringLiteral(" was not sent: no connection to the database could be opened: ")),
                 2);
        const QStringList results = DeletionPage::results();
        QCOMPARE(results.size(), 1 + kManySubscribers + 1);
        QVERIFY2(results.at(1).contains(QStringLiteral(",sync failed,[FreeTDS]")), qPrintable(results.at(1)));
        for (int n = 2; n <= 3; ++n)
            QVERIFY2(results.at(n).contains(QStringLiteral(",not sent,[FreeTDS]")),
                     qPrintable(results.at(n)));
        for (int n = 4; n <= kManySubscribers; ++n)
            QVERIFY2(results.at(n).endsWith(QStringLiteral(",not attempted,,,,")), qPrintable(results.at(n)));
        return;
    }

    // The page's grid holds subscribers of its own; culvane-run selects the 17 students of the generated
    // ones. Either way the first subscriber's synchronisation never finishes: the server stops during its
    // wait.
    StandinFixture standin(onThePage ? 0 : 120);
    QVERIFY(standin.isValid());
    const int selected = onThePage ? kManySubscribers : 17;
    if (onThePage) {
        for (int n = 1; n <= kManySubscribers; ++n)
            QVERIFY(addSubscriber(standin, objectIdFor(n), aliases.at(n - 1), QVariant(), n == 1));
    } else {
        QVERIFY(standin.exec(
            QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = 'user00006'")));
    }
    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));
    // A stopped server goes on once the case is over, so that it can end.
    const auto resume = qScopeGuard([&] { ::kill(static_cast<pid_t>(server.pid()), SIGCONT); });

    if (onThePage) {
        const QByteArray output = runChild(QStringLiteral("aServerThatStopsAnsweringEndsTheRun:") +
                                               QString::fromLatin1(QTest::currentDataTag()),
                                           server.port(), QString::number(server.pid()));
        if (!childPassed(output, "aServerThatStopsAnsweringEndsTheRun"))
            qWarning().noquote() << output; // whole, as a failure's message is cut short
        QVERIFY(childPassed(output, "aServerThatStopsAnsweringEndsTheRun"));
    } else {
        RouteRun route;
        QVERIFY(route.prepare(server.port()));
        route.environment.insert(
            QStringLiteral("CULVANE_RUN_TIMEOUTS"),
            QStringLiteral("%1,%2").arg(kShortTimeouts.connectSeconds).arg(kShortTimeouts.commandSeconds));
        QProcess run;
        route.setUp(run);
        run.start(route.binary,
                  {QStringLiteral("delete"), QStringLiteral("--cos"), QStringLiteral("Students"),
                   QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")});
        run.closeWriteChannel();
        QVERIFY(run.waitForStarted(5000));
        // Stopped during the first subscriber's wait, once its request has gone through.
        QTRY_VERIFY_WITH_TIMEOUT(
            standin.scalar(QStringLiteral("SELECT count(*) FROM standin_deletions")).toInt() == 1, 20000);
        QElapsedTimer sinceStopped;
        sinceStopped.start();
        QVERIFY(::kill(static_cast<pid_t>(server.pid()), signal) == 0);
        QVERIFY(run.waitForFinished(int(kUnansweredBoundMs) + 10000));
        const qint64 elapsed = sinceStopped.elapsed();
        const QString errors = QString::fromUtf8(run.readAllStandardError());
        const QByteArray out = run.readAllStandardOutput();
        QVERIFY2(elapsed < kUnansweredBoundMs,
                 qPrintable(QString::number(elapsed) + QLatin1Char('\n') + errors));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QVERIFY2(run.exitCode() == 75, qPrintable(errors));
        QVERIFY2(
            errors.contains(QStringLiteral("culvane-run: the database could not be reached for 3 subscribers "
                                           "in a row ([FreeTDS]")),
            qPrintable(errors));
        QVERIFY2(!errors.contains(kPassword), qPrintable(errors));
        QVERIFY2(out.endsWith(
                     QStringLiteral(" sync-failed=1 sync-timed-out=0 rejected=0 request-failed=0 not-sent=2 "
                                    "outcome-unknown=0 not-attempted=%1 errors=3 ended=unreachable\n")
                         .arg(selected - 3)
                         .toUtf8()),
                 out.constData());
        const QStringList results =
            route.only(QStringLiteral("Culvane_Results_")).split(QStringLiteral("\r\n"));
        QCOMPARE(results.size(), 1 + selected + 1);
        for (int n = 2; n <= 3; ++n)
            QVERIFY2(results.at(n).contains(QStringLiteral(",not sent,[FreeTDS]")),
                     qPrintable(results.at(n)));
        QVERIFY2(results.at(4).endsWith(QStringLiteral(",not attempted,,,,")), qPrintable(results.at(4)));
    }
    // Only the first request reached the server.
    ::kill(static_cast<pid_t>(server.pid()), SIGCONT);
    QCOMPARE(standin.scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
             onThePage ? QStringLiteral("user1") : QStringLiteral("user00006"));
}

#include "test_productionroute.moc"

// Several waits at once through FreeTDS: one statement polls every waiting ticket, the time-out among fast
// tickets ends last, each subscriber's lines stand together and the results file keeps the selection order.
void TestProductionRoute::culvaneRunOverlapsWaitsThroughFreeTds()
{
    // The 17 students of the generated subscribers: the first one's synchronisation never finishes, the
    // second's fails, the others' are there at once.
    StandinFixture standin(120);
    QVERIFY(standin.isValid());
    QVERIFY(standin.exec(QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 0, SyncResult = NULL")));
    QVERIFY(standin.exec(
        QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = 'user00006'")));
    QVERIFY(standin.exec(QStringLiteral("UPDATE subscriber SET SyncResult = 5 WHERE Alias = 'user00013'")));
    TdsStandin server(standin.databasePath(), kPassword);
    QVERIFY2(server.port() > 0, qPrintable(server.problem()));

    RouteRun route;
    QVERIFY(route.prepare(server.port()));
    QProcess run;
    route.setUp(run);
    run.start(route.binary,
              {QStringLiteral("delete"), QStringLiteral("--cos"), QStringLiteral("Students"),
               QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes"),
               QStringLiteral("--in-flight"), QStringLiteral("4"), QStringLiteral("--verbose")});
    run.closeWriteChannel();
    QVERIFY(run.waitForFinished(30000));
    const QString errors = QString::fromUtf8(run.readAllStandardError());
    const QByteArray out = run.readAllStandardOutput();
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.exitCode() == 1, qPrintable(errors));
    QVERIFY2(out.endsWith("\nSummary: selected=17 processed=17 deleted=15 sync-failed=1 sync-timed-out=1 "
                          "rejected=0 request-failed=0 not-sent=0 outcome-unknown=0 not-attempted=0 errors=2 "
                          "ended=completed\n"),
             out.constData());
    QVERIFY2(!errors.contains(kPassword), qPrintable(errors));
    // Four tickets at once: the time-out's polls carried the others.
    static const QRegularExpression statements(QStringLiteral(
        "(\\d+) statements in [0-9.]+ s, [0-9.]+ a second: 17 deletion requests, (\\d+) ticket "
        "polls \\([0-9.]+ a second\\), 16 ticket removals\n"));
    const QRegularExpressionMatch counted = statements.match(errors);
    QVERIFY2(counted.hasMatch(), qPrintable(errors));
    QVERIFY2(counted.captured(2).toInt() <= 21, qPrintable(counted.captured(0)));

    const QString log = route.only(QStringLiteral("Culvane_Log_"));
    QCOMPARE(log.count(QStringLiteral("    Request sent for alias= ")), 17);
    // The time-out's block, whole, comes after the others'.
    const qsizetype silent = log.indexOf(QStringLiteral("    Alias=user00006\r\n"));
    QVERIFY2(silent > log.indexOf(QStringLiteral("    Alias=user00013\r\n")), qPrintable(log));
    QVERIFY2(log.indexOf(QStringLiteral("Syncronization process failed to complete in a timely fashion."),
                         silent) > silent,
             qPrintable(log));
    const QStringList results = route.only(QStringLiteral("Culvane_Results_")).split(QStringLiteral("\r\n"));
    QCOMPARE(results.size(), 1 + 17 + 1);
    QStringList resultAliases;
    for (const QString& row : results.mid(1, 17))
        resultAliases.append(row.section(QLatin1Char(','), 0, 0));
    const QStringList selected =
        (QStringList() << standin.scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions"))
                              .toString()
                              .split(QLatin1Char(',')));
    // Requests went out one at a time in the order of the selection, which the file keeps.
    QCOMPARE(resultAliases, selected);
    QVERIFY2(results.at(1 + selected.indexOf(QStringLiteral("user00006")))
                 .contains(QStringLiteral(",sync timed out,")),
             qPrintable(results.join(QLatin1Char('\n'))));
    QVERIFY2(results.at(1 + selected.indexOf(QStringLiteral("user00013")))
                 .contains(QStringLiteral(",sync failed,5,")),
             qPrintable(results.join(QLatin1Char('\n'))));
    // Every ticket whose result was read was removed through the server; the time-out's stays.
    QCOMPARE(standin.scalar(QStringLiteral("SELECT count(*) FROM standin_ticket_deletions")).toInt(), 16);
}

QTEST_MAIN(TestProductionRoute)
