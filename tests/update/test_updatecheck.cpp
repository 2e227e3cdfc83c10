#include "app/frmMain.h"
#include "common/ScriptedPorts.h"
#include "localize/Keyboard.h"
#include "localize/modLocalize.h"
#include "update/modUpdateCheck.h"

#include <QAction>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace modUpdateCheck;

namespace {
const QByteArray kKey = "^/Applications/Orvane/Culvane403/Culvane403.html^ifram_a";
const QString kUpToDate = QStringLiteral("You have the most up to date version of this tool installed");
const QString kUnable =
    QStringLiteral("Unable to contact application home page to check for version.  You can "
                   "access the home page and check for updated versions of all Marvok "
                   "Orvane tools by going to http://");

// A download list with another tool before this one and the version in the cell after the key.
QByteArray downloadList(const QByteArray& version, const QByteArray& key = kKey,
                        const QByteArray& cell = "<cell>")
{
    return "<rows><row><cell>^/Applications/Orvane/Other/Other.html^ifram_a</cell><cell>9.9.9</cell></"
           "row>\r\n"
           "<row><cell>" +
           key + "</cell>" + cell + version + "</cell></row></rows>\r\n";
}

// The tools site on 127.0.0.1: answers every request with the prepared body and closes the connection.
class LocalSite : public QObject {
public:
    LocalSite()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                auto received = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
                    *received += socket->readAll();
                    if (!received->contains("\r\n\r\n"))
                        return;
                    requests.append(*received);
                    if (onRequest)
                        onRequest();
                    QByteArray head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
                    if (withLength)
                        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
                    socket->write(head + "\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QByteArray body;
    bool withLength = true; // else the end of the connection is the end of the body
    QList<QByteArray> requests;
    std::function<void()> onRequest;
};
} // namespace

class TestUpdateCheck : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        site = std::make_unique<LocalSite>();
        qputenv("CULVANE_TOOLS_SITE", site->host().toLatin1());
    }
    void cleanup() { qunsetenv("CULVANE_TOOLS_SITE"); }
    void foregroundCheck_data();
    void foregroundCheck();
    void noServer();
    void longBodyWithARunOfBlanksIsReadToItsEnd();
    void versionsCompareAsNumbers();
    void backgroundStartsOnlyAnExecutableCommandFile();
    void menuEntryRunsTheCheckWithTheWaitCursor();

private:
    std::unique_ptr<LocalSite> site;
};

void TestUpdateCheck::foregroundCheck_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("expected"); // "offer" for the update dialog, "unable" for no version
    QTest::addColumn<bool>("opened");
    QTest::newRow("up to date") << downloadList("4.0.23") << 0 << kUpToDate << false;
    QTest::newRow("newer, Cancel") << downloadList("4.1.0") << int(MsgBox::vbCancel) << "offer" << false;
    QTest::newRow("newer, OK") << downloadList("4.1.0") << int(MsgBox::vbOK) << "offer" << true;
    QTest::newRow("key and cell in other letter case")
        << downloadList("4.0.23", kKey.toUpper(), "<CELL>") << 0 << kUpToDate << false;
    QTest::newRow("4.0.100 is newer than 4.0.23")
        << downloadList("4.0.100") << int(MsgBox::vbCancel) << "offer" << false;
    QTest::newRow("4.0.9 is older than 4.0.23") << downloadList("4.0.9") << 0 << kUpToDate << false;
    QTest::newRow("version 4.0") << downloadList("4.0") << 0 << "unable" << false;
    QTest::newRow("tool not listed") << downloadList("4.1.0", "^/Other.html^ifram_a") << 0 << "unable"
                                     << false;
}

void TestUpdateCheck::foregroundCheck()
{
    QFETCH(QByteArray, list);
    QFETCH(int, answer);
    QFETCH(QString, expected);
    QFETCH(bool, opened);
    site->body = list;
    RecordingLauncher launcher;
    ScriptedMessageBoxes boxes;
    if (answer)
        boxes.setNextAnswer(MsgBox::Answer(answer));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());

    if (expected == QLatin1String("offer")) {
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("An updated version of this tool is available on http://") +
                             site->host() +
                             QStringLiteral(".  Click OK to open the application home page now")});
        QCOMPARE(boxes.titles(), QStringList{QStringLiteral("Updated version is available")});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKCancel});
    } else {
        QCOMPARE(boxes.texts(),
                 QStringList{expected == QLatin1String("unable") ? kUnable + site->host() : expected});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
    }
    const QStringList browser{QStringLiteral("xdg-open"),
                              QStringLiteral("http://") + site->host() +
                                  QStringLiteral("/Applications/Orvane/Culvane403/"
                                                 "Culvane403.html")};
    QCOMPARE(launcher.started(), opened ? QList<QStringList>{browser} : QList<QStringList>{});
    QVERIFY(
        site->requests.constFirst().startsWith("GET /SiteList/AllDownloads/AllDownloads.XML HTTP/1.1\r\n"));
    QVERIFY(site->requests.constFirst().contains("\r\nUser-Agent: HTTP Generic\r\n"));
}

void TestUpdateCheck::noServer()
{
    const QString host = site->host();
    site.reset(); // connections to its port are now refused
    ScriptedMessageBoxes boxes;
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.texts(), QStringList{kUnable + host});
}

void TestUpdateCheck::longBodyWithARunOfBlanksIsReadToItsEnd()
{
    QByteArray body = "<rows>" + QByteArray(1500, ' ');
    for (int i = 0; body.size() < 6000; ++i)
        body += "<row><cell>^/Applications/Orvane/Tool" + QByteArray::number(i) +
                "^ifram_a</cell><cell>1.0." + QByteArray::number(i) + "</cell></row>\r\n";
    site->body = body + QByteArray(1000, ' ') + downloadList("4.3.1") + QByteArray(1200, ' ');
    for (const bool withLength : {true, false}) {
        site->withLength = withLength;
        QCOMPARE(GetUrlText(DownloadListAddress()), QString::fromLatin1(site->body));
        QCOMPARE(GetPublishedVersion(ApplicationHomePage()), QStringLiteral("04.03.01"));
    }
}

void TestUpdateCheck::versionsCompareAsNumbers()
{
    // "0###" pads 100 to "0100" and 23 to "023": as text the older one would sort last.
    QVERIFY(CompareVersions(PadVersionString(QStringLiteral("4.0.100")), PadVersionString("4.0.23")) > 0);
    QVERIFY(CompareVersions(PadVersionString(QStringLiteral("4.0.23")), PadVersionString("4.0.100")) < 0);
    QCOMPARE(CompareVersions(PadVersionString(QStringLiteral("4.0.23")), PadVersionString("4.00.023.0")), 0);

    ScriptedMessageBoxes boxes;
    QCOMPARE(PadVersionString(QStringLiteral("4023")), QString());
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("(error):9 (Subscript out of range) in procedure "
                                                       "PadVersionString of Module modUpdateCheck")});
}

void TestUpdateCheck::backgroundStartsOnlyAnExecutableCommandFile()
{
    QTemporaryDir folder;
    modLocalize::setProgramLocation(folder.path(), QString());
    QFile file(folder.filePath(QStringLiteral("test.sh")));
    RecordingLauncher launcher;
    checkForUpdatedVersion_Background(ApplicationHomePage()); // none
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    checkForUpdatedVersion_Background(ApplicationHomePage()); // not executable
    QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    checkForUpdatedVersion_Background(ApplicationHomePage());
    modLocalize::setProgramLocation(QString(), QString());
    QCOMPARE(launcher.started(), (QList<QStringList>{{file.fileName(), "4.0.23", ApplicationHomePage()}}));
    QVERIFY2(site->requests.isEmpty(), "the start-up step never talks to the network");
}

void TestUpdateCheck::menuEntryRunsTheCheckWithTheWaitCursor()
{
    frmMain page;
    page.frmMain_Auto_Init();
    auto* entry = page.findChild<QAction*>(QStringLiteral("mnuCheckForUpdatedVersion"));
    QVERIFY(entry && entry->isEnabled());
    QCOMPARE(Keyboard::shownText(entry->text()), QStringLiteral("Check for updated version"));
    Qt::CursorShape whileFetching = Qt::ArrowCursor;
    site->onRequest = [&] { whileFetching = page.cursor().shape(); };
    site->body = downloadList("4.0.23");
    ScriptedMessageBoxes boxes;
    entry->trigger();
    QCOMPARE(boxes.texts(), QStringList{kUpToDate});
    QCOMPARE(whileFetching, Qt::WaitCursor);
    QCOMPARE(page.cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(TestUpdateCheck)
#include "test_updatecheck.moc"
