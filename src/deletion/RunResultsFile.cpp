#include "deletion/RunResultsFile.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "selection/CsvText.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTime>

#include <cstdio>
#include <cstdlib>

QString RunResultsFile::pathFor(const QString& logPath)
{
    const QFileInfo log(logPath);
    const QString logPrefix = QStringLiteral("Culvane_Log_");
    QString stamp = log.completeBaseName();
    if (stamp.startsWith(logPrefix, Qt::CaseInsensitive))
        stamp = stamp.mid(logPrefix.size());
    return log.dir().filePath(QStringLiteral("Culvane_Results_") + stamp + QStringLiteral(".csv"));
}

bool RunResultsFile::open(const QString& path)
{
    m_file.close();
    m_file.setFileName(path);
    m_writeFailure.clear();
    // An earlier run's results are never overwritten.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        m_failure = m_file.errorString();
        if (m_failure.isEmpty())
            m_failure = modLocalize::mymyLoadString(StringIds::FileCannotBeCreated);
        qWarning("cannot create the results file %s: %s", qPrintable(path), qPrintable(m_failure));
        return false;
    }
    m_failure.clear();
    m_file.write("\xEF\xBB\xBF");
    writeLine(headingFields());
    return true;
}

QStringList RunResultsFile::headingFields()
{
    return {QStringLiteral("Alias"),   QStringLiteral("ObjectID"), QStringLiteral("Extension"),
            QStringLiteral("Outcome"), QStringLiteral("Detail"),   QStringLiteral("Ticket"),
            QStringLiteral("Started"), QStringLiteral("Finished")};
}

void RunResultsFile::write(const Row& row)
{
    writeLine(fieldsOf(row));
}

QByteArray RunResultsFile::lineOf(const QStringList& fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields)
        quoted.append(csvField(field));
    return (quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

QStringList RunResultsFile::fieldsOf(const Row& row)
{
    return {row.alias,  row.objectId, row.extension,         outcomeText(row.outcome),
            row.detail, row.ticket,   isoLocal(row.started), isoLocal(row.finished)};
}

void RunResultsFile::rewrite(const QList<Row>& rows)
{
    if (!m_file.isOpen() || !m_writeFailure.isEmpty())
        return;
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += lineOf(headingFields());
    for (const Row& row : rows)
        bytes += lineOf(fieldsOf(row));
    QSaveFile ordered(m_file.fileName());
    if (!ordered.open(QIODevice::WriteOnly) || ordered.write(bytes) != bytes.size() || !ordered.commit())
        // The rows as they came are all there still.
        qWarning("cannot put the results file %s in the order of the rows: %s", qPrintable(m_file.fileName()),
                 qPrintable(ordered.errorString()));
}

void RunResultsFile::writeLine(const QStringList& fields)
{
    if (!m_file.isOpen())
        return;
    const QByteArray line = lineOf(fields);
    // One write per row on an unbuffered file: the row is with the system when this returns.
    const qint64 written = m_file.write(line);
    if (written != line.size() && m_writeFailure.isEmpty()) {
        // Said once; the run goes on, and its log still holds every subscriber. A short write (a full disk,
        // a file size limit) leaves the file without an error of its own.
        m_writeFailure =
            written >= 0 && m_file.error() == QFileDevice::NoError
                ? QStringLiteral("%1 of the row's %2 bytes written").arg(written).arg(line.size())
                : m_file.errorString();
        qWarning("cannot write to the results file %s: %s", qPrintable(m_file.fileName()),
                 qPrintable(m_writeFailure));
    }
}

QString RunResultsFile::outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Deleted:
        return QStringLiteral("deleted");
    case Outcome::SyncFailed:
        return QStringLiteral("sync failed");
    case Outcome::SyncTimedOut:
        return QStringLiteral("sync timed out");
    case Outcome::Rejected:
        return QStringLiteral("rejected");
    case Outcome::RequestFailed:
        return QStringLiteral("request failed");
    case Outcome::NotSent:
        return QStringLiteral("not sent");
    case Outcome::OutcomeUnknown:
        return QStringLiteral("outcome unknown");
    case Outcome::WouldDelete:
        return QStringLiteral("would delete");
    case Outcome::NotFound:
        return QStringLiteral("not found");
    case Outcome::LookupFailed:
        return QStringLiteral("lookup failed");
    case Outcome::NotAttempted:
        break;
    }
    return QStringLiteral("not attempted");
}

QString RunResultsFile::requestFailedDetail(const QString& reason, Outcome waited, const QString& waitDetail)
{
    QString detail = reason + QStringLiteral("; then ") + outcomeText(waited);
    if (!waitDetail.isEmpty())
        detail += QStringLiteral(" (") + waitDetail + QLatin1Char(')');
    return detail;
}

QString RunResultsFile::isoLocal(const QDateTime& moment)
{
    if (!moment.isValid())
        return QString();
    const QDateTime local = moment.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QDate date = local.date();
    const QTime time = local.time();
    // Formatted by hand: a format pattern goes through the locale machinery twice for every row of a run.
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", date.year(), date.month(),
                  date.day(), time.hour(), time.minute(), time.second(), offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return QString::fromLatin1(text);
}

QString RunResultsFile::csvField(const QString& text)
{
    return CsvText::quoteField(text);
}
