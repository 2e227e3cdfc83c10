// The route administrators have, end to end: the program's own units and the program itself through unixODBC
// and FreeTDS's ODBC driver to standin/tds-server, a TDS 7.4 server in front of a stand-in OrvaneDb that
// refuses server cursors as a strict SQL Server does, under locales that are not UTF-8. unixODBC reads its
// configuration and the locale is set once per process, so each case runs this test again in a process of
// its own.
#include "app/frmMain.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "ports/ExitApplication.h"
#include "selection/SubscriberQuery.h"
#include "server/Command.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kChildVariable = "CULVANE_TEST_PRODUCTIONROUTE_CHILD";
// Sent braced as FreeTDS 1.3 reads braces: {Sw0rd;f}sh}.
const QString kPassword = QStringLiteral("Sw0rd;f}sh");
const QString kStudents = QStringLiteral("\u00c9l\u00e8ves et \u00e9tudiants");
const QString kAccentedAlias = QStringLiteral("jos\u00e9.m\u00fcller166");
const QByteArray kNoDatabase =
    "Unable to open OrvaneDB with necessary rights needed for this tool.  Make sure "
    "you are running this tool logged in as a member of the local admins group.";

QString freeTdsLibrary()
{
    for (const QString& folder :
         {QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc"), QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc"),
          QStringLiteral("/usr/lib/odbc"), QStringLiteral("/usr/lib64")}) {
        if (QFile::exists(folder + QStringLiteral("/libtdsodbc.so")))
            return folder + QStringLiteral("/libtdsodbc.so");
    }
    return QStringLiteral("libtdsodbc.so");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// standin/tds-server on a free port of the loopback address, in front of the given stand-in file, for the
// life of the object. It lands with the branch that brings it; without it the cases fail and say so.
class TdsStandin {
public:
    TdsStandin(const QString& database, const QString& password)
    {
        const QString script = QStringLiteral(CULVANE_SOURCE_DIR "/standin/tds-server");
        if (!QFile::exists(script) || !m_dir.isValid()) {
            m_problem = script + QStringLiteral(" is missing");
            return;
        }
        const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
        const QString portFile = m_dir.filePath(QStringLiteral("port"));
        writeFile(passwordFile, password.toUtf8() + '\n');
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(QStringLiteral("python3"),
                       {script, QStringLiteral("--db"), database, QStringLiteral("--login"),
                        QStringLiteral("culvane"), QStringLiteral("--password-file"), passwordFile,
                        QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--port-file"),
                        portFile, QStringLiteral("--guid-columns")});
        QElapsedTimer timer;
        timer.start();
        while (m_port == 0 && timer.elapsed() < 20000 && m_server.state() != QProcess::NotRunning) {
            m_server.waitForReadyRead(100);
            m_output += m_server.readAll();
            if (m_output.contains("listening on")) {
                QFile port(portFile);
                if (port.open(QIODevice::ReadOnly))
                    m_port = port.readAll().trimmed().toInt();
            }
        }
        if (m_port == 0)
            m_problem = QStringLiteral("tds-server did not start: ") + QString::fromUtf8(m_output);
    }
    ~TdsStandin()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(10000))
            m_server.kill();
        m_server.waitForFinished(5000);
    }
    TdsStandin(const TdsStandin&) = delete;
    TdsStandin& operator=(const TdsStandin&) = delete;

    int port() const { return m_port; }
    QString problem() const { return m_problem; }
    bool running() const { return m_server.state() == QProcess::Running; }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_output;
    QString m_problem;
    int m_port = 0;
};

// An odbcinst.ini naming FreeTDS and a user odbc.ini whose OrvaneDb reaches the server with the given lines.
bool writeDataSource(const QTemporaryDir& config, int port, const QByteArray& lines)
{
    return writeFile(config.filePath(QStringLiteral("odbcinst.ini")),
                     "[FreeTDS]\nDriver=" + QFile::encodeName(freeTdsLibrary()) + "\n") &&
           writeFile(config.filePath(QStringLiteral("odbc.ini")),
                     "[OrvaneDb]\nDriver=FreeTDS\nServer=127.0.0.1\nPort=" + QByteArray::number(port) +
                         "\nDatabase=OrvaneDb\nTDS_Version=7.4\n" + lines);
}

// A normal 5.0 installation with a switch and without restricted rights: the start-up shows no message.
void writeServer(RegFile& reg)
{
    reg.currentVersion(5, 0, 1, 33);
    reg.key(QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"))
        .sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsExchange.VcIDCExchange.1"));
    reg.key(QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0"))
        .dword(QStringLiteral("Restricted Rights"), 0);
    reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\Main PBX"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Main PBX"))
        .dword(QStringLiteral("IntegrationID"), 1);
    reg.save();
}

class RecordingSink : public SubscriberSink {
public:
    void addSubscriber(SubscriberValues&& values) override { rows.append(std::move(values)); }
    void message(const QString& text) override { messages.append(text); }
    QVector<SubscriberValues> rows;
    QStringList messages;
};

bool bracedGuid(const QString& text)
{
    static const QRegularExpression guid(QStringLiteral("^\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}$"));
    return guid.match(text).hasMatch();
}

} // namespace

class TestProductionRoute : public QObject {
    Q_OBJECT

private slots:
    void startsQueriesAndDeletesThroughFreeTds_data();
    void startsQueriesAndDeletesThroughFreeTds();
    void refusedConnectionsAreNamedAsFreeTdsNamesThem_data();
    void refusedConnectionsAreNamedAsFreeTdsNamesThem();

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
        int exits = 0;
        const Module1::ExitHandler previous = Module1::setExitHandler([&] { ++exits; });
        {
            frmMain page;
            page.Form_Load();
        }
        Module1::setExitHandler(previous);
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
    environment.insert(QStringLiteral("ODBCSYSINI"), config.path());
    environment.insert(QStringLiteral("ODBCINI"), config.filePath(QStringLiteral("odbc.ini")));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(config.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("startsQueriesAndDeletesThroughFreeTds:") +
                 QString::fromLatin1(QTest::currentDataTag())});
    QVERIFY(child.waitForFinished(120000));
    const QByteArray output = child.readAll();
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

QTEST_MAIN(TestProductionRoute)

#include "test_productionroute.moc"
