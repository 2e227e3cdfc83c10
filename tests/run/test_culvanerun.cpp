#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/DeletionRun.h"
#include "deletion/Logging.h"
#include "localize/modLocalize.h"
#include "run/RunConsole.h"
#include "run/RunOptions.h"
#include "run/RunSelection.h"
#include "selection/CsvImport.h"
#include "selection/SelectionExport.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "server/DbConnection.h"
#include "server/OrvaneVersion.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"
#include "server/modSwitchInfo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>

#include <signal.h>

namespace {

const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");
// The stand-in's sample subscribers: 120 of them hold every kind of subscriber the criteria find.
constexpr int kSubscribers = 120;
// The class of service Students holds user00006, user00013, ... user00118: 17 subscribers.
const QString kStudents = QStringLiteral("Students");

struct Result {
    int status = -1;
    QByteArray out;
    QString err;
};

// Rows the grid receives, as the selection page's sink gives them.
class GridRows : public CsvSink {
public:
    explicit GridRows(SubscriberGridModel& grid) : m_grid(grid) {}
    void addSubscriber(SubscriberValues&& v) override
    {
        m_grid.AddUserToGridFAST(v.alias, v.firstName, v.lastName, v.displayName, v.extension, v.homeServer,
                                 v.remoteNode, v.legacyMailbox, v.cos, v.subscriberObjectId,
                                 v.callHandlerObjectId);
    }
    void message(const QString&) override {}
    qint32 gridRows() const override { return m_grid.Rows(); }

private:
    SubscriberGridModel& m_grid;
};

// The page's own export of a grid filled by the page's own query.
QByteArray exported(const SubscriberGridModel& grid)
{
    return SelectionExport::csv(SelectionExport::checkedRows(grid), QStringLiteral("Extension"));
}

// The same, as select writes it to standard output: without the byte-order mark a file keeps.
QByteArray piped(const SubscriberGridModel& grid)
{
    const QByteArray bytes = exported(grid);
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : QByteArray();
}

// The path on the line of standard output that names a file: "Run log: PATH" or "Results: PATH".
QString fileNamed(const QByteArray& out, const QString& label)
{
    for (const QString& line : QString::fromUtf8(out).split(QLatin1Char('\n'))) {
        if (line.startsWith(label))
            return line.mid(label.size());
    }
    return QString();
}

QString readText(const QString& path)
{
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The one file in the folder whose name starts so, or an empty text.
QString onlyFile(const QString& folder, const QString& prefix)
{
    const QStringList names = QDir(folder).entryList({prefix + QLatin1Char('*')}, QDir::Files);
    return names.size() == 1 ? QDir(folder).filePath(names.constFirst()) : QString();
}

// Times and tickets differ from run to run; everything else must not.
QString withoutMoments(QString text)
{
    static const QRegularExpression started(QStringLiteral("Starting deletion process at:[^\\r]*"));
    static const QRegularExpression ticket(
        QStringLiteral("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                       "[0-9A-F]{12}\\}"));
    static const QRegularExpression moment(
        QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d"));
    text.replace(started, QStringLiteral("Starting deletion process at:<moment>"));
    text.replace(moment, QStringLiteral("<moment>"));
    // Object ids of subscribers are fixed by the sample data (kind 5B5C); tickets are random.
    static const QRegularExpression subscriberId(QStringLiteral("\\{[0-9A-F]{8}-5B5C-"));
    QString kept;
    qsizetype at = 0;
    for (auto match = ticket.globalMatch(text); match.hasNext();) {
        const auto found = match.next();
        kept += text.mid(at, found.capturedStart() - at);
        kept +=
            subscriberId.match(found.captured()).hasMatch() ? found.captured() : QStringLiteral("<ticket>");
        at = found.capturedEnd();
    }
    return kept + text.mid(at);
}

} // namespace

class TestCulvaneRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void usageHelpAndStatus64();
    void theTimeLeftFollowsThePaceSoFar();
    void everyCriterionSelectsAsThePageDoes();
    void refusedStarts();
    void aDryRunLooksUpAndDeletesNothing();
    void aRealRunKeepsTheWizardsLogAndResults();
    void pollFastPollsFirstAfter50Milliseconds();
    void theResultsFileGoesWhereItIsGiven();
    void aQueryThatFailsIsNoSelection();
    void aDatabaseGoneMidRunEndsItWithStatus75();
    void ctrlCStopsAfterTheCurrentSubscriberAndTwiceEndsTheWaitAsDoEndingSignals();
    void aTerminalIsAskedAndShowsOneProgressLine();
    void aPasswordComesFromItsFileOnlyForADataSourceWithAUser();
    void badInputIsRefusedAndNeverRepeatedBack();
    void aSubscriberNamedTwiceIsSelectedOnce();
    void quietOnSuccessWithQtsOwnWarningsPrefixed();
    void aRunCutShortIsResumedFromItsResultsFile();
    void inFlightOverlapsTheWaitsWithEachSubscribersLinesTogether();
    void inFlightStopsCtrlCTwiceServerLostAndKilled();

private:
    Result run(const QStringList& arguments, const QProcessEnvironment& environment = {},
               const QString& program = QString());
    QProcessEnvironment environment(double pauseScale = 0) const;
    QString logFolder() const { return m_program.filePath(QStringLiteral("logs")); }
    void setSyncMarks(StandinFixture& standin);
    // Starts deleting the 17 students, the first of whom (user00006) has a synchronisation that never
    // finishes, and returns once that one's lines are in the run log: its wait takes 40 s x scale.
    bool startStudentsRun(QProcess& process, double scale);
    int deletions(StandinFixture& standin);
    // Deletes the 17 students four at a time, every one's synchronisation never finishing, and returns
    // once the four requests are in the run log: their waits take 40 s x scale.
    bool startStudentsInFlight(QProcess& process, double scale);

    QTemporaryDir m_program;
    QString m_binary;
    std::unique_ptr<StandinFixture> m_standin;
    std::unique_ptr<RegFile> m_registry;
};

void TestCulvaneRun::initTestCase()
{
    // The program in a folder of its own, so that its run logs land there and nowhere else.
    QVERIFY(m_program.isValid());
    m_binary = m_program.filePath(QStringLiteral("culvane-run"));
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_RUN_BINARY), m_binary));
    QVERIFY(QFile::setPermissions(m_binary, QFile::permissions(m_binary) | QFileDevice::ExeOwner));
}

void TestCulvaneRun::init()
{
    m_registry = std::make_unique<RegFile>();
    m_registry->currentVersion(5, 0, 1, 33);
    m_registry->key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\PBX East"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("East"))
        .dword(QStringLiteral("IntegrationID"), 2);
    m_registry->save();
    m_standin = std::make_unique<StandinFixture>(kSubscribers);
    QVERIFY(m_standin->isValid());
    QFile::remove(logFolder());
    QDir(logFolder()).removeRecursively();
}

void TestCulvaneRun::cleanup()
{
    modOrvaneDB::CloseSharedLists();
    DbConnection::closeKeptConnections();
    m_standin.reset();
    m_registry.reset();
}

QProcessEnvironment TestCulvaneRun::environment(double pauseScale) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (pauseScale > 0)
        environment.insert(QStringLiteral("CULVANE_RUN_PAUSE_SCALE"), QString::number(pauseScale));
    return environment;
}

Result TestCulvaneRun::run(const QStringList& arguments, const QProcessEnvironment& environment,
                           const QString& program)
{
    QProcess process;
    process.setProcessEnvironment(environment.isEmpty() ? this->environment() : environment);
    process.start(program.isEmpty() ? m_binary : program, arguments);
    process.closeWriteChannel();
    Result result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestCulvaneRun::setSyncMarks(StandinFixture& standin)
{
    // Of the students, user00013's synchronisation fails with 5 and user00027's never finishes.
    QVERIFY(standin.exec(QStringLiteral("UPDATE subscriber SET SyncResult = 5 WHERE Alias = 'user00013'")));
    QVERIFY(standin.exec(
        QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = 'user00027'")));
}

bool TestCulvaneRun::startStudentsRun(QProcess& process, double scale)
{
    if (!m_standin->exec(
            QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = 'user00006'")))
        return false;
    process.setProcessEnvironment(environment(scale));
    process.start(m_binary, {QStringLiteral("delete"), QStringLiteral("--cos"), kStudents,
                             QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")});
    process.closeWriteChannel();
    if (!process.waitForStarted(5000))
        return false;
    QElapsedTimer waited;
    waited.start();
    // The log names the subscriber just before its request goes out: wait for the request itself.
    while (!readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")))
                .contains(QStringLiteral("Alias=user00006")) ||
           deletions(*m_standin) < 1) {
        if (waited.elapsed() > 10000 || process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool TestCulvaneRun::startStudentsInFlight(QProcess& process, double scale)
{
    if (!m_standin->exec(QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1")))
        return false;
    process.setProcessEnvironment(environment(scale));
    process.start(m_binary, {QStringLiteral("delete"), QStringLiteral("--cos"), kStudents,
                             QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes"),
                             QStringLiteral("--in-flight"), QStringLiteral("4")});
    process.closeWriteChannel();
    if (!process.waitForStarted(5000))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")))
               .count(QStringLiteral("    Request sent for alias= ")) < 4) {
        if (waited.elapsed() > 10000 || process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(10);
    }
    return true;
}

int TestCulvaneRun::deletions(StandinFixture& standin)
{
    return standin.scalar(QStringLiteral("SELECT count(*) FROM standin_deletions")).toInt();
}

void TestCulvaneRun::usageHelpAndStatus64()
{
    const Result help = run({QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    for (const char* part :
         {"culvane-run select CRITERION", "--dry-run", "--poll fast", "--password-file",
          "Exit status:", "64  wrong usage", "66  an input file", "--verbose", "duplicates", "resum",
          "--results FILE", "75  the server stopped answering", "Summary: selected=N processed=N"})
        QVERIFY2(help.out.contains(part), part);

    const QList<QStringList> wrong{
        {},
        {QStringLiteral("purge"), QStringLiteral("--all")},
        {QStringLiteral("select")},
        {QStringLiteral("select"), QStringLiteral("--all"), QStringLiteral("--cos"), kStudents},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("4000")},
        {QStringLiteral("select"), QStringLiteral("--switch"), QStringLiteral("east")},
        {QStringLiteral("select"), QStringLiteral("--from"), QStringLiteral("x.csv")},
        {QStringLiteral("select"), QStringLiteral("--all"), QStringLiteral("--yes")},
        {QStringLiteral("delete"), QStringLiteral("--all")},
        {QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode"), QStringLiteral("some")},
        {QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode=data"),
         QStringLiteral("--output"), QStringLiteral("x.csv")},
        {QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode=data"),
         QStringLiteral("secret")},
        {QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode=data"),
         QStringLiteral("--poll"), QStringLiteral("slow")},
    };
    for (const QStringList& arguments : wrong) {
        const Result result = run(arguments);
        QVERIFY2(result.status == 64, qPrintable(arguments.join(u' ') + QStringLiteral(": ") + result.err));
        QVERIFY2(result.err.contains(QStringLiteral("culvane-run: Try 'culvane-run --help'.")),
                 qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
    }
    QCOMPARE(deletions(*m_standin), 0);
}

void TestCulvaneRun::theTimeLeftFollowsThePaceSoFar()
{
    // The deletion page's estimate, in words.
    RunTimeEstimate estimate;
    estimate.start(10, 1000);
    QCOMPARE(RunConsole::timeLeft(estimate, 6000), QStringLiteral("time left unknown"));
    // 2 of 10 in 5 s: 8 more at 2.5 s each, less what the third has used.
    estimate.subscriberDone(3500);
    estimate.subscriberDone(6000);
    QCOMPARE(RunConsole::timeLeft(estimate, 6000), QStringLiteral("about 0:20 left"));
    QCOMPARE(RunConsole::timeLeft(estimate, 7000), QStringLiteral("about 0:19 left"));
    RunTimeEstimate hours;
    hours.start(100, 0);
    hours.subscriberDone(40000);
    QCOMPARE(RunConsole::timeLeft(hours, 40000), QStringLiteral("about 1:06:00 left"));
    for (int i = 1; i < 100; ++i)
        hours.subscriberDone(40000 + i);
    QCOMPARE(RunConsole::timeLeft(hours, 50000), QStringLiteral("nothing left"));
}

void TestCulvaneRun::everyCriterionSelectsAsThePageDoes()
{
    ScriptedMessageBoxes boxes;
    modOrvaneDB::DbConnectionString() = kConnection;
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    modSwitchInfo::InitalizeSwitchInfo();
    const QString classId =
        m_standin
            ->scalar(QStringLiteral("SELECT LocationObjectID FROM location WHERE TextName = 'London AMIS'"))
            .toString();

    QFile csvFile(m_standin->folder() + QStringLiteral("/aliases.csv"));
    QVERIFY(csvFile.open(QIODevice::WriteOnly));
    csvFile.write("Alias,extension\r\nuser00013,\r\nnobody,\r\n,401\r\n");
    csvFile.close();

    struct Case {
        QStringList arguments;
        SubscriberQuery::Criteria criteria;
    };
    const auto criteria = [](int code) {
        SubscriberQuery::Criteria c;
        c.code = code;
        return c;
    };
    QList<Case> cases;
    cases.append({{QStringLiteral("--all")}, criteria(SubscriberQuery::AllSubscribers)});
    cases.append({{QStringLiteral("--archived")}, criteria(SubscriberQuery::ArchivedMailboxes)});
    SubscriberQuery::Criteria range = criteria(SubscriberQuery::ExtensionRange);
    range.rangeLow = QStringLiteral("100");
    range.rangeHigh = QStringLiteral("6000");
    cases.append({{QStringLiteral("--range"), QStringLiteral("100-6000")}, range});
    SubscriberQuery::Criteria bySwitch = criteria(SubscriberQuery::Switch);
    bySwitch.switchText = QStringLiteral("East");
    bySwitch.switchId = 2;
    cases.append({{QStringLiteral("--switch"), QStringLiteral("2")}, bySwitch});
    SubscriberQuery::Criteria cos = criteria(SubscriberQuery::ClassOfService);
    cos.cosText = QStringLiteral("Élèves et étudiants");
    cos.cosAlias = kStudents;
    cases.append({{QStringLiteral("--cos"), QStringLiteral("students")}, cos});
    SubscriberQuery::Criteria server = criteria(SubscriberQuery::MailServer);
    server.mailServer = QStringLiteral("EXCH-BRANCH");
    cases.append({{QStringLiteral("--home-server"), QStringLiteral("EXCH-BRANCH")}, server});
    SubscriberQuery::Criteria location = criteria(SubscriberQuery::Location);
    location.locationText = QStringLiteral("London AMIS");
    location.locationObjectId = classId;
    cases.append({{QStringLiteral("--location"), QStringLiteral("london amis")}, location});
    SubscriberQuery::Criteria node = criteria(SubscriberQuery::NetworkNode);
    node.nodeText = QStringLiteral("101");
    cases.append({{QStringLiteral("--node"), QStringLiteral("101")}, node});

    for (const Case& c : cases) {
        SubscriberGridModel grid;
        GridRows rows(grid);
        SubscriberQuery::run(c.criteria, kConnection, rows);
        QVERIFY2(grid.Rows() > 1, qPrintable(c.arguments.join(u' ')));
        const Result result = run(QStringList{QStringLiteral("select")} + c.arguments);
        QVERIFY2(result.status == 0, qPrintable(c.arguments.join(u' ') + QStringLiteral(": ") + result.err));
        QCOMPARE(result.out, piped(grid));
        QVERIFY(result.out.startsWith("Alias,Extension,DisplayName,FirstName,LastName,HomeServer,COS\r\n"));
        // Quiet but for the rows the grid refuses (--all and --archived meet one each).
        for (const QString& line : result.err.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(QStringLiteral("culvane-run: Error, invalid COSObjectID string")) ||
                         line.startsWith(QStringLiteral("culvane-run:   skipped: alias ")),
                     qPrintable(c.arguments.join(u' ') + QStringLiteral(": ") + result.err));
    }

    // All subscribers: user00007 has no class of service, and the grid refuses it as on the page.
    const Result all = run({QStringLiteral("select"), QStringLiteral("--all")});
    QVERIFY2(
        all.err.contains(QStringLiteral("culvane-run: Error, invalid COSObjectID string passed into "
                                        "AdDUserToGridFast routine.  Skipping user\nculvane-run:   skipped: "
                                        "alias \"user00007\", ObjectID {")),
        qPrintable(all.err));

    // A CSV file, with the import's summary (401 is user00013's extension: one subscriber, named twice);
    // --output writes the same bytes to a file.
    SubscriberGridModel grid;
    GridRows rows(grid);
    CsvImport::ParseCSVForSubscribers(csvFile.fileName(), kConnection, rows);
    QCOMPARE(grid.Rows(), 2);
    const QString output = m_standin->folder() + QStringLiteral("/selected.csv");
    const Result csv = run({QStringLiteral("select"), QStringLiteral("--csv"), csvFile.fileName(),
                            QStringLiteral("-o"), output, QStringLiteral("--verbose")});
    QCOMPARE(csv.status, 0);
    QVERIFY(csv.out.isEmpty());
    QFile written(output);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), exported(grid));
    QVERIFY2(csv.err.contains(
                 QStringLiteral("culvane-run: Import complete.   3 lines read in from text file,  1 "
                                "users added to grid.\nculvane-run: 1 duplicate(s) left out: subscribers "
                                "the file names more than once are added once.\nculvane-run: 1 "
                                "subscribers selected\n")),
             qPrintable(csv.err));

    // A subscriber whose alias the import would split at its comma is left out and named; the rest is
    // written.
    QVERIFY(
        m_standin->exec(QStringLiteral("INSERT INTO callhandler (CallHandlerObjectID, DTMFAccessID) VALUES "
                                       "('{CA110000-0000-4000-8000-000000009999}', '7777')")));
    QVERIFY(m_standin->exec(QStringLiteral(
        "INSERT INTO subscriber (SubscriberObjectID, Alias, SubscriberType, CallHandlerObjectID, "
        "CosObjectId) SELECT '{5B5C0000-0000-4000-8000-000000009999}', 'smith, jane', 1, "
        "'{CA110000-0000-4000-8000-000000009999}', CosObjectID FROM cos WHERE Alias = 'Students'")));
    const Result comma = run({QStringLiteral("select"), QStringLiteral("--cos"), kStudents});
    QCOMPARE(comma.status, 1);
    QVERIFY2(
        comma.err.contains(QStringLiteral("culvane-run: 1 subscribers left out, as the CSV import would not "
                                          "find them again from their line")),
        qPrintable(comma.err));
    QVERIFY(comma.err.contains(QStringLiteral(": \"smith, jane\"\n")));
    QVERIFY(!comma.out.contains("smith"));
    QVERIFY(comma.out.contains("user00013"));

    QCOMPARE(deletions(*m_standin), 0);
}

void TestCulvaneRun::refusedStarts()
{
    const auto refusal = [&](const QStringList& arguments, const QString& expected) {
        const Result result = run(arguments);
        QVERIFY2(result.status == 2, qPrintable(QString::number(result.status) + result.err));
        QVERIFY2(result.err.contains(QStringLiteral("culvane-run: ") + expected), qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
    };
    const QStringList deleteData{QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode"),
                                 QStringLiteral("data"), QStringLiteral("--yes")};

    // No usable registry export file.
    const QByteArray registry = qgetenv("CULVANE_REGISTRY");
    qputenv("CULVANE_REGISTRY", QFile::encodeName(m_standin->folder() + QStringLiteral("/missing.reg")));
    refusal(deleteData,
            QStringLiteral("The registry export file %1/missing.reg named by CULVANE_REGISTRY cannot "
                           "be used: ")
                .arg(m_standin->folder()));
    qputenv("CULVANE_REGISTRY", registry);

    // A server older than 4.0(2.100), then a Domino back end.
    {
        RegFile old;
        old.currentVersion(4, 0, 2, 99);
        old.save();
        refusal(deleteData, QStringLiteral("Error!  This version of Culvane only works on versions of Orvane "
                                           "4.0(3) or later.  Exiting application."));
    }
    {
        RegFile domino;
        domino.currentVersion(5, 0, 1, 33);
        domino.key(QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"))
            .sz(QStringLiteral("IDCProgID"), QStringLiteral("vcdsdomino.vcidcdomino.1"));
        domino.save();
        refusal(deleteData,
                QStringLiteral("This tool only works with Exchange 5.5, Exchange 2000 or Exchange "
                               "2003 as the Orvane message store back end.  Exiting"));
    }

    // Restricted rights: the message, and --mode all refused; --mode data goes on.
    {
        RegFile restricted;
        restricted.currentVersion(5, 0, 1, 33);
        restricted.key(QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0"))
            .dword(QStringLiteral("Restricted Rights"), 1);
        restricted.save();
        refusal({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents, QStringLiteral("--mode"),
                 QStringLiteral("all"), QStringLiteral("--yes")},
                QStringLiteral("--mode all is refused: this installation forces restricted rights"));
        const Result data =
            run({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents, QStringLiteral("--mode"),
                 QStringLiteral("data"), QStringLiteral("--dry-run")});
        // Nothing in it concerns the Orvane data alone: said with --verbose only.
        QCOMPARE(data.status, 0);
        QVERIFY2(!data.err.contains(QStringLiteral("restricted administration rights")),
                 qPrintable(data.err));
        const Result verbose =
            run({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents, QStringLiteral("--mode"),
                 QStringLiteral("data"), QStringLiteral("--dry-run"), QStringLiteral("--verbose")});
        QCOMPARE(verbose.status, 0);
        QVERIFY2(verbose.err.contains(
                     QStringLiteral("culvane-run: The Orvane installation was configured to force "
                                    "restricted administration rights.")),
                 qPrintable(verbose.err));
    }

    // No database: message 422 once, with the driver's reason beneath it.
    QVERIFY(QFile::rename(m_standin->databasePath(), m_standin->databasePath() + QStringLiteral(".aside")));
    const Result noDatabase = run(deleteData);
    QVERIFY(QFile::rename(m_standin->databasePath() + QStringLiteral(".aside"), m_standin->databasePath()));
    QCOMPARE(noDatabase.status, 2);
    const QString unable =
        QStringLiteral("culvane-run: Unable to open OrvaneDB with necessary rights needed for "
                       "this tool.  Make sure you are running this tool logged in as a member "
                       "of the local admins group.\nculvane-run:     ");
    QVERIFY2(noDatabase.err.contains(unable), qPrintable(noDatabase.err));
    QCOMPARE(noDatabase.err.count(QStringLiteral("Unable to open OrvaneDB")), 1);

    // Without --yes and without a terminal nothing is deleted and no log is made.
    const Result unasked = run({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents,
                                QStringLiteral("--mode"), QStringLiteral("data")});
    QCOMPARE(unasked.status, 64);
    QVERIFY2(
        unasked.err.contains(QStringLiteral("culvane-run: 17 subscribers selected; without a terminal to "
                                            "ask on, delete needs --yes (nothing deleted)")),
        qPrintable(unasked.err));
    QCOMPARE(deletions(*m_standin), 0);
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")).isEmpty());
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_Results_")).isEmpty());
}

void TestCulvaneRun::aDryRunLooksUpAndDeletesNothing()
{
    // A file written by select, read back by delete --from.
    const QString selection = m_standin->folder() + QStringLiteral("/students.csv");
    QCOMPARE(run({QStringLiteral("select"), QStringLiteral("--cos"), kStudents, QStringLiteral("--output"),
                  selection})
                 .status,
             0);
    const Result dry = run({QStringLiteral("delete"), QStringLiteral("--from"), selection,
                            QStringLiteral("--mode"), QStringLiteral("all"), QStringLiteral("--dry-run")});
    QVERIFY2(dry.status == 0, qPrintable(dry.err));
    QVERIFY2(dry.out.startsWith("Results: ") &&
                 dry.out.endsWith("\nSummary: dry-run selected=17 processed=17 would-delete=17 not-found=0 "
                                  "lookup-failed=0 not-attempted=0 ended=completed\n"),
             dry.out.constData());
    QCOMPARE(deletions(*m_standin), 0);
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT count(*) FROM directorysyncticket")).toInt(), 0);
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")).isEmpty());

    const QString results = onlyFile(logFolder(), QStringLiteral("Culvane_DryRun_"));
    QVERIFY(!results.isEmpty());
    QVERIFY(dry.out.contains(QDir::toNativeSeparators(results).toUtf8()));
    const QStringList lines = readText(results).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 18);
    QFile raw(results);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().startsWith("\xEF\xBB\xBF"
                                     "Alias,ObjectID,Extension,Outcome,Detail,Ticket,Started,Finished\r\n"));
    static const QRegularExpression row(QStringLiteral("^user\\d{5},\\{[0-9A-F-]{36}\\},\\d+,would delete,,,"
                                                       "\\d{4}-[^,]+,\\d{4}-[^,]+$"));
    for (const QString& line : lines.mid(1))
        QVERIFY2(row.match(line).hasMatch(), qPrintable(line));
    QVERIFY(lines.at(2).startsWith(QStringLiteral("user00013,")));

    // Files limited to 1 KB: the results file loses its later rows, and the dry run does not call that done.
    // (A database in WAL mode would need 32 KB for its shared-memory file; reading needs no journal.)
    QVERIFY(m_standin->exec(QStringLiteral("PRAGMA journal_mode=DELETE")));
    const Result limited =
        run({QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\""), m_binary,
             QStringLiteral("delete"), QStringLiteral("--from"), selection, QStringLiteral("--mode"),
             QStringLiteral("all"), QStringLiteral("--dry-run")},
            environment(), QStringLiteral("/bin/bash"));
    QVERIFY2(limited.status == 1, qPrintable(limited.err));
    QVERIFY2(limited.err.contains(QStringLiteral("culvane-run: the dry run's results file ")) &&
                 limited.err.contains(QStringLiteral(" is incomplete: a row could not be written (")) &&
                 limited.err.contains(QStringLiteral(" bytes written)")),
             qPrintable(limited.err));
    const QString partial = fileNamed(limited.out, QStringLiteral("Results: "));
    QVERIFY(partial != QDir::toNativeSeparators(results));
    QVERIFY2(QFileInfo(partial).isFile() && QFileInfo(partial).size() <= 1024, qPrintable(partial));
}

void TestCulvaneRun::aRealRunKeepsTheWizardsLogAndResults()
{
    setSyncMarks(*m_standin);
    const Result result = run({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents,
                               QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")},
                              environment(0.002));
    QVERIFY2(result.status == 1, qPrintable(result.err));
    QCOMPARE(deletions(*m_standin), 17);
    const QString log = onlyFile(logFolder(), QStringLiteral("Culvane_Log_"));
    const QString results = onlyFile(logFolder(), QStringLiteral("Culvane_Results_"));
    QVERIFY(!log.isEmpty() && !results.isEmpty());
    QCOMPARE(result.out,
             QStringLiteral("Run log: %1\nResults: %2\nSummary: selected=17 processed=17 deleted=15 "
                            "sync-failed=1 sync-timed-out=1 rejected=0 request-failed=0 not-sent=0 "
                            "outcome-unknown=0 not-attempted=0 errors=2 ended=completed\n")
                 .arg(log, results)
                 .toUtf8());
    // Plain progress lines off a terminal, one per subscriber.
    QVERIFY2(result.err.contains(QStringLiteral("culvane-run: 1/17 done, 0 errors, ")),
             qPrintable(result.err));
    QVERIFY2(result.err.contains(QStringLiteral("culvane-run: 17/17 done, 2 errors, nothing left\n")),
             qPrintable(result.err));
    const QString cliLog = readText(log);
    const QString cliResults = readText(results);
    QVERIFY(
        cliLog.contains(QStringLiteral("Syncronization process failed to complete in a timely fashion.")));
    QVERIFY(
        cliResults.contains(QStringLiteral("\r\nuser00013,{08D12DFD-5B5C-400D-8000-00000000000D},401,sync "
                                           "failed,5,{")));
    QVERIFY(cliResults.contains(QStringLiteral(",sync timed out,,{")));

    // The wizard's own run over the same grid on a fresh stand-in leaves the same files.
    cleanup();
    init();
    setSyncMarks(*m_standin);
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    QTemporaryDir wizardLogs;
    Logging::setLogFolder(wizardLogs.path());
    modLocalize::setProgramLocation(wizardLogs.path(), QStringLiteral("Culvane"));
    modOrvaneDB::DbConnectionString() = kConnection;
    OrvaneVersion::setInstalledVersion(OrvaneVersion::getVersion());
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    SubscriberGridModel grid;
    GridRows rows(grid);
    SubscriberQuery::Criteria cos;
    cos.code = SubscriberQuery::ClassOfService;
    cos.cosText = QStringLiteral("Élèves et étudiants");
    cos.cosAlias = kStudents;
    SubscriberQuery::run(cos, kConnection, rows);
    struct Quiet : DeletionRunSink {
        void runStarted(qint32) override {}
        void rowsVisited(qint32) override {}
        void subscribersProcessed(qint32) override {}
    } sink;
    const DeletionRun::Outcome wizard = DeletionRun::run(grid, false, sink);
    Logging::setLogFolder(QString());
    modLocalize::setProgramLocation(QString(), QString());
    QCOMPARE(wizard.processed, 17);
    QCOMPARE(withoutMoments(cliLog), withoutMoments(readText(wizard.logPath)));
    QCOMPARE(withoutMoments(cliResults), withoutMoments(readText(wizard.resultsPath)));
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestCulvaneRun::pollFastPollsFirstAfter50Milliseconds()
{
    // Real pauses, with each result there at once: the first poll, 50 ms after the request, reads it.
    // Seventeen such pauses leave room for a loaded machine under a bound that a first pause of 250 ms
    // (let alone the wizard's 2 s) cannot meet.
    const QStringList arguments{QStringLiteral("delete"), QStringLiteral("--cos"), kStudents,
                                QStringLiteral("--mode"), QStringLiteral("data"),  QStringLiteral("--yes"),
                                QStringLiteral("--poll"), QStringLiteral("fast")};
    QElapsedTimer timer;
    timer.start();
    const Result result = run(arguments);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(result.status == 0, qPrintable(result.err));
    QCOMPARE(deletions(*m_standin), 17);
    QVERIFY2(elapsed < 17 * 250, qPrintable(QString::number(elapsed)));
    const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
    QCOMPARE(log.count(QStringLiteral("\r\n    Directory sync complete for subscriber\r\n")), 17);
    QVERIFY(log.contains(
        QStringLiteral("    Alias=user00013\r\n    ObjectID={08D12DFD-5B5C-400D-8000-00000000000D}"
                       "\r\n    Directory sync complete for subscriber\r\n")));
}

void TestCulvaneRun::theResultsFileGoesWhereItIsGiven()
{
    const QString given = m_standin->folder() + QStringLiteral("/leavers-results.csv");
    const auto deleteRange = [&](const QString& range, const QString& results, bool dry) {
        QStringList arguments{QStringLiteral("delete"),
                              QStringLiteral("--range"),
                              range,
                              QStringLiteral("--mode"),
                              QStringLiteral("data"),
                              QStringLiteral("--yes"),
                              QStringLiteral("--results"),
                              results};
        if (dry)
            arguments.append(QStringLiteral("--dry-run"));
        return run(arguments, environment(0.002));
    };
    const Result done = deleteRange(QStringLiteral("401-401"), given, false);
    QVERIFY2(done.status == 0, qPrintable(done.err));
    QVERIFY2(done.out.contains("\nResults: " + QDir::toNativeSeparators(given).toUtf8() + "\nSummary: "),
             done.out.constData());
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_Results_")).isEmpty());
    const QStringList rows = readText(given).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 2);
    QVERIFY2(rows.at(1).startsWith(
                 QStringLiteral("user00013,{08D12DFD-5B5C-400D-8000-00000000000D},401,deleted,")),
             qPrintable(rows.at(1)));

    // A results file is never written over, and nothing is deleted for want of one; the path given is not
    // repeated back.
    const QByteArray before = [&] {
        QFile file(given);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    for (const bool dry : {false, true}) {
        const Result again = deleteRange(QStringLiteral("402-410"), given, dry);
        QVERIFY2(again.status == 64, qPrintable(again.err));
        QVERIFY2(again.err.contains(QStringLiteral("culvane-run: the file given with --results exists")) &&
                     !again.err.contains(given),
                 qPrintable(again.err));
        QVERIFY(again.out.isEmpty());
    }
    const Result nowhere = deleteRange(QStringLiteral("402-410"),
                                       m_standin->folder() + QStringLiteral("/no/such/folder.csv"), false);
    QCOMPARE(nowhere.status, 64);
    QVERIFY2(nowhere.err.contains(QStringLiteral("does not exist (nothing deleted)")),
             qPrintable(nowhere.err));
    QCOMPARE(deletions(*m_standin), 1);
    QFile kept(given);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), before);

    // A dry run's results go there too.
    const QString dryGiven = m_standin->folder() + QStringLiteral("/dry.csv");
    const Result dry = deleteRange(QStringLiteral("402-410"), dryGiven, true);
    QVERIFY2(dry.status == 0, qPrintable(dry.err));
    QVERIFY(dry.out.startsWith("Results: " + QDir::toNativeSeparators(dryGiven).toUtf8() +
                               "\nSummary: dry-run "));
    QVERIFY(readText(dryGiven).contains(QStringLiteral(",would delete,")));
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_DryRun_")).isEmpty());
}

void TestCulvaneRun::aQueryThatFailsIsNoSelection()
{
    // The range's statement joins vw_DTMFAccessID: without it the server refuses the statement, after the
    // start-up, which does not read it.
    QVERIFY(m_standin->exec(QStringLiteral("DROP VIEW vw_DTMFAccessID")));
    const Result selected =
        run({QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("400-500")});
    QVERIFY2(selected.status == 1, qPrintable(selected.err));
    QVERIFY(selected.out.isEmpty());
    QVERIFY2(selected.err.contains(QStringLiteral("culvane-run: the selection could not be made whole: ")) &&
                 selected.err.contains(QStringLiteral("no such table: vw_DTMFAccessID")) &&
                 selected.err.contains(QStringLiteral("; nothing is written or deleted\n")),
             qPrintable(selected.err));
    const Result deleted =
        run({QStringLiteral("delete"), QStringLiteral("--range"), QStringLiteral("400-500"),
             QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")});
    QVERIFY2(deleted.status == 1, qPrintable(deleted.err));
    QCOMPARE(deletions(*m_standin), 0);
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")).isEmpty());

    // The server gone between the start-up and the query: a temporary failure, to be tried again.
    modOrvaneDB::DbConnectionString() = QStringLiteral("Driver={SQL Server};server=;database=") +
                                        m_standin->folder() + QStringLiteral("/gone");
    RunOptions::Options options;
    options.command = RunOptions::Command::Select;
    options.criterion = RunOptions::Criterion::Archived;
    OrvaneVersion::setInstalledVersion({5, 0, 1, 33});
    SubscriberGridModel grid;
    RunConsole console;
    ScriptedMessageBoxes boxes;
    QCOMPARE(RunSelection::fill(options, grid, console), std::optional<int>(RunOptions::ExitTempFail));
    QCOMPARE(grid.Rows(), 1);
    // The page's own message of an archive query that cannot be opened is that there is nobody.
    QCOMPARE(boxes.texts().size(), 1);
    modOrvaneDB::DbConnectionString() = QString();
}

void TestCulvaneRun::aDatabaseGoneMidRunEndsItWithStatus75()
{
    // The first student's wait is long enough to take the database away during it. Without WAL journaling
    // the stand-in is one file, which can be put aside and back whole.
    QVERIFY(m_standin->exec(QStringLiteral("PRAGMA journal_mode=DELETE")));
    const QString file = m_standin->databasePath();
    const QString aside = file + QStringLiteral(".aside");
    QProcess process;
    QVERIFY(startStudentsRun(process, 0.05));
    QVERIFY(QFile::rename(file, aside));
    QVERIFY(process.waitForFinished(20000));
    QVERIFY(QFile::rename(aside, file));

    // Three subscribers in a row could not reach it: the first's wait, then two requests never sent.
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(process.exitCode() == 75, qPrintable(errors));
    QVERIFY2(
        errors.contains(QStringLiteral("culvane-run: the database could not be reached for 3 subscribers in "
                                       "a row ([SQLite]connect failed (the database file ")),
        qPrintable(errors));
    const QByteArray out = process.readAllStandardOutput();
    QVERIFY2(
        out.endsWith("\nSummary: selected=17 processed=3 deleted=0 sync-failed=1 sync-timed-out=0 "
                     "rejected=0 request-failed=0 not-sent=2 outcome-unknown=0 not-attempted=14 errors=3 "
                     "ended=unreachable\n"),
        out.constData());
    // Only the first request left this machine.
    QCOMPARE(deletions(*m_standin), 1);
    const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
    QVERIFY2(log.contains(QStringLiteral("**** Run stopped after 3 of 17 subscribers, at the subscriber with "
                                         "alias= user00020: the database could not be reached for 3 "
                                         "subscribers in a row (")),
             qPrintable(log));
    QCOMPARE(log.count(QStringLiteral(" was not sent: no connection to the database could be opened: ")), 2);
    const QStringList lines = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Results_")))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 18);
    QVERIFY2(lines.at(1).startsWith(QStringLiteral("user00006,")) &&
                 lines.at(1).contains(QStringLiteral(",sync failed,")),
             qPrintable(lines.at(1)));
    for (int row : {2, 3}) {
        // No ticket: nothing was registered under one.
        static const QRegularExpression notSent(
            QStringLiteral("^user\\d{5},\\{[^}]+\\},\\d+,not sent,[^,]+,,\\d{4}-"));
        QVERIFY2(notSent.match(lines.at(row)).hasMatch(), qPrintable(lines.at(row)));
    }
    for (const QString& line : lines.mid(4))
        QVERIFY2(line.endsWith(QStringLiteral(",not attempted,,,,")), qPrintable(line));

    // Later, the server back: the same command with the results file finishes the job, and the one whose
    // request went out is not sent again.
    const QString results = fileNamed(out, QStringLiteral("Results: "));
    const Result resumed = run({QStringLiteral("delete"), QStringLiteral("--from"), results,
                                QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")},
                               environment(0.002));
    QVERIFY2(resumed.status == 0, qPrintable(resumed.err));
    QVERIFY2(resumed.err.startsWith(
                 QStringLiteral("culvane-run: 1 row left out, their requests were sent: 1 sync failed\n")),
             qPrintable(resumed.err));
    QVERIFY2(resumed.out.contains("\nSummary: selected=16 processed=16 deleted=16 "),
             resumed.out.constData());
    QCOMPARE(deletions(*m_standin), 17);
}

void TestCulvaneRun::ctrlCStopsAfterTheCurrentSubscriberAndTwiceEndsTheWaitAsDoEndingSignals()
{
    // The first student's synchronisation never finishes; its wait takes 40 s x the scale.
    const auto checkStopped = [&](const QString& firstOutcome) {
        const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
        QVERIFY2(
            log.endsWith(QStringLiteral("**** Run stopped by the user after 1 of 17 subscribers ****\r\n")),
            qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("user00013")));
        const QStringList lines = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Results_")))
                                      .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 18);
        QVERIFY2(lines.at(1).contains(firstOutcome), qPrintable(lines.at(1)));
        for (const QString& line : lines.mid(2))
            QVERIFY2(line.endsWith(QStringLiteral(",not attempted,,,,")), qPrintable(line));
    };

    {
        QProcess process;
        QVERIFY(startStudentsRun(process, 0.1));
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(
            errors.contains(QStringLiteral("culvane-run: Ctrl-C: stopping after the current subscriber")),
            qPrintable(errors));
        checkStopped(QStringLiteral(",sync timed out,,{"));
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY2(out.endsWith("\nSummary: selected=17 processed=1 deleted=0 sync-failed=0 sync-timed-out=1 "
                              "rejected=0 request-failed=0 not-sent=0 outcome-unknown=0 not-attempted=16 "
                              "errors=1 ended=ctrl-c\n"),
                 out.constData());
    }
    QCOMPARE(deletions(*m_standin), 1);

    // Again on a fresh stand-in: a wait of 20 s that a second Ctrl-C ends at once.
    cleanup();
    init();
    QProcess process;
    QVERIFY(startStudentsRun(process, 0.5));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
    QTest::qWait(200);
    QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
    QVERIFY(process.waitForFinished(15000));
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(process.exitCode(), 1);
    const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
    QVERIFY2(
        log.contains(QStringLiteral("The wait for the directory synchronisation was ended by the user: the "
                                    "outcome for this subscriber is unknown.  Its ticket is {")),
        qPrintable(log));
    QVERIFY(!log.contains(QStringLiteral("Syncronization process failed")));
    // The request was sent: the subscriber may be gone or not.
    checkStopped(QStringLiteral(",outcome unknown,outcome unknown: the wait was ended by the user,{"));
    QVERIFY(process.readAllStandardOutput().contains(
        " outcome-unknown=1 not-attempted=16 errors=1 ended=ctrl-c\n"));

    // A scheduler's time limit or a lost session ends the wait at once too, and the files are completed.
    for (const int signal : {SIGTERM, SIGHUP, SIGPIPE}) {
        const QByteArray name = signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "SIGPIPE";
        cleanup();
        init();
        QProcess ended;
        QVERIFY(startStudentsRun(ended, 0.5));
        timer.restart();
        QVERIFY(::kill(static_cast<pid_t>(ended.processId()), signal) == 0);
        QVERIFY(ended.waitForFinished(15000));
        QVERIFY2(timer.elapsed() < 5000, name + ' ' + QByteArray::number(timer.elapsed()));
        QCOMPARE(ended.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ended.exitCode(), 1);
        const QString errors = QString::fromUtf8(ended.readAllStandardError());
        QVERIFY2(errors.contains(QLatin1String(name + ": stopping now; the current wait ends")),
                 qPrintable(errors));
        QVERIFY2(readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")))
                     .contains(QStringLiteral("The wait for the directory synchronisation was ended by the "
                                              "user")),
                 name.constData());
        checkStopped(QStringLiteral(",outcome unknown,outcome unknown: the wait was ended by the user,{"));
        QVERIFY(ended.readAllStandardOutput().endsWith(
            " outcome-unknown=1 not-attempted=16 errors=1 ended=" + name.toLower() + "\n"));
    }
}

void TestCulvaneRun::aTerminalIsAskedAndShowsOneProgressLine()
{
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty())
        QSKIP("script (util-linux) gives the program a terminal; it is missing");
    const auto onTerminal = [&](const QString& arguments, const QByteArray& answer) {
        QProcess process;
        process.setProcessEnvironment(environment(0.002));
        process.start(script, {QStringLiteral("-qec"), m_binary + QLatin1Char(' ') + arguments,
                               QStringLiteral("/dev/null")});
        process.write(answer);
        process.closeWriteChannel();
        Result result;
        if (!process.waitForFinished(30000))
            return result;
        result.status = process.exitCode();
        result.out = process.readAll() + process.readAllStandardError();
        return result;
    };
    const QString students = QStringLiteral("delete --cos Students --mode all --poll fast");

    const Result declined = onTerminal(students, "n\n");
    QVERIFY2(declined.status == 2, declined.out.constData());
    QVERIFY2(declined.out.contains("culvane-run: Delete 17 subscribers (--mode all) AND remove their Active "
                                   "Directory accounts and Exchange mailboxes?  There is no undo. [y/N] "),
             declined.out.constData());
    QVERIFY(declined.out.contains("culvane-run: nothing deleted"));
    QCOMPARE(deletions(*m_standin), 0);

    const Result accepted = onTerminal(students, "y\n");
    QVERIFY2(accepted.status == 0, accepted.out.constData());
    QCOMPARE(deletions(*m_standin), 17);
    QCOMPARE(m_standin->scalar(QStringLiteral("SELECT sum(ForceRemove) FROM standin_deletions")).toInt(), 17);
    // One line, rewritten in place: a carriage return and an erase before each state, no line per subscriber.
    QVERIFY2(accepted.out.contains("\r\x1b[Kculvane-run: 1/17 done, 0 errors, "), accepted.out.constData());
    QVERIFY(accepted.out.contains("\r\x1b[Kculvane-run: 17/17 done, 0 errors, nothing left\r\n"));
    QVERIFY(!accepted.out.contains("\nculvane-run: 1/17 done"));
}

void TestCulvaneRun::aPasswordComesFromItsFileOnlyForADataSourceWithAUser()
{
    // A data source OrvaneDb on the stand-in's driver, in an odbc.ini of its own.
    QTemporaryDir odbc;
    QVERIFY(QFile::copy(StandinFixture::odbcInstPath(), odbc.filePath(QStringLiteral("odbcinst.ini"))));
    const auto dataSource = [&](const QByteArray& user) {
        QFile ini(odbc.filePath(QStringLiteral("odbc.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[OrvaneDb]\nDriver=SQL Server\nDatabase=" + QFile::encodeName(m_standin->databasePath()) +
                  "\n" + user);
    };
    QProcessEnvironment withSource = environment();
    withSource.insert(QStringLiteral("ODBCSYSINI"), odbc.path());
    withSource.insert(QStringLiteral("HOME"), odbc.path());
    const QString passwordFile = odbc.filePath(QStringLiteral("password"));
    QFile password(passwordFile);
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("s3cret;}x\nsecond line\n");
    password.close();
    const QStringList select{QStringLiteral("select"), QStringLiteral("--cos"), kStudents,
                             QStringLiteral("--password-file"), passwordFile};

    dataSource("UID=EXAMPLE\\alice\n");
    const Result signedIn = run(select + QStringList{QStringLiteral("--verbose")}, withSource);
    QVERIFY2(signedIn.status == 0, qPrintable(signedIn.err));
    QVERIFY2(signedIn.err.contains(QStringLiteral(
                 "culvane-run: connecting through the ODBC data source OrvaneDb (DSN=OrvaneDb;")),
             qPrintable(signedIn.err));
    QVERIFY(
        signedIn.err.contains(QStringLiteral("culvane-run: signing in as EXAMPLE\\alice with the password "
                                             "given")));
    QVERIFY(!signedIn.err.contains(QStringLiteral("s3cret")));
    QVERIFY(signedIn.out.contains("user00013"));
    // Readable by others: used, with a warning; kept to its owner: no warning.
    const QString exposed =
        QStringLiteral("culvane-run: the password file %1 can be read by other users").arg(passwordFile);
    QVERIFY(
        password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    const Result readable = run(select, withSource);
    QCOMPARE(readable.status, 0);
    QVERIFY2(readable.err.contains(exposed), qPrintable(readable.err));
    QVERIFY(password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const Result ownerOnly = run(select, withSource);
    QCOMPARE(ownerOnly.status, 0);
    QVERIFY2(!ownerOnly.err.contains(QStringLiteral("can be read by other users")),
             qPrintable(ownerOnly.err));

    // No password file and no terminal: said, and the start is refused as the wizard's Cancel refuses it.
    const Result noPassword = run(select.mid(0, 3), withSource);
    QCOMPARE(noPassword.status, 2);
    QVERIFY(noPassword.out.isEmpty());
    QVERIFY2(noPassword.err.contains(QStringLiteral("culvane-run: no password for EXAMPLE\\alice: give "
                                                    "--password-file FILE or start on a terminal")),
             qPrintable(noPassword.err));

    // On a terminal it is asked for.
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (!script.isEmpty()) {
        QProcess process;
        process.setProcessEnvironment(withSource);
        process.start(script,
                      {QStringLiteral("-qec"), m_binary + QStringLiteral(" select --cos Students --verbose"),
                       QStringLiteral("/dev/null")});
        process.write("s3cret\n");
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray terminal = process.readAll();
        QVERIFY2(terminal.contains("culvane-run: Password for EXAMPLE\\alice (data source OrvaneDb): "),
                 terminal.constData());
        QVERIFY2(terminal.contains("culvane-run: signing in as EXAMPLE\\alice with the password given"),
                 terminal.constData());
    }

    // Ended at the prompt (Ctrl-C, a closed session): the terminal gets its echo back.
    {
        struct Descriptor {
            int fd;
            ~Descriptor()
            {
                if (fd >= 0)
                    ::close(fd);
            }
        };
        const Descriptor master{posix_openpt(O_RDWR | O_NOCTTY)};
        QVERIFY(master.fd >= 0 && grantpt(master.fd) == 0 && unlockpt(master.fd) == 0);
        const QByteArray slaveName = ptsname(master.fd);
        const Descriptor slave{::open(slaveName.constData(), O_RDWR | O_NOCTTY)};
        QVERIFY(slave.fd >= 0);
        const auto echoing = [&] {
            termios settings{};
            return tcgetattr(slave.fd, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
        };
        QVERIFY(echoing());
        for (const int signal : {SIGINT, SIGHUP}) {
            QProcess process;
            process.setProcessEnvironment(withSource);
            process.setStandardInputFile(QString::fromLocal8Bit(slaveName));
            process.start(m_binary, {QStringLiteral("select"), QStringLiteral("--cos"), kStudents});
            QVERIFY(process.waitForStarted(5000));
            QByteArray errors;
            QTRY_VERIFY_WITH_TIMEOUT((errors += process.readAllStandardError()).contains("Password for"),
                                     10000);
            QTRY_VERIFY_WITH_TIMEOUT(!echoing(), 5000);
            QVERIFY(::kill(static_cast<pid_t>(process.processId()), signal) == 0);
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            QVERIFY2(echoing(), signal == SIGINT ? "SIGINT" : "SIGHUP");
        }
    }

    dataSource("");
    const Result noUser = run(select, withSource);
    QCOMPARE(noUser.status, 0);
    QVERIFY2(
        noUser.err.contains(QStringLiteral("culvane-run: the password file is not used: the connection names "
                                           "no user without a password")),
        qPrintable(noUser.err));

    const Result unreadable = run({QStringLiteral("select"), QStringLiteral("--all"),
                                   QStringLiteral("--password-file"), odbc.filePath(QStringLiteral("none"))},
                                  withSource);
    QCOMPARE(unreadable.status, 66);
    QVERIFY2(unreadable.err.contains(QStringLiteral("culvane-run: cannot read the password file given with "
                                                    "--password-file: it is not a file")),
             qPrintable(unreadable.err));
    QVERIFY(!unreadable.err.contains(odbc.filePath(QStringLiteral("none"))));
}

void TestCulvaneRun::badInputIsRefusedAndNeverRepeatedBack()
{
    // Wrong usage: 64, the reason without the word given (it may be a password in the wrong place), and
    // nothing on standard output. An option given twice with different values is refused, not decided by
    // its last one.
    const QString secret = QStringLiteral("Pw-s3cret");
    const QStringList deleteAll{QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode"),
                                QStringLiteral("data")};
    const QList<QStringList> wrong{
        {secret, QStringLiteral("--all")},
        {QStringLiteral("select"), QStringLiteral("--all"), secret},
        {QStringLiteral("select"), QStringLiteral("--all"), QLatin1Char('-') + secret},
        {QStringLiteral("select"), QStringLiteral("--all"),
         QStringLiteral("--") + secret + QStringLiteral("=x")},
        {QStringLiteral("select"), QStringLiteral("--switch"), secret},
        {QStringLiteral("select"), QStringLiteral("--range"), secret},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("400-") + secret},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("4O0-500")},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("-5-10")},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("1e3-2000")},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("400.0-500")},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("900-100")},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("0100-99")},
        {QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("1-123456789012345678901")},
        {QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--mode"), secret},
        deleteAll + QStringList{QStringLiteral("--poll"), secret},
        deleteAll + QStringList{QStringLiteral("--mode"), QStringLiteral("all")},
        deleteAll +
            QStringList{QStringLiteral("--poll=fast"), QStringLiteral("--poll"), QStringLiteral("standard")},
        {QStringLiteral("select"), QStringLiteral("--all"), QStringLiteral("-o"), QStringLiteral("a.csv"),
         QStringLiteral("--output"), QStringLiteral("b.csv")},
        {QStringLiteral("select"), QStringLiteral("--all"), QStringLiteral("--password-file"),
         QStringLiteral("a"), QStringLiteral("--password-file"), secret},
    };
    for (const QStringList& arguments : wrong) {
        const Result result = run(arguments);
        const QString what = arguments.join(u' ') + QStringLiteral(": ") + result.err;
        QVERIFY2(result.status == 64, qPrintable(what));
        QVERIFY2(result.out.isEmpty(), qPrintable(what));
        QVERIFY2(!result.err.contains(QStringLiteral("s3cret")), qPrintable(what));
        QVERIFY2(!result.err.contains(QStringLiteral("4O0")) && !result.err.contains(QStringLiteral("900")),
                 qPrintable(what));
        for (const QString& line : result.err.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(QStringLiteral("culvane-run: ")), qPrintable(what));
    }
    QCOMPARE(deletions(*m_standin), 0);
    const Result twice = run(deleteAll + QStringList{QStringLiteral("--mode"), QStringLiteral("all"),
                                                     QStringLiteral("--dry-run")});
    QVERIFY2(twice.err.contains(QStringLiteral("culvane-run: --mode is given twice with different values")),
             qPrintable(twice.err));
    const Result backwards =
        run({QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("900-100")});
    QVERIFY2(backwards.err.contains(QStringLiteral("culvane-run: --range runs backwards")),
             qPrintable(backwards.err));
    // The same value twice is one choice; a range of equal bounds is a range.
    const QString selected = m_standin->folder() + QStringLiteral("/one.csv");
    const Result same =
        run({QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral(" 401 - 401 "),
             QStringLiteral("-o"), selected, QStringLiteral("--output=") + selected});
    QVERIFY2(same.status == 0, qPrintable(same.err));
    QVERIFY(readText(selected).contains(QStringLiteral("\r\nuser00013,")));

    // Names the server does not have, for every list the selection page offers: 64 with what it has.
    const auto unknown = [&](const char* option, const QString& expected) {
        const Result result = run({QStringLiteral("select"), QLatin1String(option), secret});
        QVERIFY2(result.status == 64, qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.contains(QStringLiteral("culvane-run: ") + expected), qPrintable(result.err));
        QVERIFY2(!result.err.contains(QStringLiteral("s3cret")), qPrintable(result.err));
    };
    unknown("--cos", QStringLiteral("--cos names no class of service with that alias on this server; it has: "
                                    "DefaultAdministrator, "));
    unknown("--location",
            QStringLiteral("--location names no location of that name on this server; it has: "));
    unknown("--home-server",
            QStringLiteral("--home-server names no mail server of that name on this server; it has: "));
    unknown("--node",
            QStringLiteral("--node names no networking node with that ID on this server; it has: "));
    const Result noSwitch = run({QStringLiteral("select"), QStringLiteral("--switch"), QStringLiteral("7")});
    QCOMPARE(noSwitch.status, 64);
    QVERIFY2(noSwitch.err.contains(QStringLiteral("it has: 2 (East)")), qPrintable(noSwitch.err));
    const Result homeServer =
        run({QStringLiteral("select"), QStringLiteral("--home-server"), QStringLiteral("NoSuchServer")});
    QVERIFY2(homeServer.err.contains(QStringLiteral("EXCH-BRANCH")), qPrintable(homeServer.err));
    QVERIFY2(!homeServer.err.contains(QStringLiteral("NoSuchServer")), qPrintable(homeServer.err));
    const Result node = run({QStringLiteral("select"), QStringLiteral("--node"), QStringLiteral("9999")});
    QVERIFY2(node.status == 64 && node.err.contains(QStringLiteral(": 101")), qPrintable(node.err));
    // In any letter case they are found, as on the page's lists.
    QCOMPARE(run({QStringLiteral("select"), QStringLiteral("--home-server"), QStringLiteral("exch-branch")})
                 .status,
             0);

    // An input file that cannot be read: 66, the reason, nothing written, nothing deleted.
    const QString folder = m_standin->folder();
    QFile noHeader(folder + QStringLiteral("/names.csv"));
    QVERIFY(noHeader.open(QIODevice::WriteOnly));
    noHeader.write("name,phone\r\nuser00013,401\r\n");
    noHeader.close();
    const QList<QPair<QStringList, QString>> unreadable{
        {{QStringLiteral("select"), QStringLiteral("--csv"), folder + QStringLiteral("/missing.csv")},
         QStringLiteral("culvane-run: the --csv file cannot be read: No such file or directory")},
        {{QStringLiteral("select"), QStringLiteral("--csv"), folder},
         QStringLiteral("culvane-run: the --csv file cannot be read: it is a folder")},
        {deleteAll.mid(0, 1) + QStringList{QStringLiteral("--from"), folder + QStringLiteral("/missing.csv"),
                                           QStringLiteral("--mode"), QStringLiteral("data"),
                                           QStringLiteral("--yes")},
         QStringLiteral("culvane-run: the --from file cannot be read: No such file or directory")},
        {{QStringLiteral("select"), QStringLiteral("--csv"), noHeader.fileName()},
         QStringLiteral(
             "culvane-run: Error! CSV file is not a valid format.  See the help for details on format "
             "requirements.")},
        {{QStringLiteral("delete"), QStringLiteral("--csv"), noHeader.fileName(), QStringLiteral("--mode"),
          QStringLiteral("data"), QStringLiteral("--yes")},
         QStringLiteral("culvane-run: Error! CSV file is not a valid format.")},
    };
    for (const auto& [arguments, expected] : unreadable) {
        const Result result = run(arguments);
        QVERIFY2(result.status == 66, qPrintable(arguments.join(u' ') + QStringLiteral(": ") + result.err));
        QVERIFY2(result.out.isEmpty(), result.out.constData());
        QVERIFY2(result.err.startsWith(expected), qPrintable(result.err));
        QVERIFY2(!result.err.contains(QStringLiteral("Import complete")), qPrintable(result.err));
    }
    QCOMPARE(deletions(*m_standin), 0);
    QVERIFY(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")).isEmpty());

    // A valid selection that finds nobody is no error, and says so: the heading alone, status 0.
    const Result nobody =
        run({QStringLiteral("select"), QStringLiteral("--range"), QStringLiteral("90000-90001")});
    QCOMPARE(nobody.status, 0);
    QCOMPARE(nobody.out, piped(SubscriberGridModel()));
    QCOMPARE(nobody.err, QStringLiteral("culvane-run: no subscribers selected\n"));
}

void TestCulvaneRun::aSubscriberNamedTwiceIsSelectedOnce()
{
    // user00013 by its extension and its alias on one line, and again on a line of its own.
    const QString file = m_standin->folder() + QStringLiteral("/twice.csv");
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("Alias,Extension\r\nuser00013,401\r\nuser00020,\r\nuser00013,\r\n");
    csv.close();
    const QString duplicates = QStringLiteral(
        "culvane-run: 2 duplicate(s) left out: subscribers the file names more than once are added once.\n");

    const Result selected = run({QStringLiteral("select"), QStringLiteral("--csv"), file});
    QVERIFY2(selected.status == 0, qPrintable(selected.err));
    QCOMPARE(selected.err, duplicates);
    const QStringList lines =
        QString::fromUtf8(selected.out).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).startsWith(QStringLiteral("user00013,")));
    QVERIFY(lines.at(2).startsWith(QStringLiteral("user00020,")));

    const Result dry = run({QStringLiteral("delete"), QStringLiteral("--csv"), file, QStringLiteral("--mode"),
                            QStringLiteral("data"), QStringLiteral("--dry-run")});
    QVERIFY2(dry.status == 0, qPrintable(dry.err));
    QVERIFY2(dry.out.contains("\nSummary: dry-run selected=2 processed=2 would-delete=2 "),
             dry.out.constData());
    QVERIFY2(dry.err.startsWith(duplicates), qPrintable(dry.err));

    const Result deleted = run({QStringLiteral("delete"), QStringLiteral("--csv"), file,
                                QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")},
                               environment(0.002));
    QVERIFY2(deleted.status == 0, qPrintable(deleted.err));
    QVERIFY2(deleted.out.contains("\nSummary: selected=2 processed=2 deleted=2 "), deleted.out.constData());
    QCOMPARE(deletions(*m_standin), 2);
}

void TestCulvaneRun::quietOnSuccessWithQtsOwnWarningsPrefixed()
{
    // Nothing on standard error when all went well; standard output starts with the heading, no byte-order
    // mark before it, while a file keeps the mark spreadsheets read.
    const QStringList students{QStringLiteral("select"), QStringLiteral("--cos"), kStudents};
    const Result quiet = run(students);
    QCOMPARE(quiet.status, 0);
    QCOMPARE(quiet.err, QString());
    QVERIFY(quiet.out.startsWith("Alias,Extension,DisplayName,"));
    const QString file = m_standin->folder() + QStringLiteral("/students.csv");
    QCOMPARE(run(students + QStringList{QStringLiteral("-o"), file}).status, 0);
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), "\xEF\xBB\xBF" + quiet.out);

    // --verbose adds the data source and the count.
    const Result verbose = run(students + QStringList{QStringLiteral("-v")});
    QCOMPARE(verbose.status, 0);
    QCOMPARE(verbose.out, quiet.out);
    QVERIFY2(verbose.err.startsWith(
                 QStringLiteral("culvane-run: no ODBC data source OrvaneDb is defined; "
                                "connecting with Driver={SQL Server};server=;database=OrvaneDb\n")),
             qPrintable(verbose.err));
    QVERIFY2(verbose.err.endsWith(QStringLiteral("culvane-run: 17 subscribers selected\n")),
             qPrintable(verbose.err));

    // A warning of Qt's own (here the run log's folder, which can be made neither beside the program nor in
    // the state folder) is a line of culvane-run's like any other.
    QFile blocker(logFolder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcessEnvironment blocked = environment();
    blocked.insert(QStringLiteral("XDG_STATE_HOME"), logFolder());
    const Result noFolder =
        run({QStringLiteral("delete"), QStringLiteral("--range"), QStringLiteral("401-401"),
             QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")},
            blocked);
    QVERIFY(QFile::remove(logFolder()));
    QCOMPARE(noFolder.status, 1);
    QVERIFY2(noFolder.err.contains(QStringLiteral("culvane-run: cannot create the log folder ")),
             qPrintable(noFolder.err));
    for (const QString& line : noFolder.err.split(u'\n', Qt::SkipEmptyParts))
        QVERIFY2(line.startsWith(QStringLiteral("culvane-run: ")), qPrintable(noFolder.err));
    QCOMPARE(deletions(*m_standin), 0);
}

void TestCulvaneRun::aRunCutShortIsResumedFromItsResultsFile()
{
    // A run of the 17 students stopped by Ctrl-C during the first one's wait: 16 rows not attempted.
    QProcess process;
    QVERIFY(startStudentsRun(process, 0.05));
    QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
    QVERIFY(process.waitForFinished(15000));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(deletions(*m_standin), 1);
    const QString stopped = onlyFile(logFolder(), QStringLiteral("Culvane_Results_"));
    QString text = readText(stopped);
    QCOMPARE(text.count(QStringLiteral(",not attempted,")), 16);

    // One row a connection never carried (not sent), one subscriber deleted since by other means, and one
    // row twice: the resume takes the 15 that are still there, once each. A detail quoted over two lines
    // (a driver's message) is one field of its row.
    QVERIFY(text.contains(QStringLiteral(",sync timed out,,")));
    text.replace(QStringLiteral(",sync timed out,,"),
                 QStringLiteral(",sync timed out,\"locked, \"\"busy\"\"\r\nthen, not attempted,\","));
    const qsizetype second = text.indexOf(QStringLiteral(",not attempted,"));
    text.replace(second, 15, QStringLiteral(",not sent,"));
    const QString lastRow = text.section(QStringLiteral("\r\n"), -2, -2);
    QVERIFY(lastRow.startsWith(QStringLiteral("user00118,")));
    text += lastRow + QStringLiteral("\r\n");
    QFile edited(stopped);
    QVERIFY(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
    edited.write(text.toUtf8());
    edited.close();
    QVERIFY(m_standin->exec(QStringLiteral("DELETE FROM subscriber WHERE Alias = 'user00111'")));

    const QStringList resume{QStringLiteral("delete"), QStringLiteral("--from"), stopped,
                             QStringLiteral("--mode"), QStringLiteral("data"),   QStringLiteral("--yes")};
    const Result resumed = run(resume, environment(0.002));
    QVERIFY2(resumed.status == 0, qPrintable(resumed.err));
    QCOMPARE(deletions(*m_standin), 16);
    QVERIFY2(resumed.out.contains("\nSummary: selected=15 processed=15 deleted=15 "),
             resumed.out.constData());
    QVERIFY2(resumed.err.startsWith(QStringLiteral(
                 "culvane-run: 1 row left out, their requests were sent: 1 sync timed out\n"
                 "culvane-run: 1 row left out: the results file names the same subscriber more "
                 "than once\n"
                 "culvane-run: 1 of the rows taken again names no subscriber on the server now\n")),
             qPrintable(resumed.err));
    const QString again = fileNamed(resumed.out, QStringLiteral("Results: "));
    const QString resumedResults = readText(again);
    QCOMPARE(resumedResults.count(QStringLiteral(",deleted,")), 15);
    QVERIFY(!resumedResults.contains(QStringLiteral("user00006,")));
    QVERIFY(!resumedResults.contains(QStringLiteral("user00111,")));
    QVERIFY(resumedResults.contains(QStringLiteral("\r\nuser00013,")));

    // Its own results file has nothing left to do: said, status 0, nothing asked of the server.
    const Result done = run({QStringLiteral("delete"), QStringLiteral("--from"), again,
                             QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes")});
    QCOMPARE(done.status, 0);
    QVERIFY(done.out.isEmpty());
    QCOMPARE(done.err,
             QStringLiteral("culvane-run: 15 rows left out, their requests were sent: 15 deleted\n"
                            "culvane-run: nothing left to do: no row of the results file waits for its "
                            "request\n"));
    QCOMPARE(deletions(*m_standin), 16);
    QCOMPARE(QDir(logFolder()).entryList({QStringLiteral("Culvane_Log_*")}, QDir::Files).size(), 2);

    // A dry run's file was never a run: its rows are left out for that reason.
    const QString extension =
        m_standin->scalar(QStringLiteral("SELECT DTMFAccessID FROM subscriber WHERE Alias = 'user00012'"))
            .toString();
    QVERIFY(!extension.isEmpty());
    const Result dry = run({QStringLiteral("delete"), QStringLiteral("--range"), extension + u'-' + extension,
                            QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--dry-run")});
    QVERIFY2(dry.status == 0, qPrintable(dry.err));
    const QString dryResults = fileNamed(dry.out, QStringLiteral("Results: "));
    const Result fromDry =
        run({QStringLiteral("delete"), QStringLiteral("--from"), dryResults, QStringLiteral("--mode"),
             QStringLiteral("data"), QStringLiteral("--dry-run")});
    QCOMPARE(fromDry.status, 0);
    QCOMPARE(fromDry.err,
             QStringLiteral("culvane-run: 1 row left out, only rows not attempted or not sent are "
                            "taken again: 1 would delete\nculvane-run: nothing left to do: no row of "
                            "the results file waits for its request\n"));
}

namespace {

// A subscriber's block in the run log: its three lines, then what became of it, up to the next block or
// request line.
QString blockOf(const QString& log, const QString& alias)
{
    const QString heading =
        QStringLiteral("** Deleting Subscriber **\r\n    Alias=") + alias + QStringLiteral("\r\n");
    const qsizetype at = log.indexOf(heading);
    if (at < 0)
        return QString();
    qsizetype end = log.size();
    for (const QString& next : {QStringLiteral("** Deleting Subscriber **"),
                                QStringLiteral("    Request sent"), QStringLiteral("**** Run stopped")}) {
        const qsizetype found = log.indexOf(next, at + heading.size());
        if (found >= 0)
            end = std::min(end, found);
    }
    return log.mid(at, end - at);
}

QStringList aliasesOf(const QStringList& csvLines)
{
    QStringList aliases;
    for (const QString& line : csvLines.mid(1))
        aliases.append(line.section(QLatin1Char(','), 0, 0));
    return aliases;
}

} // namespace

void TestCulvaneRun::inFlightOverlapsTheWaitsWithEachSubscribersLinesTogether()
{
    QVERIFY(
        run({QStringLiteral("--help")}).out.contains("--in-flight N       wait for up to N subscribers'"));
    for (const QString& count : {QStringLiteral("0"), QStringLiteral("17"), QStringLiteral("four")}) {
        const Result wrong =
            run({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents, QStringLiteral("--mode"),
                 QStringLiteral("data"), QStringLiteral("--yes"), QStringLiteral("--in-flight"), count});
        QCOMPARE(wrong.status, 64);
        QVERIFY2(wrong.err.startsWith(
                     QStringLiteral("culvane-run: --in-flight takes a whole number from 1 to 16\n")),
                 qPrintable(wrong.err));
    }
    QCOMPARE(deletions(*m_standin), 0);

    // The first student's synchronisation never finishes, user00013's fails, the rest are there at once:
    // four at a time, the others pass the first while it waits, and its time-out comes last.
    setSyncMarks(*m_standin);
    QVERIFY(m_standin->exec(
        QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = 'user00006'")));
    QVERIFY(m_standin->exec(
        QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 0 WHERE Alias = 'user00027'")));
    const Result selected = run({QStringLiteral("select"), QStringLiteral("--cos"), kStudents});
    QCOMPARE(selected.status, 0);
    const QStringList selection =
        aliasesOf(QString::fromUtf8(selected.out).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts));
    QCOMPARE(selection.size(), 17);
    QCOMPARE(selection.constFirst(), QStringLiteral("user00006"));

    const Result result =
        run({QStringLiteral("delete"), QStringLiteral("--cos"), kStudents, QStringLiteral("--mode"),
             QStringLiteral("data"), QStringLiteral("--yes"), QStringLiteral("--in-flight"),
             QStringLiteral("4"), QStringLiteral("--verbose")},
            environment(0.01));
    QVERIFY2(result.status == 1, qPrintable(result.err));
    QCOMPARE(deletions(*m_standin), 17);
    QVERIFY2(
        result.out.endsWith("\nSummary: selected=17 processed=17 deleted=15 sync-failed=1 sync-timed-out=1 "
                            "rejected=0 request-failed=0 not-sent=0 outcome-unknown=0 not-attempted=0 "
                            "errors=2 ended=completed\n"),
        result.out.constData());

    const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
    // Every request is named once, when it goes out, in the order of the selection.
    QCOMPARE(log.count(QStringLiteral("    Request sent for alias= ")), 17);
    QVERIFY(log.contains(QRegularExpression(
        QStringLiteral("\r\n    Request sent for alias= user00006, waiting for directory sync \\(ticket "
                       "\\{[0-9A-F-]{36}\\}\\)\r\n"))));
    qsizetype previous = -1;
    for (const QString& alias : selection) {
        const qsizetype sent =
            log.indexOf(QStringLiteral("Request sent for alias= ") + alias + QLatin1Char(','));
        QVERIFY2(sent > previous, qPrintable(alias));
        previous = sent;
    }
    // Each block stands together, whole, with its outcome.
    for (const QString& alias : selection) {
        const QString block = blockOf(log, alias);
        QVERIFY2(block.contains(QStringLiteral("\r\n    ObjectID={")), qPrintable(alias + block));
        if (alias == QLatin1String("user00006"))
            QVERIFY2(block.endsWith(QStringLiteral(
                         "\r\nSyncronization process failed to complete in a timely fashion.  Check the "
                         "ZAVEvedUda "
                         "logs in the \\Orvane\\Logs directory\r\n(error)SQL Sync to directory failed when "
                         "deleting subscriber with alias= user00006\r\nYou can check the ZAVEvedUda logs in "
                         "the \\Orvane\\logs directory for more details\r\n")),
                     qPrintable(block));
        else if (alias == QLatin1String("user00013"))
            QVERIFY2(block.endsWith(QStringLiteral("\r\n(error)SQL Sync to directory failed when deleting "
                                                   "subscriber with alias= user00013\r\nYou can check the "
                                                   "ZAVEvedUda logs in the \\Orvane\\logs directory for more "
                                                   "details\r\n")),
                     qPrintable(block));
        else
            QVERIFY2(block.endsWith(QStringLiteral("}\r\n    Directory sync complete for subscriber\r\n")),
                     qPrintable(block));
    }
    // The outcomes came out of order: the time-out, among fast tickets, last.
    QVERIFY(log.indexOf(QStringLiteral("Alias=user00006\r\n")) >
            log.indexOf(QStringLiteral("Alias=user00118\r\n")));

    // The results file is in the order of the selection once the run has ended.
    const QStringList lines = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Results_")))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(aliasesOf(lines), selection);
    QVERIFY2(lines.at(1).contains(QStringLiteral(",sync timed out,,{")), qPrintable(lines.at(1)));
    QVERIFY2(lines.at(0).endsWith(
                 QStringLiteral("Alias,ObjectID,Extension,Outcome,Detail,Ticket,Started,Finished")),
             qPrintable(lines.at(0)));

    // One statement polls every ticket waiting: the time-out's twenty polls carry the other sixteen.
    static const QRegularExpression statements(QStringLiteral(
        "culvane-run: (\\d+) statements in [0-9.]+ s, [0-9.]+ a second: 17 deletion requests, (\\d+) "
        "ticket polls \\([0-9.]+ a second\\), 16 ticket removals\n"));
    const QRegularExpressionMatch counted = statements.match(result.err);
    QVERIFY2(counted.hasMatch(), qPrintable(result.err));
    QVERIFY2(counted.captured(2).toInt() <= 21, qPrintable(counted.captured(0)));
}

void TestCulvaneRun::inFlightStopsCtrlCTwiceServerLostAndKilled()
{
    const auto lines = [&](const QString& prefix) {
        return readText(onlyFile(logFolder(), prefix)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    };
    // Ctrl-C: no further request; the four in flight are waited for, here to their time-outs.
    {
        QProcess process;
        QVERIFY(startStudentsInFlight(process, 0.05));
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitCode(), 1);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("culvane-run: Ctrl-C: no further request; stopping once the "
                                                "subscribers in flight are done")),
                 qPrintable(errors));
        QVERIFY2(process.readAllStandardOutput().endsWith(
                     " sync-timed-out=4 rejected=0 request-failed=0 not-sent=0 outcome-unknown=0 "
                     "not-attempted=13 errors=4 ended=ctrl-c\n"),
                 qPrintable(errors));
        QCOMPARE(deletions(*m_standin), 4);
        const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
        QCOMPARE(log.count(QStringLiteral("    Request sent for alias= ")), 4);
        QCOMPARE(log.count(QStringLiteral("Syncronization process failed to complete")), 4);
        QVERIFY2(
            log.endsWith(QStringLiteral("**** Run stopped by the user after 4 of 17 subscribers ****\r\n")),
            qPrintable(log));
        const QStringList results = lines(QStringLiteral("Culvane_Results_"));
        QCOMPARE(results.size(), 18);
        for (const QString& line : results.mid(1, 4))
            QVERIFY2(line.contains(QStringLiteral(",sync timed out,,{")), qPrintable(line));
        for (const QString& line : results.mid(5))
            QVERIFY2(line.endsWith(QStringLiteral(",not attempted,,,,")), qPrintable(line));
    }

    // Ctrl-C twice: every wait in flight ends at once, its outcome unknown.
    cleanup();
    init();
    {
        QProcess process;
        QVERIFY(startStudentsInFlight(process, 0.5));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
        QTest::qWait(200);
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0);
        QVERIFY(process.waitForFinished(15000));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardOutput().endsWith(
            " outcome-unknown=4 not-attempted=13 errors=4 ended=ctrl-c\n"));
        const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
        QCOMPARE(
            log.count(QStringLiteral("The wait for the directory synchronisation was ended by the user")), 4);
        const QStringList results = lines(QStringLiteral("Culvane_Results_"));
        QCOMPARE(results.size(), 18);
        for (const QString& line : results.mid(1, 4))
            QVERIFY2(line.contains(QStringLiteral(
                         ",outcome unknown,outcome unknown: the wait was ended by the user,{")),
                     qPrintable(line));
    }

    // The server lost with four in flight: the poll that fails ends their waits, and the run stops with 75.
    cleanup();
    init();
    {
        QVERIFY(m_standin->exec(QStringLiteral("PRAGMA journal_mode=DELETE")));
        const QString file = m_standin->databasePath();
        const QString aside = file + QStringLiteral(".aside");
        QProcess process;
        QVERIFY(startStudentsInFlight(process, 0.05));
        QVERIFY(QFile::rename(file, aside));
        QVERIFY(process.waitForFinished(20000));
        QVERIFY(QFile::rename(aside, file));
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(process.exitCode() == 75, qPrintable(errors));
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY2(out.endsWith("\nSummary: selected=17 processed=4 deleted=0 sync-failed=4 sync-timed-out=0 "
                              "rejected=0 request-failed=0 not-sent=0 outcome-unknown=0 not-attempted=13 "
                              "errors=4 ended=unreachable\n"),
                 out.constData());
        QCOMPARE(deletions(*m_standin), 4);
        const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
        QCOMPARE(log.count(QStringLiteral("Directory sync status could not be read from the database")), 4);
        // The third in a row stops the run; the fourth, ended by the same poll, is recorded with them.
        QVERIFY2(
            log.contains(QStringLiteral("**** Run stopped after 4 of 17 subscribers, at the subscriber with "
                                        "alias= user00020: the database could not be reached for 3 "
                                        "subscribers in a row (")),
            qPrintable(log));
    }

    // Killed while waiting: the log names every request sent and holds every block ended; the results file
    // holds every outcome read, as they came.
    cleanup();
    init();
    {
        QVERIFY(m_standin->exec(
            QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = 'user00006'")));
        QProcess process;
        process.setProcessEnvironment(environment(0.5));
        process.start(m_binary, {QStringLiteral("delete"), QStringLiteral("--cos"), kStudents,
                                 QStringLiteral("--mode"), QStringLiteral("data"), QStringLiteral("--yes"),
                                 QStringLiteral("--in-flight"), QStringLiteral("4")});
        process.closeWriteChannel();
        QVERIFY(process.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(lines(QStringLiteral("Culvane_Results_")).size() == 17, 10000);
        process.kill();
        QVERIFY(process.waitForFinished(5000));
        const QString log = readText(onlyFile(logFolder(), QStringLiteral("Culvane_Log_")));
        QVERIFY(log.endsWith(QStringLiteral("\r\n")));
        QCOMPARE(log.count(QStringLiteral("    Request sent for alias= ")), 17);
        QCOMPARE(log.count(QStringLiteral("    Directory sync complete for subscriber\r\n")), 16);
        QVERIFY(blockOf(log, QStringLiteral("user00006")).isEmpty());
        const QStringList results = lines(QStringLiteral("Culvane_Results_"));
        for (const QString& line : results.mid(1))
            QVERIFY2(line.contains(QStringLiteral(",deleted,,{")), qPrintable(line));
        QVERIFY(!aliasesOf(results).contains(QStringLiteral("user00006")));
    }
}

QTEST_GUILESS_MAIN(TestCulvaneRun)
#include "test_culvanerun.moc"
