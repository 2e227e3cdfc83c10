#include "deletion/Logging.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/CulvaneError.h"
#include "ports/ExitApplication.h"
#include "server/WorkStationInfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <limits>
#include <optional>

namespace Logging {
namespace {

struct State {
    QFile file;
    std::int16_t errorCount = 0;
    std::int16_t warningCount = 0;
    QString path;
    QString openFailure;
    QString writeFailure;
    std::optional<QString> folder;
    // When the lines last let pending events through.
    QElapsedTimer eventsLetThrough;
};

// Often enough for the page to repaint and see a click at once; a run's lines come far faster, and a
// repaint per line would cost more than the line itself.
constexpr qint64 EventIntervalMilliseconds = 40;

State& state()
{
    static State s;
    return s;
}

void countUp(std::int16_t& count)
{
    if (count < std::numeric_limits<std::int16_t>::max())
        ++count;
}

// The file writer: one write of the whole line with its CR LF, straight to the system (the file is
// unbuffered), so a run that is killed keeps every line written before.
void writeToFile(const QString& line)
{
    QFile& file = state().file;
    if (!file.isOpen())
        return;
    QByteArray bytes = line.toUtf8();
    bytes += "\r\n";
    // A full disk or a file-size limit: the lines already written stay; the first failure is kept so that
    // the run can say its log is incomplete.
    if (file.write(bytes) != bytes.size() && state().writeFailure.isEmpty()) {
        state().writeFailure = file.errorString();
        if (state().writeFailure.isEmpty())
            state().writeFailure = modLocalize::mymyLoadString(StringIds::LineCannotBeWritten);
        qWarning("cannot write to the run log %s: %s", qPrintable(file.fileName()),
                 qPrintable(state().writeFailure));
    }
}

QString stars()
{
    return QString(61, QLatin1Char('*'));
}

QString programVersion()
{
    return QStringLiteral("%1.%2.%3")
        .arg(CULVANE_VERSION_MAJOR)
        .arg(CULVANE_VERSION_MINOR)
        .arg(CULVANE_VERSION_PATCH);
}

} // namespace

RunLogChannel& channel()
{
    static RunLogChannel instance;
    static const QMetaObject::Connection writer =
        QObject::connect(&instance, &RunLogChannel::lineWritten, &instance, &writeToFile);
    (void)writer;
    return instance;
}

QString LogFolder()
{
    if (state().folder)
        return *state().folder;
    const QString program = modLocalize::programFolder();
    const QString beside = program + QStringLiteral("/logs");
    const QFileInfo besideInfo(beside);
    const bool usable = besideInfo.exists() ? besideInfo.isDir() && besideInfo.isWritable()
                                            : QFileInfo(program).isDir() && QFileInfo(program).isWritable();
    if (usable)
        return beside;
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty() || QDir::isRelativePath(stateHome))
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(stateHome + QStringLiteral("/culvane/logs"));
}

void setLogFolder(const QString& folder)
{
    state().folder = folder.isEmpty() ? std::nullopt : std::optional<QString>(folder);
}

QString GenerateNewLogFileName()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InGenerateNewLogFileName);
    const QString folder = LogFolder();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HH_mm_ss"));
    const QString name = QStringLiteral("Culvane_Log_") + stamp;
    report.step([&] {
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
            qWarning("cannot create the log folder %s", qPrintable(folder));
            raiseError(ErrorNumbers::PathFileAccessError, QStringLiteral("Path/File access error"));
        }
    });
    CleanupLogFiles();

    // Never the name of an existing log: creating the file exclusively both tests and holds the name, so a
    // second run in the same second, even in another process, takes the next one.
    QString path;
    for (int n = 1;; ++n) {
        path = folder + QLatin1Char('/') + name + (n > 1 ? QStringLiteral("_%1").arg(n) : QString()) +
               QStringLiteral(".TXT");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !QFileInfo::exists(path))
            break;
    }
    return path;
}

void OpenRunLog(const QString& path, bool append)
{
    State& s = state();
    channel();
    if (s.file.isOpen())
        s.file.close();
    s.file.setFileName(path);
    s.writeFailure.clear();
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Unbuffered | (append ? QIODevice::Append : QIODevice::Truncate);
    if (s.file.open(mode)) {
        s.openFailure.clear();
        Module1::setRunLogCloser(&CloseRunLog);
    } else {
        // The run goes on without a file; its lines are still counted.
        s.openFailure = s.file.errorString();
        if (s.openFailure.isEmpty())
            s.openFailure = modLocalize::mymyLoadString(StringIds::FileCannotBeOpened);
        qWarning("cannot open the run log %s: %s", qPrintable(path), qPrintable(s.openFailure));
    }

    const WorkStationInfo& workstation = sharedWorkStationInfo();
    WriteLogLine(QStringLiteral("\r\n") + stars());
    WriteLogLine(QStringLiteral("Running ") + modLocalize::programFileName() + QStringLiteral(" version: ") +
                 programVersion());
    WriteLogLine(QStringLiteral("Running under domain account: ") +
                 QString::fromStdString(workstation.Domain()) + QLatin1Char('\\') +
                 QString::fromStdString(workstation.UserName()));
    WriteLogLine(
        QStringLiteral("Search for '(error)' or '(warning)' to find logged errors and warnings during "
                       "the import process."));
    WriteLogLine(stars() + QStringLiteral("\r\n"));
    WriteLogLine(QStringLiteral("Starting deletion process at:") +
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                 QStringLiteral("\r\n"));

    s.errorCount = 0;
    s.warningCount = 0;
    s.path = path;
}

void WriteLogLine(const QString& line)
{
    State& s = state();
    if (line.contains(QLatin1String("(error)"), Qt::CaseInsensitive))
        countUp(s.errorCount);
    if (line.contains(QLatin1String("(warning)"), Qt::CaseInsensitive))
        countUp(s.warningCount);
    emit channel().lineWritten(line);
    if (QCoreApplication::instance() &&
        (!s.eventsLetThrough.isValid() || s.eventsLetThrough.hasExpired(EventIntervalMilliseconds))) {
        QCoreApplication::processEvents();
        s.eventsLetThrough.start();
    }
}

void CloseRunLog()
{
    state().file.close();
}

void CleanupLogFiles()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InCleanupLogFiles);
    const QString folder = LogFolder();
    if (!QFileInfo(folder).isDir())
        return;
    const QDate today = QDate::currentDate();
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : files) {
        report.step([&] {
            if (info.lastModified().date().daysTo(today) <= 30)
                return;
            // A read-only file goes too: its folder, not its own permissions, decides here.
            QFile file(info.filePath());
            if (!file.remove()) {
                qWarning("cannot delete the old log %s: %s", qPrintable(info.filePath()),
                         qPrintable(file.errorString()));
                raiseError(ErrorNumbers::PermissionDenied, QStringLiteral("Permission denied"));
            }
        });
    }
}

std::int16_t RunLogErrorCount()
{
    return state().errorCount;
}

std::int16_t RunLogWarningCount()
{
    return state().warningCount;
}

QString RunLogPath()
{
    return state().path;
}

bool RunLogIsOpen()
{
    return state().file.isOpen();
}

QString RunLogOpenFailure()
{
    return state().openFailure;
}

QString RunLogWriteFailure()
{
    return state().writeFailure;
}

} // namespace Logging
