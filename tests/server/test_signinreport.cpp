// The start-up line that says how the program signed in, and the warning for a connection that is not
// encrypted: their texts from what a server answers, the server's name from the data source or the
// connection text, and nothing at all for the embedded stand-in file.
#include "common/StandinFixture.h"
#include "server/DbConnection.h"
#include "server/SignInReport.h"
#include "server/Statements.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSignInReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void theLineNamesAccountSchemeAndEncryption_data();
    void theLineNamesAccountSchemeAndEncryption();
    void onlyAConnectionKnownNotEncryptedIsWarnedAbout();
    void theServerIsNamedAsTheDataSourceOrTheTextNamesIt();
    void theEmbeddedStandInHasNoSignInToTell();

private:
    QTemporaryDir m_config;
};

void TestSignInReport::initTestCase()
{
    // unixODBC finds the user's data sources through ODBCINI, read before the first connection.
    QVERIFY(m_config.isValid());
    const QString ini = m_config.filePath(QStringLiteral("odbc.ini"));
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[OrvaneDb]\nDriver=FreeTDS\nServer=orvane01.example.com\\ORVANE\nDatabase=OrvaneDb\n"
               "[ByName]\nDriver=FreeTDS\nServername=orvane-tls\n"
               "[Nameless]\nDriver=FreeTDS\nPort=1433\n");
    file.close();
    qputenv("ODBCINI", QFile::encodeName(ini));
}

void TestSignInReport::theLineNamesAccountSchemeAndEncryption_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("encryption");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("expected");
    const QString to = QStringLiteral("signed in to sql.culvane.test as ");
    QTest::newRow("Kerberos, encrypted")
        << QStringLiteral("alice@CULVANE.TEST") << QStringLiteral("KERBEROS") << QStringLiteral("TRUE")
        << QString() << to + QStringLiteral("alice@CULVANE.TEST (Kerberos), connection encrypted");
    QTest::newRow("Kerberos, not encrypted")
        << QStringLiteral("alice@CULVANE.TEST") << QStringLiteral("KERBEROS") << QStringLiteral("FALSE")
        << QString() << to + QStringLiteral("alice@CULVANE.TEST (Kerberos), connection not encrypted");
    QTest::newRow("NTLM, encrypted") << QStringLiteral("CULVANE\\alice") << QStringLiteral("NTLM")
                                     << QStringLiteral("TRUE") << QString()
                                     << to + QStringLiteral("CULVANE\\alice (NTLM), connection encrypted");
    QTest::newRow("NTLM, not encrypted")
        << QStringLiteral("CULVANE\\alice") << QStringLiteral("NTLM") << QStringLiteral("FALSE") << QString()
        << to + QStringLiteral("CULVANE\\alice (NTLM), connection not encrypted");
    QTest::newRow("SQL login, encrypted")
        << QStringLiteral("culvane") << QStringLiteral("SQL") << QStringLiteral("TRUE") << QString()
        << to + QStringLiteral("culvane (SQL login), connection encrypted");
    QTest::newRow("SQL login, not encrypted")
        << QStringLiteral("culvane") << QStringLiteral("SQL") << QStringLiteral("FALSE") << QString()
        << to + QStringLiteral("culvane (SQL login), connection not encrypted");
    // An account that may not read the server's connections still knows its own name.
    QTest::newRow("connections refused")
        << QStringLiteral("culvane") << QString() << QString()
        << QStringLiteral("VIEW SERVER STATE permission was denied on object 'server', database 'master'.")
        << to + QStringLiteral(
                    "culvane (sign-in method unknown), connection encryption unknown; the server did "
                    "not tell: VIEW SERVER STATE permission was denied on object 'server', database "
                    "'master'.");
    QTest::newRow("nothing told") << QString() << QString() << QString() << QStringLiteral("Invalid object")
                                  << to + QStringLiteral("unknown (sign-in method unknown), connection "
                                                         "encryption unknown; the server did not tell: "
                                                         "Invalid object");
    // A scheme this program has no name for is the server's own word; an odd encryption value is unknown.
    QTest::newRow("other scheme") << QStringLiteral("culvane") << QStringLiteral("DIGEST")
                                  << QStringLiteral("maybe") << QString()
                                  << to + QStringLiteral("culvane (DIGEST), connection encryption unknown");
}

void TestSignInReport::theLineNamesAccountSchemeAndEncryption()
{
    QFETCH(QString, login);
    QFETCH(QString, scheme);
    QFETCH(QString, encryption);
    QFETCH(QString, refusal);
    QFETCH(QString, expected);
    SignInReport::Facts facts;
    facts.server = QStringLiteral("sql.culvane.test");
    facts.login = login;
    facts.authScheme = scheme;
    facts.encryptOption = encryption;
    facts.refusal = refusal;
    QCOMPARE(SignInReport::line(facts), expected);
}

void TestSignInReport::onlyAConnectionKnownNotEncryptedIsWarnedAbout()
{
    SignInReport::Facts facts;
    facts.server = QStringLiteral("orvane01");
    facts.login = QStringLiteral("culvane");
    facts.authScheme = QStringLiteral("SQL");
    facts.freeTds = true;
    facts.encryptOption = QStringLiteral("FALSE");
    QCOMPARE(SignInReport::warning(facts),
             QStringLiteral("warning: the connection to orvane01 is not encrypted: the subscribers' data and "
                            "every request cross the network readable; Encryption=require in the data "
                            "source OrvaneDb encrypts it"));
    // Microsoft's driver calls the setting otherwise.
    facts.freeTds = false;
    QVERIFY2(
        SignInReport::warning(facts).contains(QStringLiteral("; Encrypt=yes in the data source OrvaneDb")),
        qPrintable(SignInReport::warning(facts)));
    facts.freeTds = true;
    facts.encryptOption = QStringLiteral("TRUE");
    QCOMPARE(SignInReport::warning(facts), QString());
    // Unknown is no reason to warn: the line already says it is unknown.
    facts.encryptOption.clear();
    facts.refusal = QStringLiteral("VIEW SERVER STATE permission was denied");
    QCOMPARE(SignInReport::warning(facts), QString());
}

void TestSignInReport::theServerIsNamedAsTheDataSourceOrTheTextNamesIt()
{
    QCOMPARE(SignInReport::serverName(Statements::DataSourceConnectionText +
                                      QStringLiteral(";ClientCharset=UTF-8;UID=culvane;PWD={x;y}")),
             QStringLiteral("orvane01.example.com\\ORVANE"));
    // A data source that reaches its server through a freetds.conf section names the section.
    QCOMPARE(SignInReport::serverName(QStringLiteral("DSN=ByName;database=OrvaneDb")),
             QStringLiteral("orvane-tls"));
    QCOMPARE(SignInReport::serverName(QStringLiteral("DSN=Nameless")), QStringLiteral("(local)"));
    QCOMPARE(SignInReport::serverName(Statements::ConnectionText), QStringLiteral("(local)"));
    QCOMPARE(
        SignInReport::serverName(QStringLiteral("Driver={SQL Server};server=orvane02;database=OrvaneDb")),
        QStringLiteral("orvane02"));
}

void TestSignInReport::theEmbeddedStandInHasNoSignInToTell()
{
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    // The connection opens: nothing is told because there is nobody to sign in to, not because it failed.
    {
        const DbConnection open(Statements::ConnectionText);
        QCOMPARE(open.dbms(), SqlDialect::Dbms::SQLite);
    }
    QVERIFY(!SignInReport::ask(Statements::ConnectionText).has_value());
    DbConnection::closeKeptConnections();
}

QTEST_GUILESS_MAIN(TestSignInReport)
#include "test_signinreport.moc"
