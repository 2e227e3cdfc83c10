#include "DeletionTestSupport.h"
#include "app/frmMain.h"
#include "common/NamedChild.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/DeletionRun.h"
#include "deletion/Logging.h"
#include "deletion/RunResultsFile.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/Keyboard.h"
#include "localize/LanguageFonts.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "selection/SubscriberGridModel.h"
#include "selection/frmChooseSubscribers.h"
#include "server/DbConnection.h"
#include "server/OrvaneVersion.h"
#include "server/modOrvaneDB.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {
const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");
const QString kConfirmFullText =
    QStringLiteral("You have selected to delete the selected subscribers AND remove their Active Directory "
                   "accounts AND remove "
                   "their mailstore information from Exchange.  This will delete all this user's messages in "
                   "Exchange and remove "
                   "them from the directory entirely!  There is no undo option for this operation.  Are you "
                   "SURE you want to do "
                   "this?  Press YES to delete the users, NO to abort the operation");
const QString kConfirmFullAgainText = QStringLiteral(
    "Are you absolutely sure you want to completely remove all information about the selected "
    "subscribers from BOTH Orvane AND Active Directory?  Press OK to continue the removal process or "
    "CANCEL to abort.");
const QString kConfirmOrvaneText = QStringLiteral(
    "Are you sure you want to remove the selected subscribers from the Orvane database and clean all Orvane "
    "properties from their Active Directory accounts?  Press YES to continue the removal process or NO to "
    "abort.");
// Each question before a run ends by naming how many checked subscribers it will delete.
QString withCount(const QString& question, int checked)
{
    return question + QStringLiteral("\n\nSubscribers that will be deleted: ") + QString::number(checked);
}
QString confirmFull(int checked)
{
    return withCount(kConfirmFullText, checked);
}
QString confirmFullAgain(int checked)
{
    return withCount(kConfirmFullAgainText, checked);
}
QString confirmOrvane(int checked)
{
    return withCount(kConfirmOrvaneText, checked);
}
const QString kClosingTail =
    QStringLiteral(" error(s) encountered.  It's HIGHLY recommended that you run the latest version of "
                   "Ketrim to check for any "
                   "database inconsistencies at this point.  Press OK to view the output log now.");

QString closingMessage(int processed, int errors)
{
    return QStringLiteral("Subscriber deletion process complete, removed %1 subscribers.  %2")
               .arg(processed)
               .arg(errors) +
           kClosingTail;
}

// A stopped run's closing message says so first.
QString stoppedClosingMessage(int processed, int errors, int notAttempted, bool unreachable = false)
{
    return QStringLiteral("The run was stopped%1: %2 checked subscriber(s) were not attempted and are still "
                          "checked in the grid.\n\n")
               .arg(unreachable ? QStringLiteral(" because the database could not be reached") : QString())
               .arg(notAttempted) +
           closingMessage(processed, errors);
}

// From now on every write to the open file at path fails as on a full disk (ENOSPC).
void fillTheDiskUnder(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const int full = ::open("/dev/full", O_WRONLY);
    QDirIterator fds(QStringLiteral("/proc/self/fd"), QDir::Files | QDir::System);
    while (fds.hasNext()) {
        const QString fd = fds.next();
        if (QFileInfo(fd).symLinkTarget() == target)
            ::dup2(full, QFileInfo(fd).fileName().toInt());
    }
    ::close(full);
}

void addGridRow(SubscriberGridModel& grid, const QString& alias, const QString& objectId,
                const QString& extension = QStringLiteral("100"))
{
    grid.AddUserToGridFAST(alias, QStringLiteral("First"), QStringLiteral("Last"), alias, extension,
                           QStringLiteral("MAIL1"), QString(), QString(), QStringLiteral("Staff"), objectId,
                           QStringLiteral("{H-") + alias + QLatin1Char('}'));
}
} // namespace

class TestDeleteSubscribers : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void captionsAndButtons();
    void declinedConfirmationsLeaveNoLog();
    void onlyTheCheckedSecondRowOfThreeIsDeleted();
    void parametersFollowModeAndVersion();
    void logReadsSuccessSyncFailureAndTimeOut();
    void aRejectedRequestLogsTheDatabasesReason();
    void aDatabaseUnreadableMidRun();
    void aDatabaseRemovedMidRun();
    void retryAfterTheDatabaseCameBack();
    void aDatabaseLockedMidRun();
    void aFullDiskMidRunKeepsTheLinesWritten();
    void aFullDiskUnderTheResultsFileIsSaid();
    void rowsBeyond32767AreWalked();
    void aRunLogThatCannotBeCreatedDeletesNothing();
    void theLogOpensWithItsPathAsOneArgument();
    void pageFlowAcrossTheThreePages();
    void resultsFileHasARowPerCheckedSubscriber();
    void stopDuringTheSecondOfFour();
    void aResultsFileThatCannotBeCreatedLeavesTheRunAlone();
    void resultsFileTimesAreLocalWithTheirOffset();
    void stopCaptionFollowsTheLanguage();
    void failureMessagesFollowTheLanguage();
    void theRegistryFileChangedOrRemovedWhileRunning();
    void theRunShowsItsSubscriberTimesAndLog();
    void severalSubscribersAtATime();

private:
    frmDeleteSubscribers& loadPage();
    template <class T> T* child(const char* name) const { return namedChild<T>(*m_page, name); }
    void runAndAnswer(std::initializer_list<MsgBox::Answer> answers, ScriptedMessageBoxes& boxes);
    int deletions()
    {
        return m_standin->scalar(QStringLiteral("SELECT count(*) FROM standin_deletions")).toInt();
    }
    QString logFrom(const QString& firstLine) const;
    // Names in the log folder taken for the next seconds, so that the run's own file meets them.
    bool takeNamesForTheNextSeconds(const QString& prefix, const QString& suffix, bool asFolders);
    // The results file named after this run's log.
    static QString resultsBesideTheLog()
    {
        QString name = QFileInfo(Logging::RunLogPath()).fileName();
        name.replace(QStringLiteral("Culvane_Log_"), QStringLiteral("Culvane_Results_"))
            .replace(QStringLiteral(".TXT"), QStringLiteral(".csv"));
        return QFileInfo(Logging::RunLogPath()).dir().filePath(name);
    }
    QString ticketOf(const QString& objectId)
    {
        return m_standin
            ->scalar(QStringLiteral(
                         "SELECT DirectorySyncTicket FROM standin_deletions WHERE SubscriberObjectID = ?"),
                     {objectId})
            .toString();
    }

    std::unique_ptr<StandinFixture> m_standin;
    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<SubscriberGridModel> m_grid;
    std::unique_ptr<frmDeleteSubscribers> m_page;
    bool m_deleteAll = false;
    int m_exits = 0;
    Module1::ExitHandler m_previousExit;
};

void TestDeleteSubscribers::init()
{
    m_exits = 0;
    m_previousExit = Module1::setExitHandler([this] { ++m_exits; });
    modLocalize::resetLocalisation();
    m_standin = std::make_unique<StandinFixture>(0);
    QVERIFY(m_standin->isValid());
    modOrvaneDB::DbConnectionString() = kConnection;
    OrvaneVersion::setInstalledVersion({5, 0, 1, 33});
    m_program = std::make_unique<QTemporaryDir>();
    modLocalize::setProgramLocation(m_program->path(), QStringLiteral("Culvane"));
    m_grid = std::make_unique<SubscriberGridModel>();
    m_deleteAll = false;
}

void TestDeleteSubscribers::cleanup()
{
    m_page.reset();
    m_grid.reset();
    modOrvaneDB::CloseSharedLists();
    Logging::CloseRunLog();
    Logging::setLogFolder(QString());
    modLocalize::setProgramLocation(QString(), QString());
    m_program.reset();
    m_standin.reset();
    Module1::setExitHandler(std::move(m_previousExit));
}

frmDeleteSubscribers& TestDeleteSubscribers::loadPage()
{
    m_page = std::make_unique<frmDeleteSubscribers>();
    m_page->setSources({[this] { return m_deleteAll; }, [this] { return m_grid.get(); }});
    m_page->Form_Load();
    m_page->show();
    return *m_page;
}

void TestDeleteSubscribers::runAndAnswer(std::initializer_list<MsgBox::Answer> answers,
                                         ScriptedMessageBoxes& boxes)
{
    for (MsgBox::Answer answer : answers)
        boxes.setNextAnswer(answer);
    child<QPushButton>("cmdDeleteSubscribers")->click();
}

QString TestDeleteSubscribers::logFrom(const QString& firstLine) const
{
    const QString log = readFile(Logging::RunLogPath());
    const int at = log.indexOf(firstLine);
    return at < 0 ? log : log.mid(at);
}

void TestDeleteSubscribers::captionsAndButtons()
{
    loadPage();
    QCOMPARE(m_page->windowTitle(), QStringLiteral("Culvane"));
    QCOMPARE(child<QLabel>("Label1")->text(), QStringLiteral("Delete Subscribers"));
    QVERIFY(child<QLabel>("lblRemoveSubscribers")
                ->text()
                .startsWith(QStringLiteral("Press the \"Delete Subscribers\"")));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdDeleteSubscribers")->text()),
             QStringLiteral("Delete Subscribers"));
    QCOMPARE(child<QGroupBox>("frmProgress")->title(), QStringLiteral("Progress"));
    QCOMPARE(child<QLabel>("lblRecordsDeleted")->text(), QStringLiteral("Subscribers Deleted:"));
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("0"));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdPrevious")->text()), QStringLiteral("<< Previous"));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdNext")->text()), QStringLiteral("Next >>"));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdExit")->text()), QStringLiteral("Exit"));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdHelp")->text()), QStringLiteral("Help"));
    QVERIFY(!child<QPushButton>("cmdNext")->isEnabled());
    QVERIFY(child<QPushButton>("cmdDeleteSubscribers")->isEnabled());
    QVERIFY(child<QPushButton>("cmdPrevious")->isEnabled());
    // Safe to run again, as a language change does.
    QVERIFY(QMetaObject::invokeMethod(m_page.get(), "frmDeleteSubscribers_Auto_Init"));
    QCOMPARE(child<QLabel>("Label1")->text(), QStringLiteral("Delete Subscribers"));
    // Its Alt letter once, not a marker per run.
    QCOMPARE(child<QPushButton>("cmdDeleteSubscribers")->text(), QStringLiteral("&Delete Subscribers"));
    child<QPushButton>("cmdExit")->click();
    QCOMPARE(m_exits, 1);
}

void TestDeleteSubscribers::declinedConfirmationsLeaveNoLog()
{
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("one")));
    addGridRow(*m_grid, QStringLiteral("one"), objectIdFor(1));
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;

    m_deleteAll = true;
    runAndAnswer({MsgBox::vbNo}, boxes);
    QCOMPARE(boxes.texts(), QStringList{confirmFull(1)});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbYesNo});
    boxes.clear();
    runAndAnswer({MsgBox::vbYes, MsgBox::vbCancel}, boxes);
    QCOMPARE(boxes.texts(), (QStringList{confirmFull(1), confirmFullAgain(1)}));
    QCOMPARE(boxes.buttons(), (QList<MsgBox::Buttons>{MsgBox::vbYesNo, MsgBox::vbOKCancel}));
    m_deleteAll = false;
    boxes.clear();
    runAndAnswer({MsgBox::vbNo}, boxes);
    QCOMPARE(boxes.texts(), QStringList{confirmOrvane(1)});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbYesNo});

    QVERIFY(!QDir(Logging::LogFolder()).exists() || QDir(Logging::LogFolder()).isEmpty());
    QCOMPARE(deletions(), 0);
    QVERIFY(sleeper.pauses().isEmpty());
    for (const char* name : {"cmdPrevious", "cmdDeleteSubscribers", "cmdExit"})
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
}

void TestDeleteSubscribers::onlyTheCheckedSecondRowOfThreeIsDeleted()
{
    for (int n = 1; n <= 3; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    m_grid->setChecked(1, false);
    m_grid->setChecked(3, false);
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbCancel}, boxes);

    QCOMPARE(deletions(), 1);
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT SubscriberObjectID FROM standin_deletions")).toString(),
             objectIdFor(2));
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM subscriber")).toString(),
             QStringLiteral("user1,user3"));
    QCOMPARE(sleeper.pauses(), QList<int>{2000});
    QCOMPARE(child<QProgressBar>("ProgressBar")->maximum(), 3);
    QCOMPARE(child<QProgressBar>("ProgressBar")->value(), 3);
    // Its value is drawn with the next events, not at once, and never left undrawn.
    QVERIFY(child<QProgressBar>("ProgressBar")->updatesEnabled());
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("1"));
    QCOMPARE(boxes.texts(), (QStringList{confirmOrvane(1), closingMessage(1, 0)}));
    QCOMPARE(boxes.buttons().constLast(), MsgBox::vbOKCancel);
    // Cancel opens nothing; one run per page.
    QVERIFY(launcher.started().isEmpty());
    QVERIFY(!child<QPushButton>("cmdPrevious")->isEnabled());
    QVERIFY(!child<QPushButton>("cmdDeleteSubscribers")->isEnabled());
    QVERIFY(child<QPushButton>("cmdExit")->isEnabled());
    QVERIFY(!Logging::RunLogIsOpen());
    QVERIFY(QFile::exists(Logging::RunLogPath()));
    QVERIFY(logFrom(QStringLiteral("**** User")).contains(QStringLiteral("    Alias=user2\r\n")));
    QVERIFY(!readFile(Logging::RunLogPath()).contains(QStringLiteral("user1")));
}

void TestDeleteSubscribers::parametersFollowModeAndVersion()
{
    struct Case {
        bool deleteAll;
        OrvaneServerVersion version;
        int forceRemove;
        QVariant eAdmin;
    };
    const Case cases[] = {{false, {5, 0, 0, 0}, 0, 1},
                          {true, {5, 0, 0, 0}, 1, 1},
                          {true, {4, 2, 9, 999}, 1, QVariant()},
                          {false, {4, 0, 2, 100}, 0, QVariant()}};
    const QRegularExpression guid(
        QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}$"));
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        m_grid->clear();
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
        OrvaneVersion::setInstalledVersion(c.version);
        m_deleteAll = c.deleteAll;
        loadPage();
        ScriptedMessageBoxes boxes;
        CountingSleeper sleeper;
        runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbCancel}, boxes);
        const QString where =
            QStringLiteral(" FROM standin_deletions WHERE SubscriberObjectID = '%1'").arg(objectIdFor(n));
        const auto column = [&](const char* name) {
            return m_standin->scalar(QStringLiteral("SELECT ") + QLatin1String(name) + where);
        };
        QCOMPARE(column("DirectorySync").toInt(), 1);
        QCOMPARE(column("DirectorySyncFlags").toLongLong(), 268435457LL);
        QCOMPARE(column("ForceRemove").toInt(), c.forceRemove);
        QCOMPARE(column("ForceRemoveEAdmin").isNull(), c.eAdmin.isNull());
        if (!c.eAdmin.isNull())
            QCOMPARE(column("ForceRemoveEAdmin").toInt(), 1);
        QCOMPARE(column("DirectoryAccountRemoved").toInt(), c.forceRemove);
        const QString ticket = column("DirectorySyncTicket").toString();
        QVERIFY2(guid.match(ticket).hasMatch(), qPrintable(ticket));
        // The wait polled for that very ticket and removed it.
        QCOMPARE(
            m_standin
                ->scalar(QStringLiteral("SELECT count(*) FROM standin_ticket_deletions WHERE Ticket = ?"),
                         {ticket})
                .toInt(),
            1);
        QVERIFY(logFrom(QStringLiteral("**** User"))
                    .startsWith(c.deleteAll
                                    ? QStringLiteral("**** User has opted to remove objects in AD and "
                                                     "Exchange for deleted subscribers ****\r\n")
                                    : QStringLiteral("**** User has opted to only remove properties from "
                                                     "objects in AD for deleted subscribers ****\r\n")));
    }
}

void TestDeleteSubscribers::logReadsSuccessSyncFailureAndTimeOut()
{
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("fine")));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(2), QStringLiteral("failing"), 5));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(3), QStringLiteral("silent"), QVariant(), true));
    addGridRow(*m_grid, QStringLiteral("fine"), objectIdFor(1));
    addGridRow(*m_grid, QStringLiteral("failing"), objectIdFor(2));
    addGridRow(*m_grid, QStringLiteral("silent"), objectIdFor(3));
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbCancel}, boxes);

    const QString expected =
        QStringLiteral(
            "\r\n\r\n**** User has opted to only remove properties from objects in AD for deleted "
            "subscribers ****\r\n"
            "** Deleting Subscriber **\r\n"
            "    Alias=fine\r\n"
            "    ObjectID=%1\r\n"
            "    Directory sync complete for subscriber\r\n"
            "** Deleting Subscriber **\r\n"
            "    Alias=failing\r\n"
            "    ObjectID=%2\r\n"
            "(error)SQL Sync to directory failed when deleting subscriber with alias= failing\r\n"
            "You can check the ZAVEvedUda logs in the \\Orvane\\logs directory for more details\r\n"
            "** Deleting Subscriber **\r\n"
            "    Alias=silent\r\n"
            "    ObjectID=%3\r\n"
            "Syncronization process failed to complete in a timely fashion.  Check the ZAVEvedUda logs in "
            "the \\Orvane\\Logs directory\r\n"
            "(error)SQL Sync to directory failed when deleting subscriber with alias= silent\r\n"
            "You can check the ZAVEvedUda logs in the \\Orvane\\logs directory for more details\r\n")
            .arg(objectIdFor(1), objectIdFor(2), objectIdFor(3));
    const QString log = readFile(Logging::RunLogPath());
    QVERIFY2(log.endsWith(expected), qPrintable(log));
    QCOMPARE(sleeper.pauses().size(), 1 + 1 + 20);
    // The time-out line itself carries no marker: two errors, one per failed subscriber.
    QCOMPARE(boxes.texts(), (QStringList{confirmOrvane(3), closingMessage(3, 2)}));
}

void TestDeleteSubscribers::aRejectedRequestLogsTheDatabasesReason()
{
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("protected")));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(2), QStringLiteral("ordinary")));
    QVERIFY(m_standin->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON standin_deletions "
                                           "WHEN NEW.Alias = 'protected' BEGIN "
                                           "SELECT RAISE(ABORT, 'subscriber is a system account'); END")));
    addGridRow(*m_grid, QStringLiteral("protected"), objectIdFor(1));
    addGridRow(*m_grid, QStringLiteral("ordinary"), objectIdFor(2));
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbCancel}, boxes);

    QVERIFY2(boxes.texts().size() == 3, qPrintable(boxes.texts().join(QStringLiteral("\n---\n"))));
    const QString report = boxes.texts().at(1);
    QVERIFY2(report.startsWith(QStringLiteral("(error):")) &&
                 report.contains(QStringLiteral("subscriber is a system account")) &&
                 report.endsWith(QStringLiteral(
                     ") in procedure cmdDeleteSubscribers_Click of Form frmDeleteSubscribers")),
             qPrintable(report));
    QCOMPARE(boxes.texts().at(2), closingMessage(2, 1));
    // No wait for a ticket that was never registered; the other subscriber goes on as usual.
    QCOMPARE(sleeper.pauses().size(), 1);
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM subscriber")).toString(),
             QStringLiteral("protected"));
    const QString log = logFrom(QStringLiteral("** Deleting"));
    const QRegularExpression line(QStringLiteral(
        "    ObjectID=\\{[^}]+\\}\r\n\\(error\\)The database refused to delete the subscriber with alias= "
        "protected: "
        "-?\\d+ \\([^\r\n]*subscriber is a system account[^\r\n]*\\)\r\n\\*\\* Deleting Subscriber"));
    QVERIFY2(line.match(log).hasMatch(), qPrintable(log));
    QVERIFY(!log.contains(QStringLiteral("Syncronization")));
    QCOMPARE(log.count(QStringLiteral("(error)")), 1);
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("2"));
}

void TestDeleteSubscribers::aDatabaseUnreadableMidRun()
{
    for (int n = 1; n <= 3; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    // The file turns unreadable during the first wait; the administrator puts it back while the report of
    // that wait is on screen.
    std::unique_ptr<UnreadableDatabase> broken;
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses == 1)
            broken = std::make_unique<UnreadableDatabase>(m_standin->databasePath());
    });
    QStringList texts;
    const MsgBox::Handler previousBoxes =
        MsgBox::setHandler([&](const QString& text, MsgBox::Buttons buttons) {
            texts.append(text);
            if (broken)
                broken->restore();
            return buttons == MsgBox::vbOKCancel && texts.size() > 1 ? MsgBox::vbCancel : MsgBox::vbYes;
        });
    child<QPushButton>("cmdDeleteSubscribers")->click();
    MsgBox::setHandler(previousBoxes);
    Clock::setSleeper(previousSleeper);

    QCOMPARE(texts.size(), 3);
    QVERIFY2(texts.at(1).startsWith(QStringLiteral("(error):")) &&
                 texts.at(1).endsWith(
                     QStringLiteral(") in procedure WaitForSyncToFinished of Module modPMSFunctions")),
             qPrintable(texts.at(1)));
    QCOMPARE(texts.at(2), closingMessage(3, 1));
    QCOMPARE(pauses, 3);
    // The first subscriber was deleted before the file went; the other two after it came back.
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt(), 0);
    const QString log = logFrom(QStringLiteral("** Deleting"));
    QVERIFY2(log.contains(QStringLiteral("Directory sync status could not be read from the database")),
             qPrintable(log));
    QCOMPARE(log.count(QStringLiteral("    Directory sync complete for subscriber")), 2);
    QCOMPARE(log.count(QStringLiteral(
                 "(error)SQL Sync to directory failed when deleting subscriber with alias= user1")),
             1);
}

void TestDeleteSubscribers::aDatabaseRemovedMidRun()
{
    for (int n = 1; n <= 5; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    const QString file = m_standin->databasePath();
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses == 1) {
            for (const char* suffix : {"", "-wal", "-shm"})
                QFile::remove(file + QLatin1String(suffix));
        }
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    // Stop at the question.
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbCancel}, boxes);
    Clock::setSleeper(previousSleeper);

    // Never a new, empty database in its place.
    QVERIFY(!QFile::exists(file));
    const QString missing = QStringLiteral("the database file %1 does not exist").arg(file);
    const QString reason = QStringLiteral("[SQLite]connect failed (%1)").arg(missing);
    // The first subscriber's wait fails; the next two requests find no connection and are not sent; then
    // the question, and the closing message says why the run ended early.
    QVERIFY2(boxes.texts().size() == 6, qPrintable(boxes.texts().join(QStringLiteral("\n---\n"))));
    QCOMPARE(boxes.texts().constFirst(), confirmOrvane(5));
    for (int i = 1; i <= 3; ++i)
        QVERIFY2(boxes.texts().at(i).startsWith(QStringLiteral("(error):")) &&
                     (boxes.texts().at(i) + boxes.details().at(i)).contains(missing),
                 qPrintable(boxes.texts().at(i) + QLatin1Char('\n') + boxes.details().at(i)));
    QCOMPARE(
        boxes.texts().at(4),
        QStringLiteral("The database could not be reached for 3 subscribers in a row (%1).  Press RETRY to "
                       "send the request for the subscriber user3 again, or STOP to end the run here; the "
                       "subscribers not yet attempted stay checked in the grid.")
            .arg(reason));
    QCOMPARE(boxes.buttons().at(4), MsgBox::vbRetryCancel);
    QCOMPARE(boxes.texts().at(5), stoppedClosingMessage(3, 3, 2, true));
    // Nothing is waited for without a request: one pause, the first subscriber's.
    QCOMPARE(pauses, 1);
    const QString log = logFrom(QStringLiteral("** Deleting"));
    QVERIFY2(log.startsWith(QStringLiteral("** Deleting Subscriber **\r\n    Alias=user1\r\n    ObjectID=") +
                            objectIdFor(1) + QStringLiteral("\r\n")),
             qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("refused")), qPrintable(log));
    for (int n : {2, 3})
        QVERIFY2(
            log.contains(QStringLiteral("    ObjectID=%1\r\n(error)The request to delete the subscriber with "
                                        "alias= user%2 was not sent: no connection to the database could "
                                        "be opened: 14 (%3).  Nothing was deleted; no directory sync "
                                        "ticket is waited for.\r\n")
                             .arg(objectIdFor(n))
                             .arg(n)
                             .arg(reason)),
            qPrintable(log));
    QVERIFY2(!log.contains(DeletionRun::syncFailedLine(QStringLiteral("user2"))), qPrintable(log));
    QVERIFY2(
        log.endsWith(QStringLiteral("**** Run stopped after 3 of 5 subscribers, at the subscriber with "
                                    "alias= user3: the database could not be reached for 3 subscribers in "
                                    "a row (%1) ****\r\n")
                         .arg(reason)),
        qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("Alias=user4")), qPrintable(log));
    const QStringList results = readFile(resultsBesideTheLog()).split(QStringLiteral("\r\n"));
    QCOMPARE(results.size(), 1 + 5 + 1);
    QVERIFY2(results.at(1).contains(QStringLiteral(",sync failed,")), qPrintable(results.at(1)));
    for (int row : {2, 3})
        QVERIFY2(results.at(row).startsWith(
                     QStringLiteral("user%1,%2,100,not sent,%3,,").arg(row).arg(objectIdFor(row), reason)),
                 qPrintable(results.at(row)));
    for (int row : {4, 5})
        QCOMPARE(results.at(row),
                 QStringLiteral("user%1,%2,100,not attempted,,,,").arg(row).arg(objectIdFor(row)));
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("3"));
    QVERIFY(child<QPushButton>("cmdExit")->isEnabled());
}

void TestDeleteSubscribers::retryAfterTheDatabaseCameBack()
{
    for (int n = 1; n <= 4; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    // The server out of reach from the first wait on: the connection text names a database that is not
    // there, which the driver cannot open.
    QString& connection = modOrvaneDB::DbConnectionString();
    const QString gone = QStringLiteral("Driver={SQL Server};server=;database=") + m_standin->folder() +
                         QStringLiteral("/gone/OrvaneDb");
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses == 1)
            connection = gone;
    });
    // The person answers Retry twice: once while it is still gone, once after it came back.
    QStringList texts;
    QList<MsgBox::Buttons> kinds;
    int questions = 0;
    const MsgBox::Handler previousBoxes =
        MsgBox::setHandler([&](const QString& text, MsgBox::Buttons buttons, const QString&) {
            texts.append(text);
            kinds.append(buttons);
            if (buttons == MsgBox::vbYesNo)
                return MsgBox::vbYes;
            if (buttons != MsgBox::vbRetryCancel)
                return MsgBox::vbCancel;
            if (++questions == 2)
                connection = kConnection;
            return MsgBox::vbRetry;
        });
    RecordingLauncher launcher;
    child<QPushButton>("cmdDeleteSubscribers")->click();
    MsgBox::setHandler(previousBoxes);
    Clock::setSleeper(previousSleeper);
    connection = kConnection;

    QCOMPARE(questions, 2);
    // user1's wait, user2, user3 and user3 again: each a report; two questions, the closing message.
    QCOMPARE(kinds.count(MsgBox::vbRetryCancel), 2);
    QCOMPARE(texts.size(), 1 + 4 + 2 + 1);
    QVERIFY2(texts.at(4).contains(QStringLiteral("the subscriber user3 again")), qPrintable(texts.at(4)));
    // Not a stopped run: every subscriber had its turn. Each failed attempt is one error.
    QCOMPARE(texts.constLast(), closingMessage(4, 4));
    QCOMPARE(
        m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
        QStringLiteral("user1,user3,user4"));
    const QString log = logFrom(QStringLiteral("** Deleting"));
    QCOMPARE(log.count(QStringLiteral("alias= user3 was not sent")), 2);
    QVERIFY2(log.contains(QStringLiteral("    Alias=user3\r\n    ObjectID=%1\r\n    Directory sync complete")
                              .arg(objectIdFor(3))),
             qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("**** Run stopped")), qPrintable(log));
    // One row for each subscriber, the retried one with the outcome of its last attempt.
    const QStringList results = readFile(resultsBesideTheLog()).split(QStringLiteral("\r\n"));
    QCOMPARE(results.size(), 1 + 4 + 1);
    QVERIFY2(results.at(1).contains(QStringLiteral(",sync failed,")), qPrintable(results.at(1)));
    QVERIFY2(results.at(2).contains(QStringLiteral(",not sent,")), qPrintable(results.at(2)));
    QVERIFY2(results.at(3).startsWith(QStringLiteral("user3,%1,100,deleted,,{").arg(objectIdFor(3))),
             qPrintable(results.at(3)));
    QVERIFY2(results.at(4).contains(QStringLiteral(",deleted,")), qPrintable(results.at(4)));
    QCOMPARE(pauses, 3);
}

void TestDeleteSubscribers::aDatabaseLockedMidRun()
{
    DbConnection::setTimeoutsForTests({1, 2});
    for (int n = 1; n <= 3; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    // During the first wait another process takes the file for itself and keeps it.
    QProcess holder;
    holder.setProcessChannelMode(QProcess::MergedChannels);
    const QString marker = m_standin->folder() + QStringLiteral("/holding");
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses != 1)
            return;
        holder.start(QStringLiteral("sqlite3"), {m_standin->databasePath()});
        holder.waitForStarted();
        holder.write("BEGIN EXCLUSIVE;\nUPDATE subscriber SET Alias=Alias;\n");
        holder.write(".system touch " + QFile::encodeName(marker) + "\n");
        holder.waitForBytesWritten(5000);
        QElapsedTimer waiting;
        waiting.start();
        while (!QFile::exists(marker) && waiting.elapsed() < 20000)
            holder.waitForReadyRead(20);
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    QElapsedTimer timer;
    timer.start();
    child<QPushButton>("cmdDeleteSubscribers")->click();
    const qint64 elapsed = timer.elapsed();
    Clock::setSleeper(previousSleeper);
    holder.write(".quit\n");
    holder.closeWriteChannel();
    if (!holder.waitForFinished(5000))
        holder.kill();
    DbConnection::setTimeoutsForTests(DbTimeouts());
    QVERIFY2(QFile::exists(marker), holder.readAll().constData());

    // Bounded by the command timeout, not the driver's own wait of minutes.
    QVERIFY2(elapsed < 30000, qPrintable(QString::number(elapsed)));
    QCOMPARE(boxes.texts().constFirst(), confirmOrvane(3));
    // The first subscriber's request went in before the lock (only the removal of its ticket fails). The
    // two after it ran out of time: whether the database carried them out is unknown, so their tickets are
    // waited for (reading, which the lock allows) until the wait gives up: one error each, the request's.
    // The database answered every poll, so it was never out of reach.
    QVERIFY2(boxes.texts().size() == 5, qPrintable(boxes.texts().join(QStringLiteral("\n---\n"))));
    QCOMPARE(boxes.texts().constLast(), closingMessage(3, 2));
    for (int i = 1; i + 1 < boxes.texts().size(); ++i)
        QVERIFY2((boxes.texts().at(i) + boxes.details().at(i)).contains(QStringLiteral("database is locked")),
                 qPrintable(boxes.texts().at(i) + QLatin1Char('\n') + boxes.details().at(i)));
    QCOMPARE(pauses, 1 + 20 + 20);
    const QString log = logFrom(QStringLiteral("** Deleting"));
    QVERIFY2(log.startsWith(QStringLiteral("** Deleting Subscriber **\r\n    Alias=user1\r\n")),
             qPrintable(log));
    QCOMPARE(log.count(QStringLiteral("database is locked")), 2);
    QVERIFY2(!log.contains(QStringLiteral("refused")), qPrintable(log));
    const QRegularExpression failed(QStringLiteral(
        "    ObjectID=\\{[^}]+\\}\r\n\\(error\\)The request to delete the subscriber with alias= user2 "
        "failed: 5 \\(\\[SQLite\\]database is locked \\(5\\)\\)\\.  The database may have carried it out "
        "all the same, so its directory sync ticket is waited for\\.\r\n"
        "Syncronization process failed to complete in a timely fashion\\.[^\r\n]*\r\n"
        "SQL Sync to directory failed when deleting subscriber with alias= user2\r\n"));
    QVERIFY2(failed.match(log).hasMatch(), qPrintable(log));
    QVERIFY(log.contains(DeletionRun::SyncCompleteLine));
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM subscriber")).toString(),
             QStringLiteral("user2,user3"));
    const QStringList results = readFile(resultsBesideTheLog()).split(QStringLiteral("\r\n"));
    QCOMPARE(results.size(), 5);
    QVERIFY2(results.at(1).contains(QStringLiteral(",deleted,")), qPrintable(results.at(1)));
    for (int row : {2, 3})
        QVERIFY2(results.at(row).contains(
                     QStringLiteral(",request failed,[SQLite]database is locked (5); then sync timed out,")),
                 qPrintable(results.at(row)));
}

void TestDeleteSubscribers::aFullDiskMidRunKeepsTheLinesWritten()
{
    for (int n = 1; n <= 2; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    // During the first wait the disk fills: from then on every write of the log's file fails with ENOSPC.
    QString before;
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses != 1)
            return;
        before = readFile(Logging::RunLogPath());
        fillTheDiskUnder(Logging::RunLogPath());
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    child<QPushButton>("cmdDeleteSubscribers")->click();
    Clock::setSleeper(previousSleeper);

    QVERIFY(before.contains(QStringLiteral("    Alias=user1\r\n")));
    QCOMPARE(readFile(Logging::RunLogPath()), before);
    // Both subscribers went, and the closing message still counts right.
    QCOMPARE(deletions(), 2);
    QCOMPARE(boxes.texts().size(), 3);
    QCOMPARE(boxes.texts().at(1),
             QStringLiteral("The run log %1 is incomplete: a line could not be written (%2).  "
                            "The lines before it are in the file.")
                 .arg(Logging::RunLogPath(), Logging::RunLogWriteFailure()));
    QVERIFY2(Logging::RunLogWriteFailure().contains(QStringLiteral("No space left on device")),
             qPrintable(Logging::RunLogWriteFailure()));
    QCOMPARE(boxes.texts().at(2), closingMessage(2, 0));
    // A new run starts with a clean slate.
    Logging::OpenRunLog(Logging::GenerateNewLogFileName(), false);
    QVERIFY(Logging::RunLogWriteFailure().isEmpty());
    Logging::CloseRunLog();
}

void TestDeleteSubscribers::aFullDiskUnderTheResultsFileIsSaid()
{
    for (int n = 1; n <= 2; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses == 1)
            fillTheDiskUnder(resultsBesideTheLog());
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbCancel}, boxes);
    Clock::setSleeper(previousSleeper);

    QCOMPARE(deletions(), 2);
    QVERIFY2(boxes.texts().size() == 3, qPrintable(boxes.texts().join(QStringLiteral("\n---\n"))));
    QVERIFY2(
        boxes.texts().at(1).startsWith(QStringLiteral("The results file %1 is incomplete: a row could not "
                                                      "be written (")
                                           .arg(resultsBesideTheLog())) &&
            boxes.texts().at(1).endsWith(QStringLiteral(").  The run log records every subscriber.")) &&
            boxes.texts().at(1).contains(QStringLiteral("No space left on device")),
        qPrintable(boxes.texts().at(1)));
    QCOMPARE(boxes.texts().at(2), closingMessage(2, 0));
    // The log has both subscribers, and the results file its heading alone.
    QCOMPARE(readFile(Logging::RunLogPath()).count(DeletionRun::SyncCompleteLine), 2);
    QCOMPARE(readFile(resultsBesideTheLog()).count(QStringLiteral("\r\n")), 1);
}

void TestDeleteSubscribers::rowsBeyond32767AreWalked()
{
    const qint32 rows = 32770;
    m_grid->setRedraw(false);
    for (qint32 row = 1; row <= rows; ++row) {
        const bool real = row > 32767;
        addGridRow(*m_grid, QStringLiteral("user%1").arg(row),
                   real ? objectIdFor(row) : QStringLiteral("{X}"));
        if (!real)
            m_grid->setChecked(row, false);
        else
            QVERIFY(addSubscriber(*m_standin, objectIdFor(row), QStringLiteral("user%1").arg(row)));
    }
    m_grid->setRedraw(true);
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbCancel}, boxes);
    QCOMPARE(boxes.texts(), (QStringList{confirmOrvane(3), closingMessage(3, 0)}));
    QCOMPARE(deletions(), 3);
    QCOMPARE(
        m_standin->scalar(QStringLiteral("SELECT min(SubscriberObjectID) FROM standin_deletions")).toString(),
        objectIdFor(32768));
    QCOMPARE(child<QProgressBar>("ProgressBar")->maximum(), rows);
    QCOMPARE(child<QProgressBar>("ProgressBar")->value(), rows);
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("3"));
}

void TestDeleteSubscribers::aRunLogThatCannotBeCreatedDeletesNothing()
{
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("one")));
    addGridRow(*m_grid, QStringLiteral("one"), objectIdFor(1));
    // The log folder would have to be made inside a plain file.
    const QString blocker = m_program->filePath(QStringLiteral("not a folder"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    Logging::setLogFolder(blocker + QStringLiteral("/logs"));
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes}, boxes);

    QCOMPARE(deletions(), 0);
    QVERIFY(sleeper.pauses().isEmpty());
    QVERIFY(launcher.started().isEmpty());
    // The log module reports the folder it could not make; then one message tells what it means.
    const QStringList told = boxes.texts().filter(QStringLiteral("No subscriber was deleted"));
    QCOMPARE(told.size(), 1);
    QCOMPARE(boxes.texts().constLast(), told.constFirst());
    QVERIFY2(told.constFirst().contains(Logging::LogFolder()), qPrintable(told.constFirst()));
    QCOMPARE(boxes.buttons().constLast(), MsgBox::vbOKOnly);
    QVERIFY(!boxes.texts().contains(closingMessage(0, 0)));
    for (const char* name : {"cmdPrevious", "cmdDeleteSubscribers", "cmdExit"})
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("0"));
}

void TestDeleteSubscribers::theLogOpensWithItsPathAsOneArgument()
{
    QTemporaryDir top;
    const QString folder = top.filePath(QStringLiteral("Program Files/Culvane tool"));
    QVERIFY(QDir().mkpath(folder));
    modLocalize::setProgramLocation(folder, QStringLiteral("Culvane"));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("one")));
    addGridRow(*m_grid, QStringLiteral("one"), objectIdFor(1));
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK}, boxes);

    QCOMPARE(launcher.started().size(), 1);
    const QStringList started = launcher.started().constFirst();
    QCOMPARE(started.size(), 2);
    QCOMPARE(started.at(0), frmDeleteSubscribers::TextViewer);
    QCOMPARE(started.at(1), Logging::RunLogPath());
    QVERIFY(started.at(1).contains(QStringLiteral("Program Files/Culvane tool")));
    QVERIFY(QFileInfo(started.at(1)).isFile());
    QVERIFY(child<QPushButton>("cmdExit")->isEnabled());
}

void TestDeleteSubscribers::pageFlowAcrossTheThreePages()
{
    for (int n = 1; n <= 2; ++n)
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
    RegFile reg;
    reg.currentVersion(5, 0, 1, 33);
    reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\PBX East"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("East"))
        .dword(QStringLiteral("IntegrationID"), 2);
    reg.save();
    ScriptedMessageBoxes boxes;
    frmMain first;
    first.Form_Load();
    // At the left edge, where the wider later pages fit on the test's screen without being moved.
    first.move(0, 80);
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    const QPoint where = first.pos();
    const auto button = [](QWidget* page, const char* name) {
        return page->findChild<QPushButton*>(QString::fromLatin1(name));
    };

    frmDeleteSubscribers* deletion = nullptr;
    for (int visit = 1; visit <= 2; ++visit) {
        button(&first, "cmdNext")->click();
        frmChooseSubscribers* choose = first.chooseSubscribersPage();
        QVERIFY(choose && choose->isVisible());
        addGridRow(choose->grid(), QStringLiteral("user%1").arg(visit), objectIdFor(visit));
        button(choose, "cmdNext")->click();
        QVERIFY(first.deleteSubscribersPage());
        // Loaded once, kept loaded while the selection page comes and goes.
        if (deletion)
            QCOMPARE(first.deleteSubscribersPage(), deletion);
        deletion = first.deleteSubscribersPage();
        QVERIFY(deletion->isVisible());
        QVERIFY(!choose->isVisible());
        QCOMPARE(deletion->pos(), where);
        QVERIFY(button(choose, "cmdNext")->isEnabled());

        button(deletion, "cmdPrevious")->click();
        QVERIFY(choose->isVisible());
        QVERIFY(!deletion->isVisible());
        QCOMPARE(choose->pos(), where);
        QCOMPARE(choose->grid().Rows(), 2);
        if (visit == 2)
            break;
        QPointer<frmChooseSubscribers> watch(choose);
        button(choose, "cmdPrevious")->click();
        QVERIFY(first.isVisible());
        QCOMPARE(first.pos(), where);
        QTRY_VERIFY(watch.isNull());
        QCOMPARE(first.deleteSubscribersPage(), deletion);
    }
    QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join(QStringLiteral("\n---\n"))));

    // The kept page reads the rebuilt selection page's grid: only the second visit's row goes.
    button(first.chooseSubscribersPage(), "cmdNext")->click();
    CountingSleeper sleeper;
    boxes.setNextAnswer(MsgBox::vbYes);
    boxes.setNextAnswer(MsgBox::vbCancel);
    button(deletion, "cmdDeleteSubscribers")->click();
    QCOMPARE(
        m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
        QStringLiteral("user2"));
    modOrvaneDB::CloseSharedLists();
}

bool TestDeleteSubscribers::takeNamesForTheNextSeconds(const QString& prefix, const QString& suffix,
                                                       bool asFolders)
{
    QDir folder(Logging::LogFolder());
    if (!folder.mkpath(QStringLiteral(".")))
        return false;
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < 6; ++second) {
        const QString name =
            prefix + now.addSecs(second).toString(QStringLiteral("yyyyMMdd_HH_mm_ss")) + suffix;
        if (asFolders) {
            if (!folder.mkdir(name))
                return false;
            continue;
        }
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

void TestDeleteSubscribers::resultsFileHasARowPerCheckedSubscriber()
{
    const QString quoted = QStringLiteral("o\"neil, pat");
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("fine")));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(2), QStringLiteral("failing"), 5));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(3), QStringLiteral("protected")));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(4), QStringLiteral("skipped")));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(5), QStringLiteral("silent"), QVariant(), true));
    QVERIFY(addSubscriber(*m_standin, objectIdFor(6), quoted));
    QVERIFY(m_standin->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON standin_deletions "
                                           "WHEN NEW.Alias = 'protected' BEGIN "
                                           "SELECT RAISE(ABORT, 'subscriber is a system account'); END")));
    addGridRow(*m_grid, QStringLiteral("fine"), objectIdFor(1), QStringLiteral("2001"));
    addGridRow(*m_grid, QStringLiteral("failing"), objectIdFor(2), QStringLiteral("2002"));
    addGridRow(*m_grid, QStringLiteral("protected"), objectIdFor(3), QStringLiteral("2003"));
    addGridRow(*m_grid, QStringLiteral("skipped"), objectIdFor(4), QStringLiteral("2004"));
    addGridRow(*m_grid, QStringLiteral("silent"), objectIdFor(5), QStringLiteral("2005"));
    addGridRow(*m_grid, quoted, objectIdFor(6), QString());
    m_grid->setChecked(4, false);
    // An earlier log holds this second's name: the run's log gets "_2", and its results file with it.
    QVERIFY(takeNamesForTheNextSeconds(QStringLiteral("Culvane_Log_"), QStringLiteral(".TXT"), false));
    loadPage();
    QVERIFY(!child<QPushButton>("cmdStop")->isVisibleTo(m_page.get()));
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbCancel}, boxes);

    // Messages and log as without the results file.
    QCOMPARE(boxes.texts().size(), 3);
    QVERIFY(boxes.texts().at(1).endsWith(
        QStringLiteral(") in procedure cmdDeleteSubscribers_Click of Form frmDeleteSubscribers")));
    QCOMPARE(boxes.texts().constLast(), closingMessage(5, 3));
    const QString log = readFile(Logging::RunLogPath());
    QVERIFY(!log.contains(QStringLiteral("stopped")));
    QVERIFY(!log.contains(QStringLiteral("Culvane_Results")));
    QVERIFY(!child<QPushButton>("cmdStop")->isVisibleTo(m_page.get()));

    QVERIFY2(Logging::RunLogPath().endsWith(QStringLiteral("_2.TXT")), qPrintable(Logging::RunLogPath()));
    const QString resultsPath = resultsBesideTheLog();
    QVERIFY(resultsPath.endsWith(QStringLiteral("_2.csv")));
    QFile results(resultsPath);
    QVERIFY2(results.open(QIODevice::ReadOnly), qPrintable(resultsPath));
    const QByteArray bytes = results.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes.mid(3));

    // Ticket, Started and Finished end every line; they are checked here and then stood in for.
    const QRegularExpression tail(QStringLiteral(",([^,\r\n]*),([^,\r\n]*),([^,\r\n]*)\r\n"));
    const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"));
    QString normalised;
    QDateTime previous;
    int from = 0;
    int line = 0;
    for (auto it = tail.globalMatch(text); it.hasNext(); ++line) {
        const QRegularExpressionMatch match = it.next();
        normalised += text.mid(from, match.capturedStart() - from);
        from = match.capturedEnd();
        if (line == 0) {
            normalised += match.captured(0);
            continue;
        }
        const QString objectId = objectIdFor(line < 4 ? line : line + 1);
        // The ticket sent with the request; the refused request left no record of its own.
        if (line == 3)
            QVERIFY(QRegularExpression(QStringLiteral("^\\{[0-9A-F-]{36}\\}$"))
                        .match(match.captured(1))
                        .hasMatch());
        else
            QCOMPARE(match.captured(1), ticketOf(objectId));
        for (int at : {2, 3}) {
            QVERIFY2(iso.match(match.captured(at)).hasMatch(), qPrintable(match.captured(at)));
            const QDateTime moment = QDateTime::fromString(match.captured(at), Qt::ISODate);
            QVERIFY(moment.isValid());
            QVERIFY(!previous.isValid() || previous <= moment);
            previous = moment;
        }
        normalised += QStringLiteral(",<ticket>,<time>,<time>\r\n");
    }
    normalised += text.mid(from);
    const QString expected =
        QStringLiteral("Alias,ObjectID,Extension,Outcome,Detail,Ticket,Started,Finished\r\n"
                       "fine,%1,2001,deleted,,<ticket>,<time>,<time>\r\n"
                       "failing,%2,2002,sync failed,5,<ticket>,<time>,<time>\r\n"
                       "protected,%3,2003,rejected,[SQLite]subscriber is a system account "
                       "(19),<ticket>,<time>,<time>\r\n"
                       "silent,%4,2005,sync timed out,,<ticket>,<time>,<time>\r\n"
                       "\"o\"\"neil, pat\",%5,,deleted,,<ticket>,<time>,<time>\r\n")
            .arg(objectIdFor(1), objectIdFor(2), objectIdFor(3), objectIdFor(5), objectIdFor(6));
    QCOMPARE(normalised, expected);
}

void TestDeleteSubscribers::stopDuringTheSecondOfFour()
{
    for (int n = 1; n <= 4; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n), QStringLiteral("30%1").arg(n));
    }
    // An unchecked row among those left: walked for the count, left out of it and of the results.
    addGridRow(*m_grid, QStringLiteral("unchecked"), objectIdFor(9));
    m_grid->setChecked(5, false);
    QVERIFY(addSubscriber(*m_standin, objectIdFor(5), QStringLiteral("user5")));
    addGridRow(*m_grid, QStringLiteral("user5"), objectIdFor(5));
    loadPage();
    QPushButton* stop = child<QPushButton>("cmdStop");
    QCOMPARE(Keyboard::shownText(stop->text()), QStringLiteral("Stop"));
    QVERIFY(!stop->isVisibleTo(m_page.get()));

    // The person presses Stop while the second subscriber's wait pauses.
    int pauses = 0;
    bool visibleDuringTheRun = false;
    bool closedDuringTheRun = true;
    QLabel* stopping = child<QLabel>("lblStopping");
    bool stoppingShownBeforeTheClick = true;
    bool stoppingShownAtOnce = false;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        // Closing the window part-way through is refused: Stop is the way out.
        if (++pauses == 1)
            closedDuringTheRun = m_page->close();
        if (pauses != 2)
            return;
        visibleDuringTheRun = stop->isVisible() && stop->isEnabled();
        stoppingShownBeforeTheClick = stopping->isVisible();
        stop->click();
        // Said while the current subscriber's wait still has its time to run.
        stoppingShownAtOnce = stopping->isVisible();
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbOK}, boxes);
    Clock::setSleeper(previousSleeper);

    QVERIFY(visibleDuringTheRun);
    QVERIFY(!closedDuringTheRun);
    QVERIFY(!stoppingShownBeforeTheClick);
    QVERIFY(stoppingShownAtOnce);
    QCOMPARE(stopping->text(), QStringLiteral("Stopping: the run ends once the current subscriber is done."));
    QVERIFY(!stopping->isVisible());
    QCOMPARE(child<QLabel>("lblTimeLeft")->text(), QString());
    QCOMPARE(pauses, 2);
    // The second one's wait ran to its end; the others were not touched.
    QCOMPARE(
        m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
        QStringLiteral("user1,user2"));
    // The refused close says why.
    QCOMPARE(boxes.texts(),
             (QStringList{confirmOrvane(5),
                          QStringLiteral("A deletion run is in progress, and closing the page would end the "
                                         "program part-way through a subscriber.  Click Stop to end the run; "
                                         "the page can be closed once it has ended."),
                          stoppedClosingMessage(2, 0, 3)}));
    QCOMPARE(m_exits, 0);
    QCOMPARE(launcher.started().size(), 1);
    QVERIFY(!Logging::RunLogIsOpen());
    const QString expectedLog =
        QStringLiteral("** Deleting Subscriber **\r\n"
                       "    Alias=user2\r\n"
                       "    ObjectID=%1\r\n"
                       "    Directory sync complete for subscriber\r\n"
                       "**** Run stopped by the user after 2 of 5 subscribers ****\r\n")
            .arg(objectIdFor(2));
    QCOMPARE(logFrom(QStringLiteral("** Deleting Subscriber **\r\n    Alias=user2")), expectedLog);
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("2"));
    QCOMPARE(child<QProgressBar>("ProgressBar")->value(), 2);
    for (qint32 row = 1; row <= 6; ++row)
        QCOMPARE(m_grid->isChecked(row), row != 5);
    QVERIFY(!stop->isVisibleTo(m_page.get()));
    QVERIFY(!child<QPushButton>("cmdDeleteSubscribers")->isEnabled());
    QVERIFY(!child<QPushButton>("cmdPrevious")->isEnabled());
    QVERIFY(child<QPushButton>("cmdExit")->isEnabled());

    const QStringList lines = readFile(resultsBesideTheLog()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 1 + 5 + 1);
    QVERIFY(lines.at(2).startsWith(QStringLiteral("user2,%1,302,deleted,,{").arg(objectIdFor(2))));
    QCOMPARE(lines.at(3), QStringLiteral("user3,%1,303,not attempted,,,,").arg(objectIdFor(3)));
    QCOMPARE(lines.at(4), QStringLiteral("user4,%1,304,not attempted,,,,").arg(objectIdFor(4)));
    QCOMPARE(lines.at(5), QStringLiteral("user5,%1,100,not attempted,,,,").arg(objectIdFor(5)));
    QCOMPARE(lines.at(6), QString());
    // After the run the window's close box ends the program, as "Exit" does.
    QVERIFY(m_page->close());
    QCOMPARE(m_exits, 1);
}

void TestDeleteSubscribers::resultsFileTimesAreLocalWithTheirOffset()
{
    const QByteArray previous = qgetenv("TZ");
    const auto restore = qScopeGuard([&previous] {
        if (previous.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", previous);
        tzset();
    });
    const QDateTime moment(QDate(2009, 3, 3), QTime(6, 5, 9), Qt::UTC);
    // POSIX zones without summer time: UTC itself, an hour east, and three and a half hours west.
    const QList<std::pair<QByteArray, QString>> zones{
        {"UTC0", QStringLiteral("2009-03-03T06:05:09+00:00")},
        {"CET-1", QStringLiteral("2009-03-03T07:05:09+01:00")},
        {"NST3:30", QStringLiteral("2009-03-03T02:35:09-03:30")}};
    for (const auto& [zone, expected] : zones) {
        qputenv("TZ", zone);
        tzset();
        QCOMPARE(RunResultsFile::isoLocal(moment), expected);
    }
    // Midnight and the single digits of an early year keep their places.
    qputenv("TZ", "UTC0");
    tzset();
    QCOMPARE(RunResultsFile::isoLocal(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), Qt::UTC)),
             QStringLiteral("1999-12-31T23:59:59+00:00"));
    QCOMPARE(RunResultsFile::isoLocal(QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC)),
             QStringLiteral("2030-01-01T00:00:00+00:00"));
    QCOMPARE(RunResultsFile::isoLocal(QDateTime()), QString());
}

void TestDeleteSubscribers::aResultsFileThatCannotBeCreatedLeavesTheRunAlone()
{
    QVERIFY(addSubscriber(*m_standin, objectIdFor(1), QStringLiteral("one")));
    addGridRow(*m_grid, QStringLiteral("one"), objectIdFor(1));
    // Folders stand where the results file of this second (or the next few) would go.
    QVERIFY(takeNamesForTheNextSeconds(QStringLiteral("Culvane_Results_"), QStringLiteral(".csv"), true));
    loadPage();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbCancel}, boxes);

    QCOMPARE(boxes.texts().size(), 3);
    QVERIFY2(boxes.texts().at(1).startsWith(QStringLiteral("The results file ")) &&
                 boxes.texts().at(1).contains(QStringLiteral("Culvane_Results_")) &&
                 boxes.texts().at(1).contains(QStringLiteral("The deletion goes on")),
             qPrintable(boxes.texts().at(1)));
    QCOMPARE(boxes.buttons().at(1), MsgBox::vbOKOnly);
    QCOMPARE(boxes.texts().at(2), closingMessage(1, 0));
    QCOMPARE(deletions(), 1);
    QVERIFY(logFrom(QStringLiteral("** Deleting"))
                .endsWith(QStringLiteral("    Directory sync complete for subscriber\r\n")));
    QVERIFY(QFileInfo(Logging::RunLogPath()).isFile());
}

void TestDeleteSubscribers::stopCaptionFollowsTheLanguage()
{
    for (const char* code : {"DEU", "JPN"}) {
        const QString name = QStringLiteral("Culvane_%1.dll").arg(QLatin1String(code));
        const QString library = QStringLiteral(CULVANE_BIN_DIR "/") + name;
        if (!QFileInfo::exists(library))
            QSKIP("the language libraries are not built here");
        QVERIFY(QFile::copy(library, m_program->filePath(name)));
    }
    loadPage();
    QPushButton* stop = child<QPushButton>("cmdStop");
    QCOMPARE(Keyboard::shownText(stop->text()), QStringLiteral("Stop"));
    ScriptedMessageBoxes boxes;
    const struct {
        int langId;
        QString text;
    } languages[] = {{1031, QStringLiteral("Anhalten")},
                     {1041, QString::fromUtf8("\xE5\x81\x9C\xE6\xAD\xA2")}};
    for (const auto& language : languages) {
        modLocalize::setCurrentLangID(language.langId);
        modLocalize::InitalizeLanguages();
        QVERIFY(modLocalize::languageLibraryLoaded());
        QVERIFY(QMetaObject::invokeMethod(m_page.get(), "frmDeleteSubscribers_Auto_Init"));
        QCOMPARE(Keyboard::shownText(stop->text()), language.text);
        // The same font as its neighbour, which the caption routine has always reached.
        QCOMPARE(stop->font().families(), child<QPushButton>("cmdDeleteSubscribers")->font().families());
        if (language.langId == 1041)
            QCOMPARE(stop->font().families().value(0), modLocalize::languageFontFamilies(1041).value(0));
    }
    QVERIFY(!stop->isVisibleTo(m_page.get()));
    QVERIFY(boxes.texts().isEmpty());
    modLocalize::resetLocalisation();
}

void TestDeleteSubscribers::failureMessagesFollowTheLanguage()
{
    const QString library = QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll");
    if (!QFileInfo::exists(library))
        QSKIP("the language libraries are not built here");
    QVERIFY(QFile::copy(library, m_program->filePath(QStringLiteral("Culvane_DEU.dll"))));
    modLocalize::setCurrentLangID(1031);
    modLocalize::InitalizeLanguages();
    QVERIFY(modLocalize::languageLibraryLoaded());
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    const auto oneRun = [&](int n, std::initializer_list<MsgBox::Answer> answers) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        m_grid->clear();
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
        loadPage();
        boxes.clear();
        runAndAnswer(answers, boxes);
    };

    // No program to show the log with.
    const Launcher::Handler previousLauncher =
        Launcher::setHandler([](const QString&, const QStringList&) { return false; });
    oneRun(1, {MsgBox::vbYes, MsgBox::vbOK});
    Launcher::setHandler(previousLauncher);
    QCOMPARE(boxes.texts().size(), 3);
    QCOMPARE(
        boxes.texts().constLast(),
        QStringLiteral(u"Es konnte kein Textanzeigeprogramm gestartet werden, um das Ausführungsprotokoll "
                       u"%1 anzuzeigen.")
            .arg(Logging::RunLogPath()));

    // The disk fills during the run.
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        if (++pauses == 1)
            fillTheDiskUnder(Logging::RunLogPath());
    });
    oneRun(2, {MsgBox::vbYes, MsgBox::vbCancel});
    Clock::setSleeper(previousSleeper);
    QCOMPARE(boxes.texts().size(), 3);
    QCOMPARE(
        boxes.texts().at(1),
        QStringLiteral(u"Das Ausführungsprotokoll %1 ist unvollständig: Eine Zeile konnte nicht geschrieben "
                       u"werden (%2).  Die Zeilen davor stehen in der Datei.")
            .arg(Logging::RunLogPath(), Logging::RunLogWriteFailure()));

    // No log can be made.
    const QString blocker = m_program->filePath(QStringLiteral("not a folder"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    Logging::setLogFolder(blocker + QStringLiteral("/logs"));
    oneRun(3, {MsgBox::vbYes});
    const QString told = boxes.texts().constLast();
    QVERIFY2(told.startsWith(QStringLiteral(u"Das Ausführungsprotokoll ") + Logging::LogFolder()) &&
                 told.contains(QStringLiteral(u" konnte nicht angelegt werden (")) &&
                 told.endsWith(QStringLiteral(u").  Es wurde kein Teilnehmer gelöscht.")),
             qPrintable(told));
    QCOMPARE(deletions(), 2);
    modLocalize::resetLocalisation();
}

void TestDeleteSubscribers::theRegistryFileChangedOrRemovedWhileRunning()
{
    for (int n = 1; n <= 2; ++n)
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
    RegFile reg;
    reg.currentVersion(5, 0, 1, 33);
    reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\PBX East"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("East"))
        .dword(QStringLiteral("IntegrationID"), 2);
    reg.save();
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    RecordingLauncher launcher;
    frmMain first;
    first.Form_Load();
    first.show();
    const auto button = [](QWidget* page, const char* name) {
        return page->findChild<QPushButton*>(QString::fromLatin1(name));
    };

    // The server's facts are read at start-up only: what the file says later changes nothing, and its
    // going away breaks nothing. Each showing of the selection page rebuilds its lists.
    frmChooseSubscribers* choose = nullptr;
    for (int visit = 1; visit <= 2; ++visit) {
        if (visit == 1) {
            QFile file(reg.path());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velcor\\CurrentVersion]\r\n"
                       "\"Major\"=dword:00000003\r\n");
        } else {
            QPointer<frmChooseSubscribers> watch(choose);
            button(choose, "cmdPrevious")->click();
            QTRY_VERIFY(watch.isNull());
            QVERIFY(QFile::remove(reg.path()));
        }
        button(&first, "cmdNext")->click();
        choose = first.chooseSubscribersPage();
        QVERIFY(choose && choose->isVisible());
        auto* switches = choose->findChild<QComboBox*>(QStringLiteral("comSubscriberSwitch"));
        QVERIFY(switches);
        QVERIFY(switches->findText(QStringLiteral("East")) >= 0);
    }
    addGridRow(choose->grid(), QStringLiteral("user1"), objectIdFor(1));
    button(choose, "cmdNext")->click();
    frmDeleteSubscribers* deletion = first.deleteSubscribersPage();
    QVERIFY(deletion && deletion->isVisible());
    boxes.setNextAnswer(MsgBox::vbYes);
    boxes.setNextAnswer(MsgBox::vbCancel);
    button(deletion, "cmdDeleteSubscribers")->click();
    QCOMPARE(boxes.texts(), (QStringList{confirmOrvane(1), closingMessage(1, 0)}));
    // Still the version of start-up: from 5.0 on ForceRemoveEAdmin is set.
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT ForceRemoveEAdmin FROM standin_deletions")).toInt(), 1);
    QVERIFY(first.findChild<QRadioButton*>(QStringLiteral("optSubscriberDeleteAll"))->isEnabled());
    modOrvaneDB::CloseSharedLists();
}

void TestDeleteSubscribers::theRunShowsItsSubscriberTimesAndLog()
{
    for (int n = 1; n <= 3; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n)));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    QCOMPARE(Keyboard::shownText(child<QLabel>("lblRunLog")->text()), QStringLiteral("Run log:"));
    // Time goes on only with the run's pauses: each subscriber costs one pause of 2 s.
    qint64 now = 500000;
    const Clock::Monotonic previousClock = Clock::setMonotonic([&] { return now; });
    struct Seen {
        QString inProgress, elapsed, timeLeft;
    };
    QList<Seen> seen;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int milliseconds) {
        QCoreApplication::processEvents(); // as the real pauses let events through
        seen.append({child<QLabel>("lblInProgress")->text(), child<QLabel>("lblElapsed")->text(),
                     child<QLabel>("lblTimeLeft")->text()});
        now += milliseconds;
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbCancel}, boxes);
    Clock::setSleeper(previousSleeper);
    Clock::setMonotonic(previousClock);

    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen.at(0).inProgress, QStringLiteral("In progress: user1"));
    QCOMPARE(seen.at(0).elapsed, QStringLiteral("Elapsed: 0:00"));
    QCOMPARE(seen.at(0).timeLeft, QStringLiteral("Time left: estimating..."));
    // One subscriber done in 2 s: two more take about 4 s.
    QCOMPARE(seen.at(1).inProgress, QStringLiteral("In progress: user2"));
    QCOMPARE(seen.at(1).elapsed, QStringLiteral("Elapsed: 0:02"));
    QCOMPARE(seen.at(1).timeLeft, QStringLiteral("Time left: about 0:04"));
    QCOMPARE(seen.at(2).inProgress, QStringLiteral("In progress: user3"));
    QCOMPARE(seen.at(2).timeLeft, QStringLiteral("Time left: about 0:02"));
    // Finished: the times stand still, no subscriber is in progress.
    now += 600000;
    m_page->frmDeleteSubscribers_Auto_Init(); // shows the times anew, as a change of language does
    QCOMPARE(child<QLabel>("lblInProgress")->text(), QString());
    QCOMPARE(child<QLabel>("lblElapsed")->text(), QStringLiteral("Elapsed: 0:06"));
    // Nothing is left to estimate once the run has ended.
    QCOMPARE(child<QLabel>("lblTimeLeft")->text(), QString());

    // The view shows the run's lines as the file has them, one line break each.
    const QString shown = child<QPlainTextEdit>("txtRunLog")->toPlainText();
    QVERIFY(shown.contains(QStringLiteral("    Alias=user2\n    ObjectID=") + objectIdFor(2)));
    QVERIFY(!shown.contains(QLatin1Char('\r')));
    QString file = readFile(Logging::RunLogPath());
    file.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QVERIFY2(file.endsWith(shown + QLatin1Char('\n')), qPrintable(shown));
    QCOMPARE(shown.count(QStringLiteral("** Deleting Subscriber **")), 3);

    // A page made lower keeps the newest line in sight; one the person scrolled back in stays where it is.
    auto* view = child<QPlainTextEdit>("txtRunLog");
    QScrollBar* bar = view->verticalScrollBar();
    QApplication::processEvents();
    QCOMPARE(bar->value(), bar->maximum());
    const int before = bar->maximum();
    m_page->resize(m_page->width(), m_page->minimumSizeHint().height());
    QApplication::processEvents();
    QVERIFY2(bar->maximum() > before, qPrintable(QString::number(bar->maximum())));
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(1);
    m_page->resize(m_page->width(), m_page->height() + 1);
    m_page->resize(m_page->width(), m_page->minimumSizeHint().height() - 1);
    QApplication::processEvents();
    QCOMPARE(bar->value(), 1);
}

QTEST_MAIN(TestDeleteSubscribers)
void TestDeleteSubscribers::severalSubscribersAtATime()
{
    // user1's synchronisation never finishes, user4's fails, the others are there at the first poll.
    for (int n = 1; n <= 5; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n),
                              n == 4 ? QVariant(5) : QVariant(), n == 1));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    auto* spin = child<QSpinBox>("spnInFlight");
    QCOMPARE(spin->value(), 1);
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 16);
    QCOMPARE(Keyboard::shownText(child<QLabel>("lblInFlight")->text()),
             QStringLiteral("Subscribers at a time"));
    QCOMPARE(child<QLabel>("lblInFlight")->buddy(), spin);
    spin->setValue(3);

    QStringList inProgress;
    int pauses = 0;
    const Clock::Sleeper previousSleeper = Clock::setSleeper([&](int) {
        ++pauses;
        QCoreApplication::processEvents();
        inProgress.append(child<QLabel>("lblInProgress")->text());
    });
    ScriptedMessageBoxes boxes;
    RecordingLauncher launcher;
    runAndAnswer({MsgBox::vbYes, MsgBox::vbCancel}, boxes);
    Clock::setSleeper(previousSleeper);

    QCOMPARE(deletions(), 5);
    // user1's twenty polls carry the others: no poll of their own.
    QCOMPARE(pauses, 20);
    QCOMPARE(inProgress.constFirst(), QStringLiteral("In progress: user1, user2, user3"));
    QCOMPARE(inProgress.constLast(), QStringLiteral("In progress: user1"));
    QVERIFY(!spin->isEnabled());
    QCOMPARE(child<QLabel>("lblRecordsDeletedCount")->text(), QStringLiteral("5"));
    QCOMPARE(child<QProgressBar>("ProgressBar")->value(), 5);
    const QString log = logFrom(QStringLiteral("    Request sent"));
    QCOMPARE(log.count(QStringLiteral("    Request sent for alias= ")), 5);
    // Each block whole, in the order of the outcomes: user1's time-out last.
    QVERIFY2(log.endsWith(
                 QStringLiteral("** Deleting Subscriber **\r\n    Alias=user1\r\n    ObjectID=") +
                 objectIdFor(1) +
                 QStringLiteral("\r\nSyncronization process failed to complete in a timely fashion.  Check "
                                "the ZAVEvedUda logs in the \\Orvane\\Logs directory\r\n") +
                 DeletionRun::syncFailedLine(QStringLiteral("user1")) + QStringLiteral("\r\n")),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("\r\n    Alias=user4\r\n    ObjectID=") + objectIdFor(4) +
                          QStringLiteral("\r\n") + DeletionRun::syncFailedLine(QStringLiteral("user4")) +
                          QStringLiteral("\r\n")),
             qPrintable(log));
    QCOMPARE(Logging::RunLogErrorCount(), 2);
    const QStringList results =
        readFile(resultsBesideTheLog()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(results.size(), 6);
    for (int row = 1; row <= 5; ++row)
        QVERIFY2(results.at(row).startsWith(QStringLiteral("user%1,%2,100,%3,")
                                                .arg(row)
                                                .arg(objectIdFor(row))
                                                .arg(row == 1   ? QStringLiteral("sync timed out")
                                                     : row == 4 ? QStringLiteral("sync failed")
                                                                : QStringLiteral("deleted"))),
                 qPrintable(results.at(row)));

    // Again, the database gone once the first request is out: the next three find no connection, Stop at
    // the question ends the wait still in flight, its outcome unknown.
    cleanup();
    init();
    for (int n = 1; n <= 5; ++n) {
        QVERIFY(addSubscriber(*m_standin, objectIdFor(n), QStringLiteral("user%1").arg(n), QVariant(), true));
        addGridRow(*m_grid, QStringLiteral("user%1").arg(n), objectIdFor(n));
    }
    loadPage();
    child<QSpinBox>("spnInFlight")->setValue(3);
    const QString file = m_standin->databasePath();
    const QMetaObject::Connection removal =
        connect(&Logging::channel(), &Logging::RunLogChannel::lineWritten, this, [&](const QString& line) {
            if (line.startsWith(QStringLiteral("    Request sent for alias= user1,")))
                for (const char* suffix : {"", "-wal", "-shm"})
                    QFile::remove(file + QLatin1String(suffix));
        });
    CountingSleeper sleeper;
    ScriptedMessageBoxes lostBoxes;
    runAndAnswer(
        {MsgBox::vbYes, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbOK, MsgBox::vbCancel, MsgBox::vbCancel},
        lostBoxes);
    disconnect(removal);
    QVERIFY2(lostBoxes.texts().size() == 6, qPrintable(lostBoxes.texts().join(QStringLiteral("\n---\n"))));
    QVERIFY(lostBoxes.texts().at(4).startsWith(
        QStringLiteral("The database could not be reached for 3 subscribers in a row (")));
    QVERIFY(sleeper.pauses().isEmpty());
    const QString lost = logFrom(QStringLiteral("    Request sent"));
    QVERIFY2(
        lost.contains(QStringLiteral("    Alias=user1\r\n    ObjectID=") + objectIdFor(1) +
                      QStringLiteral("\r\nThe wait for the directory synchronisation was ended when the run "
                                     "stopped, the database being out of reach: the outcome for this "
                                     "subscriber is unknown.  Its ticket is {")),
        qPrintable(lost));
    const QStringList lostResults =
        readFile(resultsBesideTheLog()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lostResults.size(), 6);
    QVERIFY2(
        lostResults.at(1).contains(QStringLiteral(
            ",outcome unknown,\"outcome unknown: the run stopped, the database could not be reached\",{")),
        qPrintable(lostResults.at(1)));
    for (int row : {2, 3, 4})
        QVERIFY2(lostResults.at(row).contains(QStringLiteral(",not sent,")), qPrintable(lostResults.at(row)));
    QVERIFY(lostResults.at(5).endsWith(QStringLiteral(",not attempted,,,,")));
}

#include "test_deletesubscribers.moc"
