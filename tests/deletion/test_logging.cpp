#include "common/ScriptedPorts.h"
#include "deletion/Logging.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "server/WorkStationInfo.h"

#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

const QByteArray Stars(61, '*');

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void setModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
}

// The header's bytes up to the start time, for the account this test runs as.
QByteArray expectedHeaderStart()
{
    const QByteArray user = getpwuid(getuid())->pw_name;
    const QByteArray domain = QByteArray::fromStdString(sharedWorkStationInfo().Domain());
    return "\r\n" + Stars + "\r\n" + "Running Culvane version: 4.0.23\r\n" +
           "Running under domain account: " + domain + "\\" + user + "\r\n" +
           "Search for '(error)' or '(warning)' to find logged errors and warnings during the import "
           "process.\r\n" +
           Stars + "\r\n\r\n" + "Starting deletion process at:";
}

// Checks a whole header at the start of a log and gives back what follows it.
QByteArray afterHeader(const QByteArray& log)
{
    const QByteArray start = expectedHeaderStart();
    if (!log.startsWith(start)) {
        qWarning("header differs:\n%s", log.constData());
        return QByteArray("<bad header>");
    }
    static const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\r\n\r\n"));
    const QString rest = QString::fromUtf8(log.mid(start.size()));
    const QRegularExpressionMatch match = time.match(rest);
    if (!match.hasMatch())
        return QByteArray("<bad start time>");
    return rest.mid(match.capturedLength()).toUtf8();
}

} // namespace

class TestLogging : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void writingBeforeAnyLogIsOpen();
    void headerLinesAndCounts();
    void countsStopAt32767();
    void sameSecondTakesTheNextFreeName();
    void cleanupByCalendarDays();
    void unusableLogFolder();
    void defaultLogFolder();
    void exitApplicationClosesTheLog();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_logs;
};

void TestLogging::initTestCase()
{
    modLocalize::setProgramLocation(QString(), QStringLiteral("Culvane"));
}

void TestLogging::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_logs = m_dir->filePath(QStringLiteral("logs"));
    Logging::setLogFolder(m_logs);
}

void TestLogging::cleanup()
{
    Logging::CloseRunLog();
    Logging::setLogFolder(QString());
    m_dir.reset();
}

void TestLogging::writingBeforeAnyLogIsOpen()
{
    QSignalSpy lines(&Logging::channel(), &Logging::RunLogChannel::lineWritten);
    Logging::WriteLogLine(QStringLiteral("(error) before the first run"));
    Logging::WriteLogLine(QStringLiteral("(warning) too"));
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(1));
    QCOMPARE(Logging::RunLogWarningCount(), std::int16_t(1));
    QCOMPARE(lines.count(), 2);
    QVERIFY(!Logging::RunLogIsOpen());
    QVERIFY(Logging::RunLogPath().isEmpty());
    QVERIFY(Logging::RunLogOpenFailure().isEmpty());
    QVERIFY(!QFileInfo::exists(m_logs));
}

void TestLogging::headerLinesAndCounts()
{
    ScriptedMessageBoxes boxes;
    const QString path = Logging::GenerateNewLogFileName();
    QVERIFY(QFileInfo(m_logs).isDir()); // a missing folder is made
    QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(m_logs).absoluteFilePath());
    static const QRegularExpression name(QStringLiteral("^Culvane_Log_\\d{8}_\\d\\d_\\d\\d_\\d\\d\\.TXT$"));
    QVERIFY2(name.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));

    QSignalSpy lines(&Logging::channel(), &Logging::RunLogChannel::lineWritten);
    Logging::OpenRunLog(path, false);
    QVERIFY(Logging::RunLogIsOpen());
    QVERIFY(Logging::RunLogOpenFailure().isEmpty());
    QCOMPARE(Logging::RunLogPath(), path);
    // The header names "(error)" and "(warning)" but is not counted.
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(0));
    QCOMPARE(Logging::RunLogWarningCount(), std::int16_t(0));
    QCOMPARE(lines.count(), 6);
    QVERIFY(lines.at(0).at(0).toString().startsWith(QLatin1String("\r\n*")));

    const QStringList written = {QStringLiteral("plain line"),
                                 QStringLiteral("jsmith (ERROR): not deleted"),
                                 QStringLiteral("(error no closing parenthesis"),
                                 QStringLiteral("(Warning) and (error) together"),
                                 QStringLiteral("first\r\nsecond"),
                                 QStringLiteral("M\u00fcller (warning)")};
    for (const QString& line : written)
        Logging::WriteLogLine(line);
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(2));
    QCOMPARE(Logging::RunLogWarningCount(), std::int16_t(2));
    QCOMPARE(lines.count(), 6 + written.size());
    QCOMPARE(lines.last().at(0).toString(), written.last());

    // Every line is in the file while the log is still open, so a killed run keeps them.
    const QByteArray body =
        "plain line\r\njsmith (ERROR): not deleted\r\n(error no closing parenthesis\r\n"
        "(Warning) and (error) together\r\nfirst\r\nsecond\r\nM\xc3\xbcller (warning)\r\n";
    QCOMPARE(afterHeader(readAll(path)), body);

    Logging::CloseRunLog();
    QVERIFY(!Logging::RunLogIsOpen());
    Logging::CloseRunLog(); // closing twice is harmless
    QCOMPARE(Logging::RunLogPath(), path);
    Logging::WriteLogLine(QStringLiteral("(error) after the end"));
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(3));
    QCOMPARE(afterHeader(readAll(path)), body);

    // Appending keeps the earlier run and adds a second header.
    Logging::OpenRunLog(path, true);
    Logging::WriteLogLine(QStringLiteral("again"));
    Logging::CloseRunLog();
    const QByteArray both = readAll(path);
    const int second = both.indexOf(expectedHeaderStart(), 1);
    QVERIFY(second > 0);
    QCOMPARE(afterHeader(both.mid(second)), QByteArray("again\r\n"));
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(0));

    // A new log empties the file it is given.
    Logging::OpenRunLog(path, false);
    Logging::CloseRunLog();
    QCOMPARE(afterHeader(readAll(path)), QByteArray());
    QVERIFY(boxes.texts().isEmpty());
}

void TestLogging::countsStopAt32767()
{
    Logging::OpenRunLog(m_dir->filePath(QStringLiteral("many.TXT")), false);
    for (int i = 0; i < 32768; ++i)
        Logging::WriteLogLine(QStringLiteral("(error) (warning)"));
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(32767));
    QCOMPARE(Logging::RunLogWarningCount(), std::int16_t(32767));
    Logging::CloseRunLog();
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("many.TXT"))).count("(error) (warning)\r\n"), 32768);
}

void TestLogging::sameSecondTakesTheNextFreeName()
{
    QVERIFY(QDir().mkpath(m_logs));
    // Earlier runs within the next few seconds, so that the new name falls on one of them.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 3; ++s) {
        const QString stamp = now.addSecs(s).toString(QStringLiteral("yyyyMMdd_HH_mm_ss"));
        writeFile(m_logs + QStringLiteral("/Culvane_Log_") + stamp + QStringLiteral(".TXT"), "first run\r\n");
    }
    const QString path = Logging::GenerateNewLogFileName();
    QVERIFY2(path.endsWith(QLatin1String("_2.TXT")), qPrintable(path));
    QVERIFY(QFileInfo::exists(path));
    const QString next = Logging::GenerateNewLogFileName();
    QVERIFY2(next.endsWith(QLatin1String("_2.TXT")) || next.endsWith(QLatin1String("_3.TXT")),
             qPrintable(next));
    QVERIFY(next != path);

    Logging::OpenRunLog(path, false);
    Logging::WriteLogLine(QStringLiteral("second run"));
    Logging::CloseRunLog();
    const QString first = path.left(path.size() - int(qstrlen("_2.TXT"))) + QStringLiteral(".TXT");
    QCOMPARE(readAll(first), QByteArray("first run\r\n"));
    QCOMPARE(afterHeader(readAll(path)), QByteArray("second run\r\n"));
}

void TestLogging::cleanupByCalendarDays()
{
    ScriptedMessageBoxes boxes;
    QVERIFY(QDir().mkpath(m_logs + QStringLiteral("/older")));
    const QDateTime now = QDateTime::currentDateTime();
    const QString day30 = m_logs + QStringLiteral("/Culvane_Log_30.TXT");
    const QString day31 = m_logs + QStringLiteral("/Culvane_Log_31.TXT");
    const QString readOnly = m_logs + QStringLiteral("/readonly.TXT");
    const QString otherName = m_logs + QStringLiteral("/notes.dat");
    const QString inSubfolder = m_logs + QStringLiteral("/older/Culvane_Log_old.TXT");
    const QString future = m_logs + QStringLiteral("/future.TXT");
    for (const QString& path : {day30, day31, readOnly, otherName, inSubfolder, future})
        writeFile(path, "x\r\n");
    // The first second of the day 30 days ago is 30 boundaries back however late it is now.
    setModified(day30, QDateTime(now.date().addDays(-30), QTime(0, 0, 1)));
    setModified(day31, QDateTime(now.date().addDays(-31), QTime(23, 59, 58)));
    setModified(readOnly, now.addDays(-400));
    setModified(otherName, now.addDays(-31));
    setModified(inSubfolder, now.addDays(-90));
    setModified(future, now.addDays(40));
    QVERIFY(QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadGroup));

    Logging::CleanupLogFiles();
    QVERIFY(QFileInfo::exists(day30));
    QVERIFY(!QFileInfo::exists(day31));
    QVERIFY(!QFileInfo::exists(readOnly));
    QVERIFY(!QFileInfo::exists(otherName));
    QVERIFY(QFileInfo::exists(inSubfolder));
    QVERIFY(QFileInfo::exists(future));
    QVERIFY(boxes.texts().isEmpty());

    // A new log name cleans up as well.
    setModified(day30, now.addDays(-31));
    Logging::GenerateNewLogFileName();
    QVERIFY(!QFileInfo::exists(day30));

    // No folder: nothing to do.
    Logging::setLogFolder(m_dir->filePath(QStringLiteral("missing")));
    Logging::CleanupLogFiles();
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("missing"))));
    QVERIFY(boxes.texts().isEmpty());
}

void TestLogging::unusableLogFolder()
{
    // A regular file where the folder should be: even root cannot make logs in it.
    writeFile(m_logs, "not a folder");
    ScriptedMessageBoxes boxes;
    const QString path = Logging::GenerateNewLogFileName();
    QCOMPARE(
        boxes.texts(),
        QStringList{QStringLiteral(
            "(error):75 (Path/File access error) in procedure GenerateNewLogFileName of Module Module1")});
    QVERIFY(path.startsWith(m_logs + QLatin1Char('/')));

    Logging::OpenRunLog(path, false);
    QVERIFY(!Logging::RunLogIsOpen());
    QVERIFY(!Logging::RunLogOpenFailure().isEmpty());
    QCOMPARE(Logging::RunLogPath(), path);
    Logging::WriteLogLine(QStringLiteral("(error) still counted"));
    QCOMPARE(Logging::RunLogErrorCount(), std::int16_t(1));
    Logging::CloseRunLog();
    QCOMPARE(readAll(m_logs), QByteArray("not a folder"));
    QCOMPARE(boxes.texts().size(), 1);

    // The next log that opens clears the reason.
    Logging::OpenRunLog(m_dir->filePath(QStringLiteral("fine.TXT")), false);
    QVERIFY(Logging::RunLogIsOpen());
    QVERIFY(Logging::RunLogOpenFailure().isEmpty());
}

void TestLogging::defaultLogFolder()
{
    const QString program = m_dir->filePath(QStringLiteral("program"));
    QVERIFY(QDir().mkpath(program));
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    modLocalize::setProgramLocation(program, QStringLiteral("Culvane"));
    Logging::setLogFolder(QString());

    QCOMPARE(Logging::LogFolder(), program + QStringLiteral("/logs"));
    QVERIFY(QDir().mkpath(program + QStringLiteral("/logs")));
    QCOMPARE(Logging::LogFolder(), program + QStringLiteral("/logs"));

    // logs beside the program cannot be used: the user's state folder instead.
    QVERIFY(QDir(program + QStringLiteral("/logs")).removeRecursively());
    writeFile(program + QStringLiteral("/logs"), "");
    qputenv("XDG_STATE_HOME", m_dir->filePath(QStringLiteral("state")).toUtf8());
    QCOMPARE(Logging::LogFolder(), m_dir->filePath(QStringLiteral("state/culvane/logs")));
    ScriptedMessageBoxes boxes;
    const QString path = Logging::GenerateNewLogFileName();
    QVERIFY(boxes.texts().isEmpty());
    QCOMPARE(QFileInfo(path).absolutePath(), m_dir->filePath(QStringLiteral("state/culvane/logs")));

    qunsetenv("XDG_STATE_HOME");
    QCOMPARE(Logging::LogFolder(), QDir::homePath() + QStringLiteral("/.local/state/culvane/logs"));

    if (savedState.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", savedState);
    modLocalize::setProgramLocation(QString(), QStringLiteral("Culvane"));
}

void TestLogging::exitApplicationClosesTheLog()
{
    int exits = 0;
    const Module1::ExitHandler previous = Module1::setExitHandler([&exits] { ++exits; });
    const QString path = m_dir->filePath(QStringLiteral("exit.TXT"));
    Logging::OpenRunLog(path, false);
    Logging::WriteLogLine(QStringLiteral("last line"));
    Module1::ExitApplication();
    QCOMPARE(exits, 1);
    QVERIFY(!Logging::RunLogIsOpen());
    Logging::WriteLogLine(QStringLiteral("after the end"));
    QCOMPARE(afterHeader(readAll(path)), QByteArray("last line\r\n"));

    // Without an open log the end goes on as usual.
    Module1::ExitApplication();
    QCOMPARE(exits, 2);
    Module1::setExitHandler(previous);
}

QTEST_GUILESS_MAIN(TestLogging)
#include "test_logging.moc"
