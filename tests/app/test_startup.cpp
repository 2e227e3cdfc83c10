#include "app/frmMain.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "localize/Keyboard.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "server/OrvaneVersion.h"
#include "server/RegistryAPI.h"
#include "server/modOrvaneDB.h"

#include <QAbstractButton>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

namespace {
const QString kTooOld = QStringLiteral("Error!  This version of Culvane only works on versions of Orvane "
                                       "4.0(3) or later.  Exiting application.");
const QString kDomino =
    QStringLiteral("This tool only works with Exchange 5.5, Exchange 2000 or Exchange 2003 as "
                   "the Orvane message store back end.  Exiting");
const QString kNoDatabase = QStringLiteral("Unable to open OrvaneDB with necessary rights needed for this "
                                           "tool.  Make sure you are running this tool "
                                           "logged in as a member of the local admins group.");
const QString kRestricted =
    QStringLiteral("The Orvane installation was configured to force restricted administration rights.  As "
                   "such the option to "
                   "remove user accounts from AD will not be allowed using this tool.");

const QString kSystemParameters = QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0");
const QString kPermissions = QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0");
const QString kLegacySwitch =
    QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\integration1");
const QString kSwitch = QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\Main PBX");
} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusesServersBelowTheMinimum_data();
    void refusesServersBelowTheMinimum();
    void refusesDominoInAnyLetterCase();
    void endsWhenTheDatabaseCannotBeRead();
    void restrictedRightsDisableFullRemoval();
    void normalStartShowsThePageUntouched();
    void anErrorInsideAStepDoesNotStopTheSequence();
    void exitButtonEndsTheProgram();
    void startWithoutSwitchesGoesOn();
    void refusesAnUnusableRegistryFile();
    void refusesWithoutTheDefaultRegistryFile();
    void processEndsWithTheRequestedStatus();
    void startsTheCommandFileBesideTheProgramAfterTheConnectorCheck();

private:
    // Runs the start-up of a fresh first page; the page stays for inspection.
    void startPage();
    static void writeNormalServer(RegFile& reg);

    std::unique_ptr<frmMain> m_page;
    int m_exits = 0;
    Module1::ExitHandler m_previousExit;
};

void TestStartup::init()
{
    m_exits = 0;
    m_previousExit = Module1::setExitHandler([this] { ++m_exits; });
    modLocalize::resetLocalisation();
    OrvaneVersion::setInstalledVersion({});
    modOrvaneDB::DbConnectionString().clear();
}

void TestStartup::cleanup()
{
    m_page.reset();
    modOrvaneDB::CloseSharedLists();
    Module1::setExitHandler(std::move(m_previousExit));
}

void TestStartup::startPage()
{
    // Start-up runs once per process; a test that starts twice begins from closed shared lists.
    modOrvaneDB::CloseSharedLists();
    m_page = std::make_unique<frmMain>();
    m_page->Form_Load();
}

void TestStartup::writeNormalServer(RegFile& reg)
{
    reg.currentVersion(5, 0, 1, 33);
    reg.key(kSystemParameters)
        .sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsExchange.VcIDCExchange.1"));
    reg.key(kSwitch)
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Main PBX"))
        .dword(QStringLiteral("IntegrationID"), 1);
    // Servers before 4.2(0.27) keep their switch under a fixed name.
    reg.key(kLegacySwitch).sz(QStringLiteral("DisplayName"), QStringLiteral("Legacy PBX"));
    reg.key(kPermissions).dword(QStringLiteral("Restricted Rights"), 0);
}

void TestStartup::refusesServersBelowTheMinimum_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("release");
    QTest::addColumn<int>("build");
    QTest::addColumn<bool>("refused");
    QTest::newRow("4.0(2.100) exactly") << 4 << 0 << 2 << 100 << false;
    QTest::newRow("4.0(2.99)") << 4 << 0 << 2 << 99 << true;
    QTest::newRow("3.9(9.999)") << 3 << 9 << 9 << 999 << true;
    QTest::newRow("no version at all") << 0 << 0 << 0 << 0 << true;
}

void TestStartup::refusesServersBelowTheMinimum()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, release);
    QFETCH(int, build);
    QFETCH(bool, refused);

    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    RegFile reg;
    writeNormalServer(reg);
    if (major == 0)
        reg.key(QStringLiteral("SOFTWARE\\Marvok Systems\\Marvok Orvane"))
            .dword(QStringLiteral("MajorVersion"), 0);
    else
        reg.currentVersion(major, minor, release, build);
    reg.save();

    ScriptedMessageBoxes boxes;
    startPage();
    if (refused) {
        QCOMPARE(boxes.texts(), QStringList{kTooOld});
        QCOMPARE(boxes.buttons().constFirst(), MsgBox::vbOKOnly);
        QCOMPARE(m_exits, 1);
        QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
        QVERIFY2(modOrvaneDB::DbConnectionString().isEmpty(), "no step may run after the refusal");
    } else {
        QCOMPARE(boxes.texts().join(QLatin1Char('|')), QString());
        QCOMPARE(m_exits, 0);
    }
}

void TestStartup::refusesDominoInAnyLetterCase()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    for (const QString& connector :
         {QStringLiteral("vcdsdomino.vcidcdomino.1"), QStringLiteral("VCDsDomino.VcIDCDomino.1")}) {
        RegFile reg;
        writeNormalServer(reg);
        reg.key(kSystemParameters).sz(QStringLiteral("IDCProgID"), connector);
        reg.save();
        m_exits = 0;
        ScriptedMessageBoxes boxes;
        startPage();
        QCOMPARE(boxes.texts(), QStringList{kDomino});
        QCOMPARE(m_exits, 1);
        QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
    }

    // A missing key or value passes, and so does a different connector with Domino in its name.
    for (const QString& connector : {QString(), QStringLiteral("VCDsDomino.VcIDCDomino.2")}) {
        RegFile reg;
        reg.currentVersion(5, 0, 0, 0);
        reg.key(kSwitch).sz(QStringLiteral("DisplayName"), QStringLiteral("PBX"));
        if (!connector.isEmpty())
            reg.key(kSystemParameters).sz(QStringLiteral("IDCProgID"), connector);
        reg.save();
        m_exits = 0;
        ScriptedMessageBoxes boxes;
        startPage();
        QCOMPARE(boxes.texts().join(QLatin1Char('|')), QString());
        QCOMPARE(m_exits, 0);
    }
}

void TestStartup::endsWhenTheDatabaseCannotBeRead()
{
    RegFile reg;
    writeNormalServer(reg);
    reg.save();

    {
        // The driver is there but the folder holds no OrvaneDb.
        StandinFixture standin(0);
        QVERIFY(standin.isValid());
        QVERIFY(QFile::remove(standin.databasePath()));
        ScriptedMessageBoxes boxes;
        startPage();
        QCOMPARE(boxes.texts(), QStringList{kNoDatabase});
        QCOMPARE(m_exits, 1);
        QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
        QVERIFY(!modOrvaneDB::CosRecords().isOpen());
        QVERIFY(!modOrvaneDB::DistributionListRecords().isOpen());
        QCOMPARE(modOrvaneDB::DbConnectionString(),
                 QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb"));
        // The message keeps its text; the driver's reason is behind "Show Details...", and no empty
        // database was made in its place.
        QCOMPARE(boxes.details().size(), 1);
        QVERIFY2(boxes.details().first().contains(
                     QStringLiteral("Data source: Driver={SQL Server};server=;database=OrvaneDb")),
                 qPrintable(boxes.details().first()));
        QVERIFY2(boxes.details().first().contains(QStringLiteral("Driver error 14: ")) &&
                     boxes.details().first().contains(QStringLiteral("does not exist")),
                 qPrintable(boxes.details().first()));
        QVERIFY(!QFile::exists(standin.databasePath()));
    }
    {
        // A database whose class-of-service view cannot be read.
        StandinFixture standin(3);
        QVERIFY(standin.isValid());
        QVERIFY(standin.exec(QStringLiteral("DROP VIEW vw_COS")));
        m_exits = 0;
        ScriptedMessageBoxes boxes;
        startPage();
        QCOMPARE(boxes.texts(), QStringList{kNoDatabase});
        QCOMPARE(m_exits, 1);
        QVERIFY(!modOrvaneDB::DistributionListRecords().isOpen());
        QVERIFY2(boxes.details().value(0).contains(QStringLiteral("Driver error 1: ")) &&
                     boxes.details().value(0).contains(QStringLiteral("no such table: vw_COS")),
                 qPrintable(boxes.details().value(0)));
    }
}

void TestStartup::restrictedRightsDisableFullRemoval()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    RegFile reg;
    writeNormalServer(reg);
    reg.key(kPermissions).dword(QStringLiteral("Restricted Rights"), 1);
    reg.save();

    ScriptedMessageBoxes boxes;
    startPage();
    QCOMPARE(boxes.texts(), QStringList{kRestricted});
    QCOMPARE(m_exits, 0);
    auto* all = m_page->findChild<QRadioButton*>(QStringLiteral("optSubscriberDeleteAll"));
    auto* onlyOrvane = m_page->findChild<QRadioButton*>(QStringLiteral("optSubscriberDeleteOnlyOrvaneInfo"));
    QVERIFY(all && onlyOrvane);
    QVERIFY(!all->isEnabled());
    QVERIFY(!all->isChecked());
    QVERIFY(onlyOrvane->isChecked());
    QVERIFY(!m_page->deleteAllSelected());

    // Not even a click on its caption selects it.
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    auto* caption = m_page->findChild<QLabel*>(QStringLiteral("optSubscriberDeleteAllCaption"));
    QVERIFY(caption);
    QTest::mouseClick(caption, Qt::LeftButton);
    QVERIFY(!m_page->deleteAllSelected());
}

void TestStartup::normalStartShowsThePageUntouched()
{
    StandinFixture standin(20);
    QVERIFY(standin.isValid());
    RegFile reg(RegFile::Format::Regedit4);
    writeNormalServer(reg);
    reg.save();

    ScriptedMessageBoxes boxes;
    startPage();
    QCOMPARE(boxes.texts(), QStringList{});
    QCOMPARE(m_exits, 0);
    QVERIFY(modOrvaneDB::CosRecords().isOpen());
    QVERIFY(modOrvaneDB::DistributionListRecords().isOpen());
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 1, 33));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 1, 34));

    QCOMPARE(m_page->windowTitle(), QStringLiteral("Culvane"));
    QCOMPARE(m_page->findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("Culvane"));
    QCOMPARE(m_page->findChild<QGroupBox*>(QStringLiteral("frmDeletionType"))->title(),
             QStringLiteral("Subscriber Deletion Type"));
    QVERIFY(m_page->findChild<QLabel*>(QStringLiteral("lblMain_0"))
                ->text()
                .startsWith(QStringLiteral("The Culvane tool lets you select large numbers of subscribers")));
    QVERIFY(m_page->findChild<QLabel*>(QStringLiteral("optSubscriberDeleteAllCaption"))
                ->text()
                .contains(QStringLiteral("There is _NO_ undo option once you've completed this operation.")));
    auto* previous = m_page->findChild<QPushButton*>(QStringLiteral("cmdPrevious"));
    QCOMPARE(Keyboard::shownText(previous->text()), QStringLiteral("<< Previous"));
    QVERIFY(!previous->isEnabled());
    QCOMPARE(Keyboard::shownText(m_page->findChild<QPushButton*>(QStringLiteral("cmdExit"))->text()),
             QStringLiteral("Exit"));

    auto* all = m_page->findChild<QRadioButton*>(QStringLiteral("optSubscriberDeleteAll"));
    QVERIFY(all->isEnabled());
    QVERIFY(!m_page->deleteAllSelected());
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    QTest::mouseClick(m_page->findChild<QLabel*>(QStringLiteral("optSubscriberDeleteAllCaption")),
                      Qt::LeftButton);
    QVERIFY(m_page->deleteAllSelected());
}

void TestStartup::anErrorInsideAStepDoesNotStopTheSequence()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    RegFile reg;
    writeNormalServer(reg);
    // Out of the 16-bit range: reading it fails, the field stays 0 and the older layout is consulted.
    reg.key(QStringLiteral("SOFTWARE\\Marvok Systems\\Marvok Orvane"))
        .dword(QStringLiteral("MajorVersion"), 40000);
    reg.key(QStringLiteral("Software\\Velcor")).dword(QStringLiteral("Version Number"), 0x40000);
    reg.key(QStringLiteral("Software\\Velcor")).dword(QStringLiteral("Build Number"), 0x20064);
    reg.save();

    ScriptedMessageBoxes boxes;
    startPage();
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral(
                                "(error):6 (Overflow) in procedure getVersion of Module OrvaneVersion")});
    QCOMPARE(m_exits, 0);
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 100));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 101));
    QVERIFY(modOrvaneDB::CosRecords().isOpen());
}

void TestStartup::exitButtonEndsTheProgram()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    RegFile reg;
    writeNormalServer(reg);
    reg.key(kSystemParameters).sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsDomino.VcIDCDomino.1"));
    reg.save();
    ScriptedMessageBoxes boxes;
    startPage();
    QCOMPARE(m_exits, 1);
    QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);

    // After a start that passes, "Exit" ends with the normal status.
    writeNormalServer(reg);
    reg.save();
    m_exits = 0;
    boxes.clear();
    startPage();
    QCOMPARE(m_exits, 0);
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    QTest::mouseClick(m_page->findChild<QPushButton*>(QStringLiteral("cmdExit")), Qt::LeftButton);
    QCOMPARE(m_exits, 1);
    QCOMPARE(Module1::requestedExitStatus(), Module1::ExitNormal);
}

void TestStartup::startWithoutSwitchesGoesOn()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    RegFile reg;
    reg.currentVersion(5, 0, 0, 0);
    reg.key(kPermissions).dword(QStringLiteral("Restricted Rights"), 1);
    reg.save();
    ScriptedMessageBoxes boxes;
    startPage();
    // The switch message comes between the database step and the rights check, and ends nothing.
    QCOMPARE(boxes.texts(),
             (QStringList{QStringLiteral("No switches are configured on the local system."), kRestricted}));
    QCOMPARE(m_exits, 0);
}

void TestStartup::refusesAnUnusableRegistryFile()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    RegFile reg; // names its file in CULVANE_REGISTRY until it goes
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString elsewhere = dir.filePath(QStringLiteral("server.reg"));
    auto useFile = [](const QString& path) {
        qputenv("CULVANE_REGISTRY", QFile::encodeName(path));
        RegistryAPI::reloadRegistry();
    };
    auto expect = [&](const QString& file, const QString& reason) {
        m_exits = 0;
        ScriptedMessageBoxes boxes;
        startPage();
        QCOMPARE(boxes.texts(),
                 QStringList{
                     QStringLiteral("The registry export file %1 named by CULVANE_REGISTRY cannot be used: "
                                    "%2.  Exiting application.")
                         .arg(file, reason)});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
        QCOMPARE(m_exits, 1);
        QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
        QVERIFY2(modOrvaneDB::DbConnectionString().isEmpty(), "no step may run after the refusal");
    };

    useFile(elsewhere);
    expect(elsewhere, QStringLiteral("the file does not exist"));
    if (QTest::currentTestFailed())
        return;

    useFile(reg.path());
    reg.saveBytes(QByteArray());
    expect(reg.path(), QStringLiteral("the file is empty"));
    reg.saveBytes(QByteArray("\xFF\xFE\r\0\n\0 \0", 8)); // a byte order mark and blank lines
    expect(reg.path(), QStringLiteral("the file is empty"));

    reg.saveBytes("Alias,Extension\r\njsmith,1234\r\n");
    expect(reg.path(), QStringLiteral("it is not a registry export file (its first line is neither \"Windows "
                                      "Registry Editor Version 5.00\" nor \"REGEDIT4\")"));

    // A real export, but of another hive: nothing of HKEY_LOCAL_MACHINE.
    reg.saveBytes(
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Velcor]\r\n\"Version Number\"=dword:00040000\r\n");
    expect(reg.path(), QStringLiteral("it holds no keys of HKEY_LOCAL_MACHINE"));

    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("server.reg")));
    useFile(elsewhere);
    expect(elsewhere, QStringLiteral("it is a folder, not a file"));

    // Unreadable: without read permission, or, where permissions do not bind (root), a file whose every
    // read fails.
    writeNormalServer(reg);
    reg.save();
    QVERIFY(QFile::setPermissions(reg.path(), QFileDevice::WriteOwner));
    QFile probe(reg.path());
    if (probe.open(QIODevice::ReadOnly)) {
        probe.close();
        useFile(QStringLiteral("/proc/self/mem"));
        expect(QStringLiteral("/proc/self/mem"),
               QStringLiteral("the file cannot be read (Input/output error)"));
    } else {
        useFile(reg.path());
        expect(reg.path(), QStringLiteral("the file cannot be read (Permission denied)"));
    }

    // A real registry with a version that is too old keeps its own message.
    QVERIFY(QFile::setPermissions(reg.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    reg.currentVersion(4, 0, 2, 99);
    reg.save();
    useFile(reg.path());
    m_exits = 0;
    ScriptedMessageBoxes boxes;
    startPage();
    QCOMPARE(boxes.texts(), QStringList{kTooOld});
    QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
}

void TestStartup::refusesWithoutTheDefaultRegistryFile()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    const QString fallback =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("HKLM.reg"));
    if (QFileInfo::exists(fallback))
        QSKIP("a registry file lies beside the test program");
    const QByteArray previous = qgetenv("CULVANE_REGISTRY");
    qunsetenv("CULVANE_REGISTRY");
    RegistryAPI::reloadRegistry();
    ScriptedMessageBoxes boxes;
    startPage();
    if (!previous.isEmpty())
        qputenv("CULVANE_REGISTRY", previous);
    RegistryAPI::reloadRegistry();
    QCOMPARE(boxes.texts(),
             QStringList{QStringLiteral("The registry export file %1 (the default, as "
                                        "CULVANE_REGISTRY is not set) cannot be used: the file "
                                        "does not exist.  Exiting application.")
                             .arg(QDir::toNativeSeparators(fallback))});
    QCOMPARE(m_exits, 1);
    QCOMPARE(Module1::requestedExitStatus(), Module1::ExitStartupRefused);
}

void TestStartup::processEndsWithTheRequestedStatus()
{
    // The real ending, in a child process: nothing runs after it and the status reaches the parent.
    for (const int status : {Module1::ExitNormal, Module1::ExitStartupRefused}) {
        std::fflush(nullptr); // the child must not repeat what this process has buffered
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            Module1::setExitHandler({});
            Module1::ExitApplication(status);
            std::_Exit(99);
        }
        int result = 0;
        QCOMPARE(waitpid(child, &result, 0), child);
        QVERIFY(WIFEXITED(result));
        QCOMPARE(WEXITSTATUS(result), status);
    }
}

void TestStartup::startsTheCommandFileBesideTheProgramAfterTheConnectorCheck()
{
    StandinFixture standin(5);
    QVERIFY(standin.isValid());
    QTemporaryDir programFolder;
    QFile commandFile(programFolder.filePath(QStringLiteral("test.sh")));
    QVERIFY(commandFile.open(QIODevice::WriteOnly));
    QVERIFY(commandFile.setPermissions(commandFile.permissions() | QFile::ExeOwner));
    modLocalize::setProgramLocation(programFolder.path(), QString());
    RecordingLauncher launcher;
    ScriptedMessageBoxes boxes;
    for (const QString& connector : {QStringLiteral("VCDsDomino.VcIDCDomino.1"), QStringLiteral("Other")}) {
        RegFile reg;
        writeNormalServer(reg);
        reg.key(kSystemParameters).sz(QStringLiteral("IDCProgID"), connector);
        reg.save();
        startPage();
    }
    modLocalize::setProgramLocation(QString(), QString());
    // Refused at the connector check: started once, by the second start only.
    QCOMPARE(launcher.started(), (QList<QStringList>{{commandFile.fileName(), "4.0.23",
                                                      "http://tools.marvok.example/Applications/Orvane/"
                                                      "Culvane403/Culvane403.html"}}));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
