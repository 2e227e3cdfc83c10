#include "selection/CsvImport.h"

#include "deletion/Logging.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/CulvaneError.h"
#include "selection/CsvText.h"
#include "selection/RangeEntry.h"
#include "server/Recordset.h"
#include "server/Statements.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>

using modLocalize::mymyLoadString;

namespace {

// A number as a plain conversion writes it: a blank where a non-negative number has no sign.
QString withSignPosition(qint32 number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

class Import {
public:
    Import(const QString& connection, CsvSink& sink) : m_connection(connection), m_sink(sink) {}

    void logError(const CulvaneError& error)
    {
        Logging::WriteLogLine(QStringLiteral("(error):") + QString::number(error.number()) +
                              QStringLiteral(" (") + error.description() + CsvImport::ErrorClosing);
    }

    // One lookup: every row found goes to the sink; a failure is logged and ends the lookup.
    void lookUp(const QString& statement, const QString& extensionColumn)
    {
        Recordset records;
        records.setCursorLocation(Recordset::adUseClient);
        try {
            records.Open(statement, m_connection, Recordset::adOpenForwardOnly, Recordset::adLockReadOnly,
                         Recordset::adCmdUnspecified);
            for (; records.isOpen() && !records.EOF_(); records.MoveNext())
                passOn(readSubscriberValues(records, extensionColumn));
        } catch (const CulvaneError& error) {
            failed(error);
        }
        if (records.isOpen()) {
            try {
                records.Close();
            } catch (const CulvaneError&) {
            }
        }
    }

    void failed(const CulvaneError& error)
    {
        logError(error);
        m_sink.queryFailed(error);
        if (m_failedLookups++ == 0)
            m_firstFailure = QString::number(error.number()) + QStringLiteral(" (") + error.description() +
                             QLatin1Char(')');
    }

    int failedLookups() const { return m_failedLookups; }
    const QString& firstFailure() const { return m_firstFailure; }
    qint32 duplicates() const { return m_duplicates; }

private:
    // A subscriber the file has already named (its extension and its alias on one line, or two lines)
    // would be deleted twice: the second request could only fail.
    void passOn(SubscriberValues&& values)
    {
        if (!values.subscriberObjectId.isEmpty()) {
            const qsizetype known = m_passed.size();
            m_passed.insert(values.subscriberObjectId);
            if (m_passed.size() == known) {
                ++m_duplicates;
                return;
            }
        }
        m_sink.addSubscriber(std::move(values));
    }

    QString m_connection;
    CsvSink& m_sink;
    int m_failedLookups = 0;
    QString m_firstFailure;
    QSet<QString> m_passed;
    qint32 m_duplicates = 0;
};

} // namespace

namespace CsvImport {

QString failedLookupsMessage(int failed, const QString& firstError)
{
    return mymyLoadString(StringIds::CsvLookupsFailed).arg(QString::number(failed), firstError);
}

QString duplicatesMessage(qint32 duplicates)
{
    return duplicates > 0 ? mymyLoadString(StringIds::CsvDuplicatesLeftOut).arg(duplicates) : QString();
}

Outcome ParseCSVForSubscribers(const QString& path, const QString& connection, CsvSink& sink)
{
    const qint32 rowsBefore = sink.gridRows();
    Outcome outcome;
    std::int16_t& linesRead = outcome.linesRead;
    const auto summary = [&] {
        sink.importSummary(mymyLoadString(StringIds::CsvImportComplete) + withSignPosition(linesRead) +
                               mymyLoadString(StringIds::CsvLinesRead) +
                               withSignPosition(sink.gridRows() - rowsBefore) +
                               mymyLoadString(StringIds::CsvUsersAdded),
                           duplicatesMessage(outcome.duplicates));
    };

    QFile file(path);
    std::optional<QByteArray> bytes;
    if (!path.isEmpty() && QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            bytes.reset();
        file.close();
    }
    if (!bytes) {
        outcome.file = Outcome::File::CannotOpen;
        sink.message(mymyLoadString(StringIds::CsvCannotOpen));
        summary();
        return outcome;
    }

    const QStringList lines = CsvText::splitLines(*bytes);
    const QStringList header = lines.isEmpty() ? QStringList() : CsvText::splitFields(lines.constFirst());
    const int aliasAt = CsvText::aliasColumn(header);
    const int extensionAt = CsvText::extensionColumn(header, mymyLoadString(StringIds::CsvExtensionHeading));
    if (lines.isEmpty() || lines.constFirst().size() < 2 || (aliasAt < 0 && extensionAt < 0)) {
        outcome.file = Outcome::File::InvalidFormat;
        sink.message(mymyLoadString(StringIds::CsvInvalidFormat));
        summary();
        return outcome;
    }

    Import import(connection, sink);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        try {
            linesRead = increment16(linesRead);
        } catch (const CulvaneError& error) {
            import.logError(error); // the count stays at 32767; the line is still looked up
        }
        const QStringList fields = CsvText::splitFields(lines.at(i));
        const bool hasAlias = aliasAt >= 0 && aliasAt < fields.size();
        const bool hasExtension = extensionAt >= 0 && extensionAt < fields.size();
        if (hasExtension) {
            const QString extension = CsvText::stripSpaces(fields.at(extensionAt));
            if (RangeEntry::isNumeric(extension))
                import.lookUp(Statements::csvByExtension(extension), QStringLiteral("DTMFAccessID"));
        }
        if (hasAlias) {
            const QString alias = CsvText::stripSpaces(Statements::quoted(fields.at(aliasAt)));
            import.lookUp(Statements::csvByAlias(alias), QStringLiteral("Extension"));
        }
    }
    outcome.duplicates = import.duplicates();
    summary();
    // Failures the run log took are there to read; without a log they would vanish behind a clean summary.
    if (import.failedLookups() > 0 && !Logging::RunLogIsOpen())
        sink.message(failedLookupsMessage(import.failedLookups(), import.firstFailure()));
    return outcome;
}

} // namespace CsvImport
