#include "common/StandinFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

// Runs a command to its end; its standard output, or a failed check.
QByteArray run(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(540000)) {
        qWarning("%s did not finish: %s", qPrintable(program), qPrintable(process.errorString()));
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    const QByteArray errors = process.readAllStandardError();
    if (process.exitCode() != 0)
        qWarning("%s %s: %s", qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))),
                 errors.constData());
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

// Whether the process holds the file open.
bool holdsOpen(qint64 pid, const QString& file)
{
    const QString target = QFileInfo(file).canonicalFilePath();
    QDirIterator fds(QStringLiteral("/proc/%1/fd").arg(pid), QDir::Files | QDir::System);
    while (fds.hasNext()) {
        if (QFileInfo(fds.next()).symLinkTarget() == target)
            return true;
    }
    return false;
}

// Gives a folder its permissions back when the check that took them ends, however it ends, so that the
// scratch root can still be removed.
class PermissionsBack {
public:
    explicit PermissionsBack(const QString& folder) : m_folder(folder), m_kept(QFile::permissions(folder)) {}
    ~PermissionsBack() { QFile::setPermissions(m_folder, m_kept); }
    PermissionsBack(const PermissionsBack&) = delete;
    PermissionsBack& operator=(const PermissionsBack&) = delete;

private:
    QString m_folder;
    QFileDevice::Permissions m_kept;
};

const QString kProgramFolder = QStringLiteral("/usr/lib/culvane");

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void theProgramFolderAndItsEntries();
    void theDocumentsManualPagesAndControlFile();
    void runLogsGoToTheStateHomeWhenTheProgramFolderIsNotWritable();
    void theInstalledProgramShowsItsFirstPage();
    void aRefusedStartEndsWithItsMessageAndStatus2();

private:
    QProcessEnvironment programEnvironment(const QString& registry, const QString& home) const;

    QTemporaryDir m_scratch;
    QString m_deb;
    QString m_root;
};

void TestPackage::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty(),
             "dpkg-deb is needed (scripts/install-deps)");
    int status = 0;
    run(QStringLiteral(CULVANE_CPACK),
        {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
         QStringLiteral(CULVANE_BINARY_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
         m_scratch.filePath(QStringLiteral("out"))},
        &status);
    QCOMPARE(status, 0);
    const QStringList debs =
        QDir(m_scratch.filePath(QStringLiteral("out"))).entryList({QStringLiteral("culvane_*.deb")});
    QCOMPARE(debs.size(), 1);
    m_deb = m_scratch.filePath(QStringLiteral("out/") + debs.constFirst());
    m_root = m_scratch.filePath(QStringLiteral("root"));
    run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root}, &status);
    QCOMPARE(status, 0);
}

void TestPackage::theProgramFolderAndItsEntries()
{
    const QDir program(m_root + kProgramFolder);
    const QFileInfo executable(program.filePath(QStringLiteral("Culvane")));
    QVERIFY(executable.isFile() && executable.isExecutable());

    // Every language library and help page of the build, and nothing a run leaves behind.
    QStringList expected;
    QDirIterator built(QStringLiteral(CULVANE_BIN_DIR), QDir::Files, QDirIterator::Subdirectories);
    while (built.hasNext()) {
        const QString path = built.next();
        const QString name = built.fileName();
        if (path.contains(QStringLiteral("/logs/")))
            continue;
        if ((name.startsWith(QStringLiteral("Culvane_")) &&
             name.endsWith(QStringLiteral(".dll"), Qt::CaseInsensitive)) ||
            name.endsWith(QStringLiteral(".htm"), Qt::CaseInsensitive) ||
            name == QStringLiteral("culvane_http.so"))
            expected.append(QDir(QStringLiteral(CULVANE_BIN_DIR)).relativeFilePath(path));
    }
    QVERIFY2(expected.contains(QStringLiteral("Culvane_DEU.dll")), qPrintable(expected.join(u',')));
    // The update check's HTTP module, found beside the executable.
    QVERIFY2(expected.contains(QStringLiteral("culvane_http.so")), qPrintable(expected.join(u',')));
    for (const QString& file : expected)
        QVERIFY2(QFileInfo(program.filePath(file)).isFile(), qPrintable(file));
    QVERIFY(!program.exists(QStringLiteral("logs")));

    // `culvane` on the PATH leads to the program folder by a relative link, so whatever the root.
    const QFileInfo onPath(m_root + QStringLiteral("/usr/bin/culvane"));
    QVERIFY(onPath.isSymLink());
    QCOMPARE(run(QStringLiteral("readlink"), {onPath.filePath()}), QByteArray("../lib/culvane/Culvane\n"));
    QCOMPARE(onPath.canonicalFilePath(), executable.canonicalFilePath());

    // culvane-run beside it, on the PATH.
    const QFileInfo runProgram(program.filePath(QStringLiteral("culvane-run")));
    QVERIFY(runProgram.isFile() && runProgram.isExecutable());
    const QFileInfo runOnPath(m_root + QStringLiteral("/usr/bin/culvane-run"));
    QVERIFY(runOnPath.isSymLink());
    QCOMPARE(run(QStringLiteral("readlink"), {runOnPath.filePath()}),
             QByteArray("../lib/culvane/culvane-run\n"));
    QCOMPARE(runOnPath.canonicalFilePath(), runProgram.canonicalFilePath());
    int status = -1;
    const QByteArray help = run(runOnPath.filePath(), {QStringLiteral("--help")}, &status);
    QCOMPARE(status, 0);
    QVERIFY(help.contains("Exit status:"));
    // Started through its link, it still looks for the registry file in the program folder.
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("CULVANE_REGISTRY"));
        process.setProcessEnvironment(environment);
        process.start(runOnPath.filePath(), {QStringLiteral("select"), QStringLiteral("--all")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(errors.contains(program.filePath(QStringLiteral("HKLM.reg"))), qPrintable(errors));
    }

    // Nothing where Debian keeps software installed by hand.
    const QString listing = QString::fromUtf8(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb}));
    QVERIFY2(!listing.contains(QStringLiteral(" ./opt/")), qPrintable(listing));

    QFile desktop(m_root + QStringLiteral("/usr/share/applications/culvane.desktop"));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    for (const char* line : {"[Desktop Entry]", "\nType=Application\n", "\nName=Culvane\n",
                             "\nExec=culvane\n", "\nIcon=culvane\n", "\nTerminal=false\n"})
        QVERIFY2(entry.contains(QLatin1String(line)), line);
    QFile icon(m_root + QStringLiteral("/usr/share/icons/hicolor/scalable/apps/culvane.svg"));
    QVERIFY(icon.open(QIODevice::ReadOnly));
    QVERIFY(icon.readAll().contains("<svg xmlns=\"http://www.w3.org/2000/svg\""));

    // Debian's runtime: what the linker found, and the plugins and tools it cannot see. No tests inside.
    QStringList depends;
    for (const QString& item : QString::fromUtf8(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb,
                                                                                  QStringLiteral("Depends")}))
                                   .split(QLatin1Char(',')))
        depends.append(item.trimmed().section(QLatin1Char(' '), 0, 0));
    for (const char* package :
         {"libqt6widgets6", "libqt6sql6", "libqt6sql6-odbc", "unixodbc", "libqt6gui6", "libqt6network6"})
        QVERIFY2(depends.contains(QLatin1String(package)), qPrintable(depends.join(QLatin1Char(','))));
    QVERIFY2(!listing.contains(QStringLiteral("test_")) && !listing.contains(QStringLiteral("bench_")),
             qPrintable(listing));
}

void TestPackage::theDocumentsManualPagesAndControlFile()
{
    // A manual page for each program on the PATH, compressed as Debian keeps them.
    const auto page = [this](const QString& name) {
        const QString manual =
            m_root + QStringLiteral("/usr/share/man/man1/") + name + QStringLiteral(".1.gz");
        return QFileInfo(manual).isFile()
                   ? QString::fromUtf8(run(QStringLiteral("gzip"), {QStringLiteral("-dc"), manual}))
                   : QString();
    };
    const auto escaped = [](const char* text) {
        return QString::fromLatin1(text).replace(QStringLiteral("-"), QStringLiteral("\\-"));
    };
    const QString runPage = page(QStringLiteral("culvane-run"));
    QVERIFY2(runPage.startsWith(QStringLiteral(".TH CULVANE-RUN 1 ")), qPrintable(runPage.left(200)));
    for (const char* section : {".SH EXIT STATUS", ".SH EXAMPLES", "--dry-run", "--password-file",
                                "/usr/lib/culvane/logs/Culvane_Log_"})
        QVERIFY2(runPage.contains(escaped(section)), section);
    const QString wizardPage = page(QStringLiteral("culvane"));
    QVERIFY2(wizardPage.startsWith(QStringLiteral(".TH CULVANE 1 ")), qPrintable(wizardPage.left(200)));
    for (const char* section :
         {".SH NAME", ".SH SYNOPSIS", ".SH EXIT STATUS", ".SH ENVIRONMENT", ".SH FILES", "CULVANE_REGISTRY",
          "XDG_STATE_HOME", "/usr/lib/culvane/HKLM.reg", "culvane-run (1)"})
        QVERIFY2(wizardPage.contains(escaped(section)), section);

    // Debian's documents of the package: its copyright, and the changelog of the packaged version.
    const QString doc = m_root + QStringLiteral("/usr/share/doc/culvane/");
    QFile copyright(doc + QStringLiteral("copyright"));
    QVERIFY(copyright.open(QIODevice::ReadOnly));
    const QByteArray copyrightText = copyright.readAll();
    QVERIFY2(copyrightText.startsWith(
                 "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"),
             copyrightText.constData());
    QVERIFY2(copyrightText.contains("\nFiles: *\nCopyright: "), copyrightText.constData());
    QVERIFY(QFileInfo(doc + QStringLiteral("changelog.gz")).isFile());
    const QByteArray version =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Version")}).trimmed();
    QCOMPARE(version, QByteArray("4.0.23"));
    const QByteArray changelog =
        run(QStringLiteral("gzip"), {QStringLiteral("-dc"), doc + QStringLiteral("changelog.gz")});
    QVERIFY2(changelog.startsWith("culvane (" + version + ") "), changelog.left(200).constData());
    static const QRegularExpression trailer(QStringLiteral("\n -- [^<\n]+ <[^>\n]+>  \\w{3}, \\d{2} \\w{3} "
                                                           "\\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\n"));
    QVERIFY2(trailer.match(QString::fromUtf8(changelog)).hasMatch(), changelog.constData());

    // The control file: the description's continuation lines as Debian wants them, nothing of CMake's
    // list separator anywhere.
    const QString control = QString::fromUtf8(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb}));
    QVERIFY2(control.contains(QStringLiteral("\nDescription: wizard that deletes many subscribers")),
             qPrintable(control));
    QVERIFY2(!control.contains(QLatin1Char(';')), qPrintable(control));
    // Its continuation lines are those after the summary up to the next field.
    const QStringList lines =
        control.section(QStringLiteral("\nDescription: "), 1).split(QLatin1Char('\n')).mid(1);
    int continued = 0;
    while (continued < lines.size() && lines.at(continued).startsWith(QLatin1Char(' '))) {
        const QString& line = lines.at(continued++);
        QVERIFY2(!line.startsWith(QStringLiteral("  ")) && line.size() <= 80, qPrintable(line));
    }
    QVERIFY2(continued >= 2, qPrintable(control));
}

QProcessEnvironment TestPackage::programEnvironment(const QString& registry, const QString& home) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), registry);
    environment.insert(QStringLiteral("ODBCSYSINI"), QFileInfo(StandinFixture::odbcInstPath()).path());
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_STATE_HOME"));
    // Nothing leaves this machine, should the program look for updates.
    environment.insert(QStringLiteral("CULVANE_TOOLS_SITE"), QStringLiteral("127.0.0.1:9"));
    return environment;
}

void TestPackage::theInstalledProgramShowsItsFirstPage()
{
    StandinFixture standin(200);
    QVERIFY(standin.isValid());
    const QString registry = standin.folder() + QStringLiteral("/HKLM.reg");
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_SOURCE_DIR "/standin/HKLM-sample.reg"), registry));

    QProcess program;
    program.setProcessEnvironment(programEnvironment(registry, standin.folder()));
    program.setWorkingDirectory(standin.folder());
    program.start(m_root + kProgramFolder + QStringLiteral("/Culvane"), {});
    QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
    // The start-up sequence ends with the database open and the page shown; the program then waits for
    // the administrator, and stays.
    QTRY_VERIFY_WITH_TIMEOUT(holdsOpen(program.processId(), standin.databasePath()) ||
                                 program.state() == QProcess::NotRunning,
                             20000);
    QTest::qWait(1000);
    QVERIFY2(program.state() == QProcess::Running, program.readAllStandardError().constData());
    QVERIFY(holdsOpen(program.processId(), standin.databasePath()));

    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    static const QRegularExpression fatal(QStringLiteral("fatal|error|unable|cannot|segmentation"),
                                          QRegularExpression::CaseInsensitiveOption);
    QVERIFY2(!fatal.match(errors).hasMatch(), qPrintable(errors));
}

void TestPackage::aRefusedStartEndsWithItsMessageAndStatus2()
{
    // A message box waits for its OK: the program runs on a virtual display and OK is pressed there.
    for (const char* tool : {"xvfb-run", "xdotool"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                 "xvfb-run and xdotool are needed (scripts/install-deps)");
    QTemporaryDir home;
    const QString missing = home.filePath(QStringLiteral("no such registry.reg"));
    QProcessEnvironment environment = programEnvironment(missing, home.path());
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("CULVANE_PROGRAM"), m_root + QStringLiteral("/usr/bin/culvane"));
    QProcess session;
    session.setProcessEnvironment(environment);
    session.setWorkingDirectory(home.path());
    // The box's title is the program's; no page shows before it. Pressing Return answers its only button.
    session.start(QStringLiteral("xvfb-run"),
                  {QStringLiteral("-a"), QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral(
                       "\"$CULVANE_PROGRAM\" & program=$!\n"
                       "box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Culvane$' | head -n1)\n"
                       "if [ -n \"$box\" ] && kill -0 $program 2>/dev/null; then\n"
                       "  xdotool getwindowgeometry --shell $box\n"
                       "  xdotool windowfocus --sync $box && xdotool key Return\n"
                       "fi\n"
                       "wait $program\n")});
    QVERIFY(session.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(session.readAllStandardError());
    const QString shown = QString::fromLocal8Bit(session.readAllStandardOutput());
    QCOMPARE(session.exitStatus(), QProcess::NormalExit);
    QVERIFY2(session.exitCode() == 2,
             qPrintable(QStringLiteral("status %1: %2").arg(session.exitCode()).arg(errors)));
    // The program waited with its message until OK: a box, not the 760 x 540 page.
    static const QRegularExpression width(QStringLiteral("WIDTH=(\\d+)"));
    const QRegularExpressionMatch box = width.match(shown);
    QVERIFY2(box.hasMatch() && box.captured(1).toInt() > 0 && box.captured(1).toInt() < 700,
             qPrintable(shown + errors));
}

void TestPackage::runLogsGoToTheStateHomeWhenTheProgramFolderIsNotWritable()
{
    StandinFixture standin(200);
    QVERIFY(standin.isValid());
    const QString registry = standin.folder() + QStringLiteral("/HKLM.reg");
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_SOURCE_DIR "/standin/HKLM-sample.reg"), registry));
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString stateHome = home.filePath(QStringLiteral("state"));
    QProcessEnvironment environment = programEnvironment(registry, home.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
    environment.insert(QStringLiteral("CULVANE_RUN_PAUSE_SCALE"), QStringLiteral("0.002"));

    // As installed, the program folder belongs to root and others may not write there. Root itself writes
    // wherever permissions say it may not, so for root the folder is mounted read-only in a namespace of
    // the program's own instead.
    const QString folder = m_root + kProgramFolder;
    const QString runProgram = m_root + QStringLiteral("/usr/bin/culvane-run");
    const QStringList deletion{QStringLiteral("delete"), QStringLiteral("--cos"), QStringLiteral("Students"),
                               QStringLiteral("--mode"), QStringLiteral("data"),  QStringLiteral("--yes")};
    PermissionsBack permissionsBack(folder);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(standin.folder());
    if (::geteuid() == 0) {
        process.start(
            QStringLiteral("unshare"),
            QStringList{QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                        QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && "
                                       "exec \"$@\""),
                        folder, runProgram} +
                deletion);
    } else {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
        process.start(runProgram, deletion);
    }
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             qPrintable(QStringLiteral("status %1: %2").arg(process.exitCode()).arg(errors)));
    // Every student deleted: the run reached the database and its synchronisation.
    static const QRegularExpression summary(
        QStringLiteral("\nSummary: selected=([1-9]\\d*) processed=\\1 deleted=\\1 .* ended=completed\n"));
    QVERIFY2(summary.match(out).hasMatch(), qPrintable(out));

    const QDir logs(stateHome + QStringLiteral("/culvane/logs"));
    const QStringList written = logs.entryList({QStringLiteral("Culvane_Log_*.TXT")}, QDir::Files);
    QCOMPARE(written.size(), 1);
    QVERIFY2(
        out.startsWith(QStringLiteral("Run log: ") + logs.filePath(written.constFirst()) + QLatin1Char('\n')),
        qPrintable(out));
    QFile log(logs.filePath(written.constFirst()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Alias="));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/logs")));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
