// Reaching a real Orvane server: the data source OrvaneDb decides the connection, and FreeTDS goes where the
// data source points. unixODBC reads its configuration once per process, so each case runs the program or
// this test in a process of its own with its own odbc.ini files.
#include "app/frmMain.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "common/TestChild.h"
#include "ports/CulvaneError.h"
#include "ports/ExitApplication.h"
#include "server/Command.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char* const kChildVariable = "CULVANE_TEST_ORVANESERVER_CHILD";
const QString kPassword = QStringLiteral("Pa55-w0rd-never-shown");
const QByteArray kNoDatabase =
    "Unable to open OrvaneDB with necessary rights needed for this tool.  Make sure "
    "you are running this tool logged in as a member of the local admins group.";

QString driverLibrary(const QString& file)
{
    for (const QString& folder :
         {QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc"), QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc"),
          QStringLiteral("/usr/lib/odbc"), QStringLiteral("/usr/lib64")}) {
        if (QFile::exists(folder + QLatin1Char('/') + file))
            return folder + QLatin1Char('/') + file;
    }
    return file;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// A TCP listener on the loopback address only, that records what arrives and never answers.
class SilentListener {
public:
    SilentListener()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 4) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~SilentListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int client : m_clients)
            ::close(client);
        if (m_socket >= 0)
            ::close(m_socket);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return m_port; }
    QByteArray received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void run()
    {
        while (!m_stop) {
            std::vector<pollfd> watched{{m_socket, POLLIN, 0}};
            for (int client : m_clients)
                watched.push_back({client, POLLIN, 0});
            if (::poll(watched.data(), watched.size(), 50) <= 0)
                continue;
            if (watched[0].revents & POLLIN) {
                const int client = ::accept(m_socket, nullptr, nullptr);
                if (client >= 0)
                    m_clients.push_back(client);
            }
            for (std::size_t i = 1; i < watched.size(); ++i) {
                if (!(watched[i].revents & POLLIN))
                    continue;
                char buffer[4096];
                const ssize_t got = ::recv(watched[i].fd, buffer, sizeof buffer, 0);
                if (got > 0) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_received.append(buffer, static_cast<qsizetype>(got));
                }
            }
        }
    }

    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::vector<int> m_clients; // only the listener's thread touches these until it has ended
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};

// The server facts of a normal 5.0 installation.
void writeServer(RegFile& reg)
{
    reg.currentVersion(5, 0, 1, 33);
    reg.key(QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"))
        .sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsExchange.VcIDCExchange.1"));
    reg.save();
}

} // namespace

class TestOrvaneServer : public QObject {
    Q_OBJECT

private slots:
    void theDataSourceDecidesTheConnection_data();
    void theDataSourceDecidesTheConnection();
    void freeTdsGoesWhereTheDataSourcePoints();
    void theDataSourceSignsIn_data();
    void theDataSourceSignsIn();
    void startUpAsksForTheMissingPassword_data();
    void startUpAsksForTheMissingPassword();

private:
    // The parent's side of a case: this test again, in a process with the given odbc.ini files.
    QByteArray runChild(const QString& function, const QString& odbcSysIni, const QString& userOdbcIni);
    // A folder with an odbcinst.ini naming the stand-in's SQLite driver "SQL Server" and FreeTDS "FreeTDS",
    // a copy of the stand-in, and a user odbc.ini defining OrvaneDb with the given driver and lines.
    static void writeDataSource(const QTemporaryDir& config, const StandinFixture& standin,
                                const QByteArray& driver, const QByteArray& lines);
};

QByteArray TestOrvaneServer::runChild(const QString& function, const QString& odbcSysIni,
                                      const QString& userOdbcIni)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    return runTestFunctionInChild(function, environment, odbcSysIni, userOdbcIni);
}

void TestOrvaneServer::theDataSourceDecidesTheConnection_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("none") << QString();
    QTest::newRow("user odbc.ini") << QStringLiteral("user");
    QTest::newRow("system odbc.ini") << QStringLiteral("system");
}

void TestOrvaneServer::theDataSourceDecidesTheConnection()
{
    QFETCH(QString, where);
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        // A data source OrvaneDb leads to the stand-in through the SQLite driver; without one, the program's
        // own text reaches the OrvaneDb of the working folder. Either way the lists open and a procedure
        // runs, adapted because the DBMS says it is SQLite.
        const QString text = modOrvaneDB::ChooseConnectionString().value_or(QString());
        QCOMPARE(text, where.isEmpty() ? Statements::ConnectionText : Statements::DataSourceConnectionText);
        QString failure;
        QVERIFY2(modOrvaneDB::OpenSharedLists(text, &failure), qPrintable(failure));
        QCOMPARE(modOrvaneDB::CosRecords().RecordCount(), 8);
        Statements::deleteTicketCommand(text, QStringLiteral("{T}")).Execute();
        modOrvaneDB::CloseSharedLists();
        return;
    }
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(QFile::copy(StandinFixture::odbcInstPath(), config.filePath(QStringLiteral("odbcinst.ini"))));
    QVERIFY(QFile::copy(standin.databasePath(), config.filePath(QStringLiteral("OrvaneDb"))));
    const QByteArray source = "[OrvaneDb]\nDriver=SQL Server\nDatabase=" +
                              QFile::encodeName(config.filePath(QStringLiteral("OrvaneDb"))) + "\n";
    const QString userIni = config.filePath(QStringLiteral("user-odbc.ini"));
    QVERIFY(writeFile(userIni, where == QLatin1String("user") ? source : QByteArray()));
    if (where == QLatin1String("system"))
        QVERIFY(writeFile(config.filePath(QStringLiteral("odbc.ini")), source));

    const QByteArray output = runChild(QStringLiteral("theDataSourceDecidesTheConnection:") +
                                           QString::fromLatin1(QTest::currentDataTag()),
                                       config.path(), userIni);
    QVERIFY2(output.contains("PASS   : TestOrvaneServer::theDataSourceDecidesTheConnection("),
             output.constData());
    QVERIFY2(!output.contains("FAIL!"), output.constData());
    if (where.isEmpty())
        QVERIFY2(output.contains("Culvane: no ODBC data source OrvaneDb is defined; connecting with "
                                 "Driver={SQL Server};server=;database=OrvaneDb"),
                 output.constData());
    else
        QVERIFY2(output.contains("Culvane: connecting through the ODBC data source OrvaneDb "
                                 "(DSN=OrvaneDb;database=OrvaneDb)"),
                 output.constData());
}

void TestOrvaneServer::freeTdsGoesWhereTheDataSourcePoints()
{
    if (qEnvironmentVariableIsSet(kChildVariable))
        return;
    SilentListener listener;
    QVERIFY(listener.port() > 0);
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(writeFile(
        config.filePath(QStringLiteral("odbcinst.ini")),
        "[FreeTDS]\nDriver=" + QFile::encodeName(driverLibrary(QStringLiteral("libtdsodbc.so"))) + "\n"));
    const QString userIni = config.filePath(QStringLiteral("user-odbc.ini"));
    QVERIFY(writeFile(
        userIni, "[OrvaneDb]\nDriver=FreeTDS\nServer=127.0.0.1\nPort=" + QByteArray::number(listener.port()) +
                     "\nTDS_Version=7.4\nUID=EXAMPLE\\alice\nPWD=" + kPassword.toUtf8() + "\n"));
    RegFile reg;
    writeServer(reg);

    // The program itself, as an administrator starts it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ODBCSYSINI"), config.path());
    environment.insert(QStringLiteral("ODBCINI"), userIni);
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), reg.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess culvane;
    culvane.setProcessEnvironment(environment);
    culvane.setWorkingDirectory(config.path());
    QElapsedTimer timer;
    timer.start();
    culvane.start(QStringLiteral(CULVANE_BIN_DIR "/Culvane"), QStringList());
    QVERIFY(culvane.waitForStarted());
    QByteArray output;
    // The message box waits for a person; its text and detail are on standard error before it shows.
    while (timer.elapsed() < 40000 && !output.contains("Driver error")) {
        culvane.waitForReadyRead(200);
        output += culvane.readAllStandardError() + culvane.readAllStandardOutput();
    }
    const qint64 elapsed = timer.elapsed();
    QTest::qWait(200);
    output += culvane.readAllStandardError() + culvane.readAllStandardOutput();
    culvane.kill();
    culvane.waitForFinished(5000);

    // FreeTDS opened its conversation at the host and port of the data source: a TDS pre-login packet.
    const QByteArray received = listener.received();
    QVERIFY2(!received.isEmpty() && static_cast<unsigned char>(received.at(0)) == 0x12,
             received.toHex().constData());
    // The program said which connection it uses, and failed within the 15 s connection timeout with
    // message 422, the data source and the driver's reason.
    QVERIFY2(output.contains("Culvane: connecting through the ODBC data source OrvaneDb"),
             output.constData());
    QVERIFY2(output.contains(kNoDatabase), output.constData());
    QVERIFY2(
        output.contains("Data source: DSN=OrvaneDb;database=OrvaneDb;ClientCharset=UTF-8;UID=EXAMPLE\\alice;"
                        "PWD=***\n"),
        output.constData());
    QVERIFY2(output.contains("[FreeTDS]") && output.contains("Timeout expired"), output.constData());
    QVERIFY2(elapsed < 15000 + 5000, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed > 14000, qPrintable(QString::number(elapsed)));
    // No password in anything the program wrote, nor in what it sent before signing in.
    QVERIFY(!output.contains(kPassword.toUtf8()));
    QVERIFY(!received.contains(kPassword.toUtf8()));
}

void TestOrvaneServer::writeDataSource(const QTemporaryDir& config, const StandinFixture& standin,
                                       const QByteArray& driver, const QByteArray& lines)
{
    QFile odbcInst(StandinFixture::odbcInstPath());
    QVERIFY(odbcInst.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(config.filePath(QStringLiteral("odbcinst.ini")),
                      odbcInst.readAll() + "\n[FreeTDS]\nDriver=" +
                          QFile::encodeName(driverLibrary(QStringLiteral("libtdsodbc.so"))) + "\n"));
    QVERIFY(QFile::copy(standin.databasePath(), config.filePath(QStringLiteral("OrvaneDb"))));
    QVERIFY(writeFile(config.filePath(QStringLiteral("user-odbc.ini")),
                      "[OrvaneDb]\nDriver=" + driver + "\nServer=127.0.0.1\nPort=1\nDatabase=" +
                          QFile::encodeName(config.filePath(QStringLiteral("OrvaneDb"))) + "\n" + lines));
}

void TestOrvaneServer::theDataSourceSignsIn_data()
{
    QTest::addColumn<QByteArray>("driver");
    QTest::addColumn<QByteArray>("lines");    // the data source's sign-in lines
    QTest::addColumn<QString>("typed");       // what the person gives when asked; empty: declines
    QTest::addColumn<QString>("credentials"); // what follows the data source in the text
    QTest::addColumn<QString>("shown");       // what the note on standard error shows of it
    QTest::addColumn<QString>("asked");       // the user asked for, empty: nobody is asked
    QTest::addColumn<QString>("secret");      // never on standard error
    QTest::newRow("Kerberos") << QByteArray("SQL Server") << QByteArray() << QString() << QString()
                              << QString() << QString() << QString();
    QTest::newRow("SQL login") << QByteArray("SQL Server") << QByteArray("UID=alice\nPWD=Pa55;w}rd\n")
                               << QString() << QStringLiteral(";UID=alice;PWD={Pa55;w}}rd}")
                               << QStringLiteral(";UID=alice;PWD=***") << QString()
                               << QStringLiteral("Pa55;w}rd");
    QTest::newRow("asked") << QByteArray("SQL Server") << QByteArray("UID=EXAMPLE\\alice\nPWD=\n")
                           << QStringLiteral("typed secret")
                           << QStringLiteral(";UID=EXAMPLE\\alice;PWD={typed secret}")
                           << QStringLiteral(";UID=EXAMPLE\\alice;PWD=***")
                           << QStringLiteral("EXAMPLE\\alice") << QStringLiteral("typed secret");
    QTest::newRow("declined") << QByteArray("SQL Server") << QByteArray("UID=alice\n") << QString()
                              << QString() << QString() << QStringLiteral("alice") << QString();
    // FreeTDS 1.3 reads "}}" as two braces and ends a braced value at the first "};".
    // FreeTDS also gets UTF-8 as its client character set, whatever the locale.
    QTest::newRow("FreeTDS") << QByteArray("FreeTDS") << QByteArray("UID=EXAMPLE\\bob\nPWD= a;b}c\n")
                             << QString()
                             << QStringLiteral(";ClientCharset=UTF-8;UID=EXAMPLE\\bob;PWD={a;b}c}")
                             << QStringLiteral(";ClientCharset=UTF-8;UID=EXAMPLE\\bob;PWD=***") << QString()
                             << QStringLiteral("a;b}c");
    QTest::newRow("FreeTDS Kerberos")
        << QByteArray("FreeTDS") << QByteArray() << QString() << QStringLiteral(";ClientCharset=UTF-8")
        << QStringLiteral(";ClientCharset=UTF-8") << QString() << QString();
    QTest::newRow("FreeTDS cannot") << QByteArray("FreeTDS") << QByteArray("UID=bob\nPWD=x};y\n") << QString()
                                    << QString() << QString() << QString() << QStringLiteral("x};y");
}

void TestOrvaneServer::theDataSourceSignsIn()
{
    QFETCH(QByteArray, driver);
    QFETCH(QByteArray, lines);
    QFETCH(QString, typed);
    QFETCH(QString, credentials);
    QFETCH(QString, shown);
    QFETCH(QString, asked);
    QFETCH(QString, secret);
    const bool refused = QByteArray(QTest::currentDataTag()) == "FreeTDS cannot";
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QStringList prompts;
        const modOrvaneDB::PasswordPrompt prompt = [&](const QString& dataSource, const QString& user) {
            prompts.append(dataSource + QLatin1Char('/') + user);
            return typed.isEmpty() ? std::nullopt : std::optional<QString>(typed);
        };
        std::optional<QString> text;
        try {
            text = modOrvaneDB::ChooseConnectionString(prompt);
        } catch (const CulvaneError& error) {
            QVERIFY2(refused, qPrintable(error.description()));
            QCOMPARE(error.number(), 3001);
            QVERIFY2(error.description().contains(QStringLiteral("\"};\", which FreeTDS cannot")),
                     qPrintable(error.description()));
            QVERIFY(!error.description().contains(secret));
            return;
        }
        QVERIFY(!refused);
        QCOMPARE(prompts, asked.isEmpty() ? QStringList() : QStringList{QStringLiteral("OrvaneDb/") + asked});
        if (credentials.isEmpty() && !asked.isEmpty()) {
            QVERIFY(!text); // declined: no connection text at all
            return;
        }
        QVERIFY(text);
        QCOMPARE(*text, Statements::DataSourceConnectionText + credentials);
        // A password held keeps the process out of core dumps.
        QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), secret.isEmpty() ? 1 : 0);
        if (driver == "SQL Server") {
            QString failure;
            QVERIFY2(modOrvaneDB::OpenSharedLists(*text, &failure), qPrintable(failure));
            QCOMPARE(modOrvaneDB::CosRecords().RecordCount(), 8);
            modOrvaneDB::CloseSharedLists();
        }
        return;
    }
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    QTemporaryDir config;
    QVERIFY(config.isValid());
    writeDataSource(config, standin, driver, lines);
    const QByteArray output =
        runChild(QStringLiteral("theDataSourceSignsIn:") + QString::fromLatin1(QTest::currentDataTag()),
                 config.path(), config.filePath(QStringLiteral("user-odbc.ini")));
    QVERIFY2(output.contains("PASS   : TestOrvaneServer::theDataSourceSignsIn("), output.constData());
    QVERIFY2(!output.contains("FAIL!"), output.constData());
    const bool connects = !refused && !(credentials.isEmpty() && !asked.isEmpty());
    QCOMPARE(output.contains("Culvane: connecting through the ODBC data source OrvaneDb (" +
                             Statements::DataSourceConnectionText.toUtf8() + shown.toUtf8() + ")\n"),
             connects);
    if (!secret.isEmpty())
        QVERIFY2(!output.contains(secret.toUtf8()), output.constData());
}

void TestOrvaneServer::startUpAsksForTheMissingPassword_data()
{
    QTest::addColumn<bool>("answered");
    QTest::newRow("typed") << true;
    QTest::newRow("cancelled") << false;
}

// The program's own start-up: the sign-in box comes before the page, once, and its Cancel ends the start.
void TestOrvaneServer::startUpAsksForTheMissingPassword()
{
    QFETCH(bool, answered);
    const QString typed = QStringLiteral("s3cret;typed");
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        RegFile reg;
        reg.key(QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0"))
            .dword(QStringLiteral("Restricted Rights"), 0);
        reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\Main PBX"))
            .sz(QStringLiteral("DisplayName"), QStringLiteral("Main PBX"))
            .dword(QStringLiteral("IntegrationID"), 1);
        writeServer(reg);
        ScriptedMessageBoxes boxes;
        int exits = 0;
        const Module1::ExitHandler previous = Module1::setExitHandler([&] { ++exits; });
        QStringList boxesSeen;
        QStringList shownBeside;
        QTimer typist;
        QObject::connect(&typist, &QTimer::timeout, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box)
                return;
            boxesSeen.append(box->objectName());
            auto* password = box->findChild<QLineEdit*>(QStringLiteral("txtPassword"));
            QVERIFY(password);
            QCOMPARE(password->echoMode(), QLineEdit::Password);
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window != box && window->isVisible())
                    shownBeside.append(window->objectName());
            }
            if (answered) {
                QTest::keyClicks(password, typed);
                QVERIFY(!password->displayText().contains(QStringLiteral("s3cret")));
                box->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
            } else {
                box->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
            }
        });
        typist.start(20);
        frmMain page;
        page.Form_Load();
        typist.stop();
        Module1::setExitHandler(previous);
        QCOMPARE(boxesSeen, QStringList{QStringLiteral("frmSignIn")});
        QCOMPARE(shownBeside, QStringList()); // no page yet
        QVERIFY(!page.isVisible());
        QCOMPARE(boxes.texts().join(QLatin1Char('|')), QString());
        if (answered) {
            QCOMPARE(exits, 0);
            QCOMPARE(modOrvaneDB::DbConnectionString(), Statements::DataSourceConnectionText +
                                                            QStringLiteral(";UID=EXAMPLE\\alice;PWD={") +
                                                            typed + QLatin1Char('}'));
            QVERIFY(modOrvaneDB::CosRecords().isOpen());
            modOrvaneDB::CloseSharedLists();
        } else {
            QCOMPARE(exits, 1);
            QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
            QVERIFY(modOrvaneDB::DbConnectionString().isEmpty());
            QVERIFY(!modOrvaneDB::CosRecords().isOpen());
        }
        return;
    }
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    QTemporaryDir config;
    QVERIFY(config.isValid());
    writeDataSource(config, standin, "SQL Server", "UID=EXAMPLE\\alice\n");
    const QByteArray output = runChild(QStringLiteral("startUpAsksForTheMissingPassword:") +
                                           QString::fromLatin1(QTest::currentDataTag()),
                                       config.path(), config.filePath(QStringLiteral("user-odbc.ini")));
    QVERIFY2(output.contains("PASS   : TestOrvaneServer::startUpAsksForTheMissingPassword("),
             output.constData());
    QVERIFY2(!output.contains("FAIL!"), output.constData());
    QCOMPARE(output.contains("(DSN=OrvaneDb;database=OrvaneDb;UID=EXAMPLE\\alice;PWD=***)"), answered);
    QVERIFY2(!output.contains("s3cret"), output.constData());
}

QTEST_MAIN(TestOrvaneServer)

#include "test_orvaneserver.moc"
