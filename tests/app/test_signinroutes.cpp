// Every way an administrator signs in, end to end through unixODBC and FreeTDS's ODBC driver in the C
// locale: Kerberos with a ticket of a realm of the test's own (standin/test-realm), NTLMv2 with the
// password from the data source, the sign-in box or --password-file, and a SQL login, each with the
// whole session encrypted (a certificate checked against the test's CA) and without. Each route starts
// the wizard and deletes two subscribers on its deletion page, and runs culvane-run's select and delete;
// each failure shows FreeTDS's own number and text. One realm and one set of servers serve the whole test;
// unixODBC reads its configuration once per process, so each program run is a process of its own.
#include "RouteSupport.h"
#include "app/frmMain.h"
#include "common/NamedChild.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "common/TdsStandin.h"
#include "common/TestChild.h"
#include "deletion/DeletionTestSupport.h"
#include "deletion/Logging.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "ports/Ports.h"
#include "selection/SubscriberGridModel.h"
#include "server/modOrvaneDB.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kChildVariable = "CULVANE_TEST_SIGNINROUTES_CHILD";
const QByteArray kSqlPassword = "Sql-Pa55;w0rd";
const QByteArray kWrongPassword = "Wr0ng-Pa55";
const QByteArray kNoDatabase =
    "Unable to open OrvaneDB with necessary rights needed for this tool.  Make sure "
    "you are running this tool logged in as a member of the local admins group.";
const QString kDataSource = QStringLiteral("Data source: DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8");
const QString kUnableToConnect = QStringLiteral("[FreeTDS][SQL Server]Unable to connect to data source ");

// A port nobody listens on at the moment; the realm's service principals name it before its server starts.
int freePort()
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(socket);
    return port;
}

// The first page loaded as the program's start does, typing `typed` into the sign-in box when it asks;
// answers how often the start asked to end and which boxes asked for a password.
int startUp(const QString& typed, QStringList& signInBoxes)
{
    int exits = 0;
    const Module1::ExitHandler previous = Module1::setExitHandler([&] { ++exits; });
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        signInBoxes.append(box->objectName());
        auto* password = box->findChild<QLineEdit*>(QStringLiteral("txtPassword"));
        if (!password || typed.isEmpty()) {
            box->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
            return;
        }
        QTest::keyClicks(password, typed);
        box->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    typist.start(20);
    {
        frmMain page;
        page.Form_Load();
    }
    typist.stop();
    Module1::setExitHandler(previous);
    return exits;
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct RunResult {
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class TestSignInRoutes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyRouteSignsInSelectsAndDeletes_data();
    void everyRouteSignsInSelectsAndDeletes();
    void refusedSignInsShowFreeTdsNumberAndText_data();
    void refusedSignInsShowFreeTdsNumberAndText();

private:
    // The settings with the world's ports, paths and passwords put in for their %NAMES%.
    QByteArray filledIn(QByteArray text) const;
    // A folder with odbcinst.ini and a user odbc.ini whose OrvaneDb has the given lines.
    bool writeConfiguration(const QTemporaryDir& config, const QByteArray& lines) const;
    // A client's environment: the C locale, the realm, its host names and the ticket cache given.
    QProcessEnvironment clientEnvironment(const QString& ticketCache, const QTemporaryDir& config,
                                          const RegFile& registry) const;
    RunResult runCulvaneRun(const QProcessEnvironment& environment, const QString& folder,
                            const QStringList& arguments) const;
    // The next two generated subscribers, which no other case deletes: aliases and object identifiers.
    QList<std::pair<QString, QString>> nextSubscribers();
    // Everything each server wrote: its log and its standard output.
    QByteArray serverLogs();

    std::unique_ptr<QTemporaryDir> m_world;
    std::unique_ptr<StandinFixture> m_standin;
    QMap<QString, QString> m_realm;
    QMap<QString, int> m_ports;
    std::map<QString, std::unique_ptr<TdsStandin>> m_servers;
    QByteArray m_ntlmPassword;
    QList<std::pair<QString, QString>> m_subscribers;
    QElapsedTimer m_expiredTicketAge;
    QString m_culvaneRun;
};

void TestSignInRoutes::initTestCase()
{
    if (qEnvironmentVariableIsSet(kChildVariable))
        return;
    m_world = std::make_unique<QTemporaryDir>();
    QVERIFY(m_world->isValid());
    const QString world = m_world->path();
    m_standin = std::make_unique<StandinFixture>(120);
    QVERIFY(m_standin->isValid());

    // Kerberos tickets are for MSSQLSvc/sql.culvane.test:PORT, so the ports are chosen first.
    for (const char* name : {"main", "forced"})
        m_ports.insert(QString::fromLatin1(name), freePort());
    QProcess realm;
    realm.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(CULVANE_SOURCE_DIR "/standin/test-realm"), QStringLiteral("start"),
                 m_world->filePath(QStringLiteral("realm")), QStringLiteral("--service"),
                 QStringLiteral("sql.culvane.test:%1").arg(m_ports.value(QStringLiteral("main"))),
                 QStringLiteral("--service"),
                 QStringLiteral("sql.culvane.test:%1").arg(m_ports.value(QStringLiteral("forced")))});
    QVERIFY(realm.waitForFinished(60000));
    QVERIFY2(realm.exitCode() == 0, realm.readAllStandardError().constData());
    for (const QByteArray& line : realm.readAllStandardOutput().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            m_realm.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    QVERIFY2(m_realm.contains(QStringLiteral("KRB5_CONFIG")) &&
                 m_realm.contains(QStringLiteral("LD_PRELOAD")),
             qPrintable(QStringList(m_realm.keys()).join(u' ')));
    QFile ntlm(m_realm.value(QStringLiteral("TEST_NTLM_PASSWORD_FILE")));
    QVERIFY(ntlm.open(QIODevice::ReadOnly));
    m_ntlmPassword = ntlm.readLine().trimmed();
    QVERIFY(!m_ntlmPassword.isEmpty());

    // The tickets: one that lasts, one that has run out by the time its case runs, and none at all.
    QProcessEnvironment kerberos = QProcessEnvironment::systemEnvironment();
    kerberos.insert(QStringLiteral("KRB5_CONFIG"), m_realm.value(QStringLiteral("KRB5_CONFIG")));
    const auto kinit = [&](const QString& cache, const QStringList& options) {
        kerberos.insert(QStringLiteral("KRB5CCNAME"), QStringLiteral("FILE:") + cache);
        QProcess process;
        process.setProcessEnvironment(kerberos);
        process.start(QStringLiteral("kinit"),
                      options + QStringList{QStringLiteral("-k"), QStringLiteral("-t"),
                                            m_realm.value(QStringLiteral("TEST_REALM_USER_KEYTAB")),
                                            m_realm.value(QStringLiteral("TEST_REALM_USER"))});
        return process.waitForFinished(30000) && process.exitCode() == 0;
    };
    QVERIFY(kinit(m_world->filePath(QStringLiteral("expired.ccache")),
                  {QStringLiteral("-l"), QStringLiteral("2s")}));
    m_expiredTicketAge.start();
    QVERIFY(kinit(m_world->filePath(QStringLiteral("ticket.ccache")), {}));

    // The servers: every sign-in with a certificate the CA signed; the same forcing encryption; one with a
    // certificate nobody signed; one whose SQL login may not read the server's connections.
    QVERIFY(writeFile(m_world->filePath(QStringLiteral("sql-password")), kSqlPassword + '\n'));
    const QStringList everyone{QStringLiteral("--login"),
                               QStringLiteral("culvane"),
                               QStringLiteral("--password-file"),
                               m_world->filePath(QStringLiteral("sql-password")),
                               QStringLiteral("--ntlm-user"),
                               m_realm.value(QStringLiteral("TEST_NTLM_USER")),
                               QStringLiteral("--ntlm-password-file"),
                               m_realm.value(QStringLiteral("TEST_NTLM_PASSWORD_FILE")),
                               QStringLiteral("--keytab"),
                               m_realm.value(QStringLiteral("KRB5_KTNAME")),
                               QStringLiteral("--guid-columns")};
    const QStringList signed_{QStringLiteral("--cert"), m_realm.value(QStringLiteral("TEST_REALM_CERT")),
                              QStringLiteral("--key"), m_realm.value(QStringLiteral("TEST_REALM_KEY"))};
    const QStringList rogue{QStringLiteral("--cert"), m_realm.value(QStringLiteral("TEST_REALM_ROGUE_CERT")),
                            QStringLiteral("--key"), m_realm.value(QStringLiteral("TEST_REALM_ROGUE_KEY"))};
    QProcessEnvironment serverEnvironment = QProcessEnvironment::systemEnvironment();
    for (auto it = m_realm.cbegin(); it != m_realm.cend(); ++it) {
        if (!it.key().startsWith(QLatin1String("TEST_")))
            serverEnvironment.insert(it.key(), it.value());
    }
    const auto start = [&](const char* name, const QStringList& options, int port) {
        auto server = std::make_unique<TdsStandin>(
            m_standin->databasePath(),
            options + QStringList{QStringLiteral("--trace"),
                                  m_world->filePath(QStringLiteral("trace-%1.log").arg(QLatin1String(name)))},
            serverEnvironment, port);
        const bool started = server->port() > 0;
        if (!started)
            qWarning().noquote() << server->problem();
        m_ports.insert(QString::fromLatin1(name), server->port());
        m_servers[QString::fromLatin1(name)] = std::move(server);
        return started;
    };
    QVERIFY(start("main", everyone + signed_, m_ports.value(QStringLiteral("main"))));
    QVERIFY(start("forced", everyone + signed_ + QStringList{QStringLiteral("--force-encryption")},
                  m_ports.value(QStringLiteral("forced"))));
    QVERIFY(start("rogue", everyone + rogue, 0));
    QVERIFY(start("denying", everyone + QStringList{QStringLiteral("--deny-view-server-state")}, 0));

    // Only a data source with Servername= reads freetds.conf, and with it the CA that checks certificates.
    QVERIFY(
        writeFile(m_world->filePath(QStringLiteral("freetds.conf")),
                  filledIn("[global]\n\ttds version = 7.4\n"
                           "[orvane-tls]\n\thost = sql.culvane.test\n\tport = %main%\n"
                           "\tencryption = require\n\tca file = %ca%\n"
                           "[forced-off]\n\thost = sql.culvane.test\n\tport = %forced%\n\tencryption = off\n"
                           "[untrusted]\n\thost = sql.culvane.test\n\tport = %rogue%\n"
                           "\tencryption = require\n\tca file = %ca%\n"
                           "[stray-tls]\n\thost = stray.culvane.test\n\tport = %main%\n"
                           "\tencryption = require\n\tca file = %ca%\n")));

    // Subscribers every route can select by alias and delete.
    const QVariant rows = m_standin->scalar(QStringLiteral(
        "SELECT group_concat(Alias || '|' || SubscriberObjectID, ' ') FROM (SELECT Alias, SubscriberObjectID "
        "FROM subscriber WHERE Alias GLOB 'user[0-9]*' AND SubscriberType = 1 AND CosObjectId IS NOT NULL "
        "AND "
        "CallHandlerObjectID IS NOT NULL AND SyncResult IS NULL AND SyncNeverFinishes = 0 ORDER BY Alias)"));
    for (const QString& pair : rows.toString().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        m_subscribers.append({pair.section(QLatin1Char('|'), 0, 0), pair.section(QLatin1Char('|'), 1)});
    QVERIFY2(m_subscribers.size() >= 40, qPrintable(QString::number(m_subscribers.size())));

    // culvane-run in a folder of its own: its run logs go beside it.
    m_culvaneRun = m_world->filePath(QStringLiteral("program/culvane-run"));
    QVERIFY(QDir().mkpath(m_world->filePath(QStringLiteral("program"))));
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_RUN_BINARY), m_culvaneRun));
}

void TestSignInRoutes::cleanupTestCase()
{
    if (qEnvironmentVariableIsSet(kChildVariable) || !m_world)
        return;
    m_servers.clear();
    QProcess::execute(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(CULVANE_SOURCE_DIR "/standin/test-realm"), QStringLiteral("stop"),
                       m_world->filePath(QStringLiteral("realm"))});
}

QByteArray TestSignInRoutes::filledIn(QByteArray text) const
{
    for (auto it = m_ports.cbegin(); it != m_ports.cend(); ++it)
        text.replace('%' + it.key().toUtf8() + '%', QByteArray::number(it.value()));
    text.replace("%ca%", m_realm.value(QStringLiteral("TEST_REALM_CA")).toUtf8());
    text.replace("%ntlm%", m_ntlmPassword);
    text.replace("%sql%", kSqlPassword);
    text.replace("%wrong%", kWrongPassword);
    return text;
}

bool TestSignInRoutes::writeConfiguration(const QTemporaryDir& config, const QByteArray& lines) const
{
    return writeFile(config.filePath(QStringLiteral("odbcinst.ini")),
                     "[FreeTDS]\nDriver=" + QFile::encodeName(freeTdsLibrary()) + "\n") &&
           writeFile(config.filePath(QStringLiteral("odbc.ini")),
                     "[OrvaneDb]\nDriver=FreeTDS\nDatabase=OrvaneDb\nTDS_Version=7.4\n" + filledIn(lines));
}

QProcessEnvironment TestSignInRoutes::clientEnvironment(const QString& ticketCache,
                                                        const QTemporaryDir& config,
                                                        const RegFile& registry) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LC_MESSAGES", "LC_CTYPE", "LANG"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    for (const char* name :
         {"KRB5_CONFIG", "LD_PRELOAD", "NSS_WRAPPER_HOSTS", "NSS_WRAPPER_DISABLE_DEEPBIND"})
        environment.insert(QString::fromLatin1(name), m_realm.value(QString::fromLatin1(name)));
    environment.insert(QStringLiteral("KRB5CCNAME"),
                       QStringLiteral("FILE:") + m_world->filePath(ticketCache));
    environment.insert(QStringLiteral("FREETDSCONF"), m_world->filePath(QStringLiteral("freetds.conf")));
    environment.insert(QStringLiteral("ODBCSYSINI"), config.path());
    environment.insert(QStringLiteral("ODBCINI"), config.filePath(QStringLiteral("odbc.ini")));
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), registry.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // nss_wrapper comes first in a sanitizer build's list of libraries, where the sanitizer wants to be.
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) +
                           QStringLiteral("verify_asan_link_order=0"));
    return environment;
}

RunResult TestSignInRoutes::runCulvaneRun(const QProcessEnvironment& environment, const QString& folder,
                                          const QStringList& arguments) const
{
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setWorkingDirectory(folder);
    run.start(m_culvaneRun, arguments);
    run.closeWriteChannel();
    RunResult result;
    if (!run.waitForFinished(60000)) {
        run.kill();
        run.waitForFinished(5000);
        result.err = QStringLiteral("culvane-run did not finish");
        return result;
    }
    result.status = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
    result.out = QString::fromUtf8(run.readAllStandardOutput());
    result.err = QString::fromUtf8(run.readAllStandardError());
    return result;
}

QList<std::pair<QString, QString>> TestSignInRoutes::nextSubscribers()
{
    QList<std::pair<QString, QString>> two = m_subscribers.mid(0, 2);
    m_subscribers.remove(0, std::min<qsizetype>(2, m_subscribers.size()));
    return two;
}

QByteArray TestSignInRoutes::serverLogs()
{
    QByteArray logs;
    for (auto& [name, server] : m_servers) {
        logs += server->output();
        QFile trace(m_world->filePath(QStringLiteral("trace-%1.log").arg(name)));
        if (trace.open(QIODevice::ReadOnly))
            logs += trace.readAll();
    }
    return logs;
}

void TestSignInRoutes::everyRouteSignsInSelectsAndDeletes_data()
{
    QTest::addColumn<QByteArray>("lines");  // the data source's own
    QTest::addColumn<bool>("typed");        // the NTLM password typed into the sign-in box, which asks
    QTest::addColumn<bool>("passwordFile"); // culvane-run --password-file with the NTLM password
    QTest::addColumn<QString>("programs");  // "wizard", "run" or both
    QTest::addColumn<QString>("signedIn");  // the line after "Culvane: " and "culvane-run: "
    QTest::addColumn<bool>("warned");       // not encrypted: the warning follows it
    const QByteArray plain = "Server=sql.culvane.test\nPort=%main%\n";
    const QByteArray tls = "Servername=orvane-tls\n";
    const QByteArray bob = "UID=CULVANE\\bob\n";
    const QString both = QStringLiteral("wizard run");
    const QString kerberos = QStringLiteral(" as alice@CULVANE.TEST (Kerberos), connection ");
    const QString ntlm = QStringLiteral(" as CULVANE\\bob (NTLM), connection ");
    const QString sql = QStringLiteral(" as culvane (SQL login), connection ");
    const QString toPlain = QStringLiteral("signed in to sql.culvane.test");
    const QString toTls = QStringLiteral("signed in to orvane-tls");
    const QString notEncrypted = QStringLiteral("not encrypted");
    const QString encrypted = QStringLiteral("encrypted");
    QTest::newRow("Kerberos") << plain << false << false << both << toPlain + kerberos + notEncrypted << true;
    QTest::newRow("Kerberos, encrypted")
        << tls << false << false << both << toTls + kerberos + encrypted << false;
    QTest::newRow("NTLMv2 from the data source")
        << plain + bob + "PWD=%ntlm%\n"
        << false << false << both << toPlain + ntlm + notEncrypted << true;
    QTest::newRow("NTLMv2 from the data source, encrypted")
        << tls + bob + "PWD=%ntlm%\n"
        << false << false << both << toTls + ntlm + encrypted << false;
    QTest::newRow("NTLMv2 from the sign-in box")
        << plain + bob << true << false << QStringLiteral("wizard") << toPlain + ntlm + notEncrypted << true;
    QTest::newRow("NTLMv2 from the sign-in box, encrypted")
        << tls + bob << true << false << QStringLiteral("wizard") << toTls + ntlm + encrypted << false;
    QTest::newRow("NTLMv2 from --password-file")
        << plain + bob << false << true << QStringLiteral("run") << toPlain + ntlm + notEncrypted << true;
    QTest::newRow("NTLMv2 from --password-file, encrypted")
        << tls + bob << false << true << QStringLiteral("run") << toTls + ntlm + encrypted << false;
    QTest::newRow("SQL login") << plain + "UID=culvane\nPWD=%sql%\n"
                               << false << false << both << toPlain + sql + notEncrypted << true;
    QTest::newRow("SQL login, encrypted") << tls + "UID=culvane\nPWD=%sql%\n"
                                          << false << false << both << toTls + sql + encrypted << false;
    // An account without VIEW SERVER STATE: the line says what it could not learn, and nobody is warned.
    QTest::newRow("SQL login, the connections not readable")
        << QByteArray("Server=sql.culvane.test\nPort=%denying%\nUID=culvane\nPWD=%sql%\n") << false << false
        << both
        << QStringLiteral(
               "signed in to sql.culvane.test as culvane (sign-in method unknown), connection "
               "encryption unknown; the server did not tell: [FreeTDS][SQL Server]The user does "
               "not have permission to perform this action. [FreeTDS][SQL Server]VIEW SERVER STATE "
               "permission was denied on object 'server', database 'master'.")
        << false;
}

void TestSignInRoutes::everyRouteSignsInSelectsAndDeletes()
{
    QFETCH(bool, typed);
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        // The wizard: start-up (with the sign-in box where it asks), then two subscribers deleted on the
        // deletion page.
        // The payload: the two passwords, then alias and object identifier of each subscriber.
        const QStringList payload = qEnvironmentVariable(kChildVariable).split(QLatin1Char('|'));
        QCOMPARE(payload.size(), 6);
        const QStringList secrets = payload.mid(0, 2);
        ScriptedMessageBoxes boxes;
        QStringList signInBoxes;
        QCOMPARE(startUp(typed ? secrets.at(0) : QString(), signInBoxes), 0);
        QCOMPARE(signInBoxes, !typed ? QStringList() : QStringList{QStringLiteral("frmSignIn")});
        QCOMPARE(boxes.texts(), QStringList());

        QTemporaryDir program;
        modLocalize::setProgramLocation(program.path(), QStringLiteral("Culvane"));
        SubscriberGridModel grid;
        for (int n = 1; n <= 2; ++n)
            grid.AddUserToGridFAST(payload.at(2 * n), QStringLiteral("First"), QStringLiteral("Last"),
                                   payload.at(2 * n), QString::number(2000 + n), QStringLiteral("MAIL1"),
                                   QString(), QString(), QStringLiteral("Staff"), payload.at(2 * n + 1),
                                   QStringLiteral("{H-%1}").arg(n));
        {
            frmDeleteSubscribers page;
            page.setSources({[] { return false; }, [&] { return &grid; }});
            page.Form_Load();
            page.show();
            const Clock::Sleeper previous = Clock::setSleeper([](int) {});
            boxes.setNextAnswer(MsgBox::vbYes);
            boxes.setNextAnswer(MsgBox::vbOK);
            RecordingLauncher launcher;
            namedChild<QPushButton>(page, "cmdDeleteSubscribers")->click();
            Clock::setSleeper(previous);
        }
        QCOMPARE(boxes.texts(), (QStringList{confirmOrvane(2), closingMessage(2, 0)}));
        const QString log = readAll(Logging::RunLogPath());
        QVERIFY2(log.contains(payload.at(2)) && log.contains(payload.at(4)), qPrintable(log));
        for (const QString& secret : secrets) {
            QVERIFY(!log.contains(secret));
            QVERIFY(!(boxes.texts() + boxes.details()).join(QLatin1Char('\n')).contains(secret));
        }
        Logging::CloseRunLog();
        modLocalize::setProgramLocation(QString(), QString());
        modOrvaneDB::CloseSharedLists();
        return;
    }
    QFETCH(QByteArray, lines);
    QFETCH(bool, passwordFile);
    QFETCH(QString, programs);
    QFETCH(QString, signedIn);
    QFETCH(bool, warned);
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(writeConfiguration(config, lines));
    RegFile registry;
    writeServer(registry);
    const QProcessEnvironment environment =
        clientEnvironment(QStringLiteral("ticket.ccache"), config, registry);
    const QString server = signedIn.section(QLatin1Char(' '), 3, 3);
    const QString warning = QStringLiteral("warning: the connection to %1 is not encrypted: the subscribers' "
                                           "data and every request cross the network readable; "
                                           "Encryption=require in the data source OrvaneDb encrypts it")
                                .arg(server);
    const QByteArray secrets[] = {m_ntlmPassword, kSqlPassword};
    const auto noSecretIn = [&](const QString& text) {
        for (const QByteArray& secret : secrets) {
            if (text.contains(QString::fromUtf8(secret)))
                return false;
        }
        return true;
    };

    QStringList deleted;
    if (programs.contains(QLatin1String("wizard"))) {
        const auto two = nextSubscribers();
        QCOMPARE(two.size(), 2);
        QProcessEnvironment child = environment;
        child.insert(QString::fromLatin1(kChildVariable),
                     QStringList{QString::fromUtf8(m_ntlmPassword), QString::fromUtf8(kSqlPassword),
                                 two.at(0).first, two.at(0).second, two.at(1).first, two.at(1).second}
                         .join(QLatin1Char('|')));
        const QByteArray output =
            runTestFunctionInChild(QStringLiteral("everyRouteSignsInSelectsAndDeletes:") +
                                       QString::fromLatin1(QTest::currentDataTag()),
                                   child, config.path(), config.filePath(QStringLiteral("odbc.ini")));
        QVERIFY2(output.contains("PASS   : TestSignInRoutes::everyRouteSignsInSelectsAndDeletes(") &&
                     !output.contains("FAIL!"),
                 output.constData());
        // On standard error: the connection, how it signed in, and the warning where it is not encrypted.
        const QByteArray said = "\nCulvane: " + signedIn.toUtf8() + "\n";
        QVERIFY2(output.contains(said), output.constData());
        QCOMPARE(output.contains("\nCulvane: " + warning.toUtf8() + "\n"), warned);
        QCOMPARE(output.count("Culvane: warning"), warned ? 1 : 0);
        QVERIFY2(noSecretIn(QString::fromUtf8(output)), output.constData());
        deleted << two.at(0).first << two.at(1).first;
    }
    if (programs.contains(QLatin1String("run"))) {
        const auto two = nextSubscribers();
        QCOMPARE(two.size(), 2);
        QTemporaryDir work;
        QVERIFY(work.isValid());
        QVERIFY(writeFile(work.filePath(QStringLiteral("aliases.csv")),
                          "Alias,extension\r\n" + two.at(0).first.toUtf8() + ",\r\n" +
                              two.at(1).first.toUtf8() + ",\r\n"));
        QStringList signIn;
        if (passwordFile) {
            QVERIFY(writeFile(work.filePath(QStringLiteral("password")), m_ntlmPassword + '\n'));
            QVERIFY(QFile::setPermissions(work.filePath(QStringLiteral("password")),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            signIn << QStringLiteral("--password-file") << work.filePath(QStringLiteral("password"));
        }
        // A quiet select says nothing but the warning.
        const RunResult select = runCulvaneRun(environment, work.path(),
                                               QStringList{QStringLiteral("select"), QStringLiteral("--csv"),
                                                           work.filePath(QStringLiteral("aliases.csv")),
                                                           QStringLiteral("--output"),
                                                           work.filePath(QStringLiteral("selected.csv"))} +
                                                   signIn);
        QVERIFY2(select.status == 0, qPrintable(select.err));
        QCOMPARE(select.err,
                 warned ? QStringLiteral("culvane-run: ") + warning + QLatin1Char('\n') : QString());
        // With --verbose the sign-in too.
        const RunResult deletion = runCulvaneRun(
            environment, work.path(),
            QStringList{QStringLiteral("delete"), QStringLiteral("--from"),
                        work.filePath(QStringLiteral("selected.csv")), QStringLiteral("--mode"),
                        QStringLiteral("data"), QStringLiteral("--yes"), QStringLiteral("--poll"),
                        QStringLiteral("fast"), QStringLiteral("--verbose")} +
                signIn);
        QVERIFY2(deletion.status == 0, qPrintable(deletion.err + deletion.out));
        QVERIFY2(deletion.err.contains(QStringLiteral("\nculvane-run: ") + signedIn + QLatin1Char('\n')),
                 qPrintable(deletion.err));
        QCOMPARE(deletion.err.contains(QStringLiteral("\nculvane-run: ") + warning + QLatin1Char('\n')),
                 warned);
        QVERIFY2(deletion.out.contains(QStringLiteral("Summary: selected=2 processed=2 deleted=2 ")),
                 qPrintable(deletion.out));
        const QString runLog =
            readAll(deletion.out.section(QStringLiteral("Run log: "), 1).section(u'\n', 0, 0));
        QVERIFY2(runLog.contains(two.at(0).first) && runLog.contains(two.at(1).first),
                 qPrintable(deletion.out));
        for (const QString& text : {select.out, select.err, deletion.out, deletion.err, runLog})
            QVERIFY2(noSecretIn(text), qPrintable(text));
        deleted << two.at(0).first << two.at(1).first;
    }
    QCOMPARE(m_standin
                 ->scalar(QStringLiteral("SELECT count(*) FROM subscriber WHERE Alias IN ('%1')")
                              .arg(deleted.join(QStringLiteral("','"))))
                 .toInt(),
             0);
    QVERIFY(noSecretIn(QString::fromUtf8(serverLogs())));
}

void TestSignInRoutes::refusedSignInsShowFreeTdsNumberAndText_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("ticket");   // the ticket cache
    QTest::addColumn<QString>("detail");   // after the data source's line in the message's detail
    QTest::addColumn<QByteArray>("cause"); // what FreeTDS's own log tells of the failure
    const QByteArray plain = "Server=sql.culvane.test\nPort=%main%\n";
    const QByteArray sql = "UID=culvane\nPWD=%sql%\n";
    const QString failed = QStringLiteral("Driver error 20002: ") + kUnableToConnect +
                           QStringLiteral("[FreeTDS][SQL Server]Adaptive Server connection failed");
    const QString ticket = QStringLiteral("ticket.ccache");
    QTest::newRow("no ticket") << plain << QStringLiteral("none.ccache") << failed
                               << QByteArray("GSS_S_NO_CRED");
    QTest::newRow("an expired ticket")
        << plain << QStringLiteral("expired.ccache") << failed << QByteArray("min_stat 2529638944");
    QTest::newRow("a service principal the KDC does not know")
        << QByteArray("Server=stray.culvane.test\nPort=%main%\n") << ticket << failed
        << QByteArray("min_stat 2529638919");
    QTest::newRow("a wrong NTLM password")
        << plain + "UID=CULVANE\\bob\nPWD=%wrong%\n"
        << ticket
        << QStringLiteral("Driver error 18456: ") + kUnableToConnect +
               QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'CULVANE\\bob'.")
        << QByteArray("reading message 18456 from server");
    QTest::newRow("a server that requires encryption, a client that refuses it")
        << "Servername=forced-off\n" + sql << ticket << failed << QByteArray("detected crypt flag 3");
    QTest::newRow("a certificate the data source does not trust")
        << "Servername=untrusted\n" + sql << ticket << failed << QByteArray("Certificate status: 66");
    QTest::newRow("a host name the certificate does not name")
        << "Servername=stray-tls\n" + sql << ticket << failed
        << QByteArray("Certificate hostname does not match");
}

// Message 422 as it is; behind it and on standard error the data source and FreeTDS's number and text.
void TestSignInRoutes::refusedSignInsShowFreeTdsNumberAndText()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, detail);
    const QString user = QString::fromUtf8(lines).contains(QLatin1String("UID=CULVANE"))
                             ? QStringLiteral(";UID=CULVANE\\bob;PWD=***")
                         : lines.contains("UID=culvane") ? QStringLiteral(";UID=culvane;PWD=***")
                                                         : QString();
    const QString fullDetail = kDataSource + user + QLatin1Char('\n') + detail;
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        ScriptedMessageBoxes boxes;
        QStringList signInBoxes;
        QVERIFY(startUp(QString(), signInBoxes) > 0);
        QCOMPARE(boxes.texts(), QStringList{QString::fromLatin1(kNoDatabase)});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
        QCOMPARE(boxes.details().constFirst(), fullDetail);
        modOrvaneDB::CloseSharedLists();
        return;
    }
    QFETCH(QString, ticket);
    if (ticket == QLatin1String("expired.ccache") && m_expiredTicketAge.elapsed() < 3000)
        QTest::qWait(int(3000 - m_expiredTicketAge.elapsed()));
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(writeConfiguration(config, lines));
    RegFile registry;
    writeServer(registry);
    const QProcessEnvironment environment = clientEnvironment(ticket, config, registry);

    QProcessEnvironment child = environment;
    child.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    const QByteArray output =
        runTestFunctionInChild(QStringLiteral("refusedSignInsShowFreeTdsNumberAndText:") +
                                   QString::fromLatin1(QTest::currentDataTag()),
                               child, config.path(), config.filePath(QStringLiteral("odbc.ini")));
    QVERIFY2(output.contains("PASS   : TestSignInRoutes::refusedSignInsShowFreeTdsNumberAndText(") &&
                 !output.contains("FAIL!"),
             output.constData());
    QVERIFY2(!output.contains("signed in to"), output.constData());

    QTemporaryDir work;
    QVERIFY(work.isValid());
    // The same number and text for most of these: FreeTDS's log tells them apart, and shows that each
    // failed for its own reason.
    QProcessEnvironment dumped = environment;
    dumped.insert(QStringLiteral("TDSDUMP"), work.filePath(QStringLiteral("freetds.log")));
    const RunResult select = runCulvaneRun(
        dumped, work.path(), {QStringLiteral("select"), QStringLiteral("--cos"), QStringLiteral("Students")});
    QCOMPARE(select.status, 2);
    QCOMPARE(select.out, QString());
    QCOMPARE(select.err,
             QStringLiteral("culvane-run: ") + QString::fromLatin1(kNoDatabase) +
                 QStringLiteral("\nculvane-run:     ") +
                 QString(fullDetail).replace(QLatin1Char('\n'), QStringLiteral("\nculvane-run: ")) +
                 QLatin1Char('\n'));
    for (const QByteArray& secret : {m_ntlmPassword, kSqlPassword, kWrongPassword}) {
        QVERIFY(!output.contains(secret));
        QVERIFY(!select.err.contains(QString::fromUtf8(secret)));
    }
    QVERIFY(!serverLogs().contains(kWrongPassword));
    QFETCH(QByteArray, cause);
    QFile dump(work.filePath(QStringLiteral("freetds.log")));
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QByteArray log = dump.readAll();
    QVERIFY2(log.contains(cause), log.right(3000).constData());
}

QTEST_MAIN(TestSignInRoutes)

#include "test_signinroutes.moc"
