#include "app/frmMain.h"
#include "common/ScriptedPorts.h"
#include "localize/modLocalize.h"
#include "update/modUpdateCheck.h"

#include <QAction>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace modUpdateCheck;

namespace {
const QString kHomePagePath = QStringLiteral("/Applications/Orvane/Culvane403/Culvane403.html");
const QString kUnableToContact =
    QStringLiteral("Unable to contact application home page to check for version.  You can access the home "
                   "page and check for updated versions of all Marvok Orvane tools by going to ");
const QString kUpToDate = QStringLiteral("You have the most up to date version of this tool installed");
const QString kUpdateTitle = QStringLiteral("Updated version is available");

// A download list with other tools before this one, the version in the cell after the key.
QByteArray downloadList(const QByteArray& version,
                        const QByteArray& key = "^" + kHomePagePath.toLatin1() + "^ifram_a",
                        const QByteArray& cell = "<cell>")
{
    return "<?xml version=\"1.0\"?>\r\n<rows>\r\n"
           "<row "
           "id=\"1\"><cell>^/Applications/Orvane/Other/Other.html^ifram_a</cell><cell>9.9.9</cell></row>\r\n"
           "<row id=\"2\"><cell>" +
           key + "</cell>" + cell + version + "</cell><cell>Culvane</cell></row>\r\n</rows>\r\n";
}

// The maker's tools site stand-in: answers every request on 127.0.0.1 with the prepared response and
// closes the connection.
class LocalSite : public QObject {
public:
    LocalSite()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, &LocalSite::accept);
    }
    bool isListening() const { return m_server.isListening(); }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }

    // withLength false: the end of the body is the end of the connection.
    void serve(QByteArray body, bool withLength = true)
    {
        m_body = std::move(body);
        m_withLength = withLength;
    }
    const QList<QByteArray>& requests() const { return m_requests; }
    std::function<void()> onRequest;

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    }

    void answer(QTcpSocket* socket)
    {
        QByteArray& head = m_pending[socket];
        head += socket->readAll();
        if (!head.contains("\r\n\r\n"))
            return;
        m_requests.append(head);
        m_pending.remove(socket);
        if (onRequest)
            onRequest();
        QByteArray response = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n";
        if (m_withLength)
            response += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        socket->write(response + "\r\n" + m_body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_body;
    bool m_withLength = true;
    QList<QByteArray> m_requests;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
} // namespace

class TestUpdateCheck : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addressesFollowTheToolsSiteSetting();
    void padsEveryPartAndRefusesShortOrUndottedTexts();
    void comparesVersionsAsNumbers();
    void upToDate();
    void newerVersionWithCancelAndWithOk();
    void keyInOtherLetterCase();
    void noServer();
    void publishedVersionTooShortOrWithoutTheTool();
    void longBodyWithARunOfBlanksIsReadToItsEnd();
    void backgroundStartsOnlyAnExecutableCommandFile();
    void menuEntryRunsTheCheckWithTheWaitCursor();

private:
    LocalSite* m_site = nullptr;
};

void TestUpdateCheck::init()
{
    m_site = new LocalSite;
    QVERIFY(m_site->isListening());
    qputenv("CULVANE_TOOLS_SITE", m_site->host().toLatin1());
}

void TestUpdateCheck::cleanup()
{
    qunsetenv("CULVANE_TOOLS_SITE");
    delete m_site;
    m_site = nullptr;
}

void TestUpdateCheck::addressesFollowTheToolsSiteSetting()
{
    qunsetenv("CULVANE_TOOLS_SITE");
    QCOMPARE(ApplicationHomePage(),
             QStringLiteral("http://tools.marvok.example/Applications/Orvane/Culvane403/Culvane403.html"));
    QCOMPARE(DownloadListAddress(),
             QStringLiteral("http://tools.marvok.example/SiteList/AllDownloads/AllDownloads.XML"));
    qputenv("CULVANE_TOOLS_SITE", " http://127.0.0.1:8080/ ");
    QCOMPARE(ToolsSiteAddress(), QStringLiteral("http://127.0.0.1:8080"));
    QCOMPARE(ApplicationHomePage(), QStringLiteral("http://127.0.0.1:8080") + kHomePagePath);
    QCOMPARE(OwnVersionText(), QStringLiteral("4.0.23"));
}

void TestUpdateCheck::padsEveryPartAndRefusesShortOrUndottedTexts()
{
    ScriptedMessageBoxes boxes;
    QCOMPARE(PadVersionString(QStringLiteral("4.0.23")), QStringLiteral("04.0.023"));
    QCOMPARE(PadVersionString(QStringLiteral("10.02.1234.56789")), QStringLiteral("010.02.1234.56789"));
    QCOMPARE(PadVersionString(QStringLiteral("4.0")), QString());
    QCOMPARE(boxes.texts(), QStringList{});

    QCOMPARE(PadVersionString(QStringLiteral("4023")), QString());
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("(error):9 (Subscript out of range) in procedure "
                                                       "PadVersionString of Module modUpdateCheck")});
}

void TestUpdateCheck::comparesVersionsAsNumbers()
{
    const QString v100 = PadVersionString(QStringLiteral("4.0.100"));
    const QString v23 = PadVersionString(QStringLiteral("4.0.23"));
    // As text "0100" sorts before "023"; as versions 100 comes after 23.
    QVERIFY(CompareVersions(v100, v23) > 0);
    QVERIFY(CompareVersions(v23, v100) < 0);
    QCOMPARE(CompareVersions(v23, PadVersionString(QStringLiteral("4.00.023"))), 0);
    QVERIFY(CompareVersions(PadVersionString(QStringLiteral("4.0.23.1")), v23) > 0);
    QVERIFY(CompareVersions(PadVersionString(QStringLiteral("12345678901234567890.0")),
                            PadVersionString(QStringLiteral("12345678901234567889.9"))) > 0);

    // Through the whole check, both ways, against the own 4.0.23.
    RecordingLauncher launcher;
    ScriptedMessageBoxes boxes;
    boxes.setNextAnswer(MsgBox::vbCancel);
    m_site->serve(downloadList("4.0.100"));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    m_site->serve(downloadList("4.0.9"));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.titles().constFirst(), kUpdateTitle);
    QCOMPARE(boxes.texts().constLast(), kUpToDate);
    QCOMPARE(boxes.texts().size(), 2);
}

void TestUpdateCheck::upToDate()
{
    RecordingLauncher launcher;
    ScriptedMessageBoxes boxes;
    m_site->serve(downloadList("4.0.23"));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.texts(), QStringList{kUpToDate});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
    QCOMPARE(boxes.titles(), QStringList{QString()});
    QVERIFY(launcher.started().isEmpty());

    QCOMPARE(m_site->requests().size(), 1);
    const QByteArray request = m_site->requests().constFirst();
    QVERIFY2(request.startsWith("GET /SiteList/AllDownloads/AllDownloads.XML HTTP/1.1\r\n"), request);
    QVERIFY2(request.contains("\r\nUser-Agent: HTTP Generic\r\n"), request);
}

void TestUpdateCheck::newerVersionWithCancelAndWithOk()
{
    const QString offer = QStringLiteral("An updated version of this tool is available on http://") +
                          m_site->host() +
                          QStringLiteral(".  Click OK to open the application home page now");
    m_site->serve(downloadList("4.1.0"));
    {
        RecordingLauncher launcher;
        ScriptedMessageBoxes boxes;
        boxes.setNextAnswer(MsgBox::vbCancel);
        checkForUpdatedVersion_Foreground(ApplicationHomePage());
        QCOMPARE(boxes.texts(), QStringList{offer});
        QCOMPARE(boxes.titles(), QStringList{kUpdateTitle});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKCancel});
        QVERIFY(launcher.started().isEmpty());
    }
    {
        RecordingLauncher launcher;
        ScriptedMessageBoxes boxes;
        boxes.setNextAnswer(MsgBox::vbOK);
        checkForUpdatedVersion_Foreground(ApplicationHomePage());
        QCOMPARE(boxes.texts(), QStringList{offer});
        QCOMPARE(launcher.started(),
                 (QList<QStringList>{{QStringLiteral("xdg-open"),
                                      QStringLiteral("http://") + m_site->host() + kHomePagePath}}));
    }
    {
        // No browser could be started: said so, in the routine's own report.
        const Launcher::Handler previous =
            Launcher::setHandler([](const QString&, const QStringList&) { return false; });
        ScriptedMessageBoxes boxes;
        boxes.setNextAnswer(MsgBox::vbOK);
        checkForUpdatedVersion_Foreground(ApplicationHomePage());
        Launcher::setHandler(previous);
        QCOMPARE(boxes.texts(),
                 (QStringList{offer, QStringLiteral("Error 53 (File not found: xdg-open) in procedure "
                                                    "checkForUpdatedVersion_Foreground of Module "
                                                    "modUpdateCheck")}));
    }
}

void TestUpdateCheck::keyInOtherLetterCase()
{
    ScriptedMessageBoxes boxes;
    m_site->serve(downloadList("4.0.23", "^" + kHomePagePath.toUpper().toLatin1() + "^IFRAM_A",
                               QByteArrayLiteral("<CELL>")));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    m_site->serve(downloadList("4.2.0", "^" + kHomePagePath.toLower().toLatin1() + "^Ifram_A"));
    QCOMPARE(GetPublishedVersion(ApplicationHomePage()), QStringLiteral("04.02.0"));
    QCOMPARE(boxes.texts(), QStringList{kUpToDate});
}

void TestUpdateCheck::noServer()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString host = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    qputenv("CULVANE_TOOLS_SITE", host.toLatin1());

    RecordingLauncher launcher;
    ScriptedMessageBoxes boxes;
    QCOMPARE(GetUrlText(DownloadListAddress()), QString());
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.texts(), QStringList{kUnableToContact + QStringLiteral("http://") + host});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
    QVERIFY(launcher.started().isEmpty());
}

void TestUpdateCheck::publishedVersionTooShortOrWithoutTheTool()
{
    const QString unable = kUnableToContact + QStringLiteral("http://") + m_site->host();
    ScriptedMessageBoxes boxes;

    m_site->serve(downloadList("4.0"));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.texts(), QStringList{unable});

    boxes.clear();
    m_site->serve(downloadList("4023"));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.texts(), (QStringList{QStringLiteral("(error):9 (Subscript out of range) in procedure "
                                                        "PadVersionString of Module modUpdateCheck"),
                                         unable}));

    boxes.clear();
    m_site->serve(downloadList("4.1.0", "^/Applications/Orvane/Culvane402/Culvane402.html^ifram_a"));
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    m_site->serve("<rows/>");
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.texts(), (QStringList{unable, unable}));
}

void TestUpdateCheck::longBodyWithARunOfBlanksIsReadToItsEnd()
{
    // Several thousand bytes, the tool listed only after 1500 blanks in a row, and blanks at the very end.
    QByteArray body = "<rows>" + QByteArray(1500, ' ');
    for (int i = 0; body.size() < 6000; ++i)
        body += "<row id=\"" + QByteArray::number(i) + "\"><cell>^/Applications/Orvane/Tool" +
                QByteArray::number(i) + "/Tool.html^ifram_a</cell><cell>1.0." + QByteArray::number(i) +
                "</cell></row>\r\n";
    body += QByteArray(1000, ' ') + downloadList("4.3.1") + QByteArray(1200, ' ');

    for (const bool withLength : {true, false}) {
        m_site->serve(body, withLength);
        QCOMPARE(GetUrlText(DownloadListAddress()), QString::fromLatin1(body));
    }
    ScriptedMessageBoxes boxes;
    boxes.setNextAnswer(MsgBox::vbCancel);
    checkForUpdatedVersion_Foreground(ApplicationHomePage());
    QCOMPARE(boxes.titles(), QStringList{kUpdateTitle});
}

void TestUpdateCheck::backgroundStartsOnlyAnExecutableCommandFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    modLocalize::setProgramLocation(folder.path(), QString());
    const QString commandFile = folder.path() + QStringLiteral("/test.sh");
    RecordingLauncher launcher;
    ScriptedMessageBoxes boxes;

    checkForUpdatedVersion_Background(ApplicationHomePage());
    QVERIFY(launcher.started().isEmpty());

    QFile file(commandFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nexit 0\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    checkForUpdatedVersion_Background(ApplicationHomePage());
    QVERIFY(launcher.started().isEmpty());

    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    checkForUpdatedVersion_Background(ApplicationHomePage());
    modLocalize::setProgramLocation(QString(), QString());
    QCOMPARE(launcher.started(),
             (QList<QStringList>{{commandFile, QStringLiteral("4.0.23"), ApplicationHomePage()}}));
    QVERIFY(boxes.texts().isEmpty());
    QVERIFY2(m_site->requests().isEmpty(), "the start-up step never talks to the network");
}

void TestUpdateCheck::menuEntryRunsTheCheckWithTheWaitCursor()
{
    frmMain page;
    page.frmMain_Auto_Init();
    auto* entry = page.findChild<QAction*>(QStringLiteral("mnuCheckForUpdatedVersion"));
    QVERIFY(entry);
    QCOMPARE(entry->text(), QStringLiteral("Check for updated version"));
    QVERIFY(entry->isEnabled());

    bool waitCursorWhileFetching = false;
    m_site->onRequest = [&] { waitCursorWhileFetching = page.cursor().shape() == Qt::WaitCursor; };
    m_site->serve(downloadList("4.0.23"));
    ScriptedMessageBoxes boxes;
    entry->trigger();
    QCOMPARE(boxes.texts(), QStringList{kUpToDate});
    QVERIFY(waitCursorWhileFetching);
    QCOMPARE(page.cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(TestUpdateCheck)
#include "test_updatecheck.moc"
