#include "run/RunResume.h"

#include "deletion/RunResultsFile.h"

#include <algorithm>

namespace RunResume {
namespace {

using Outcome = RunResultsFile::Outcome;

// Records as RFC 4180 writes them: a quoted field may hold commas, doubled quotes and line breaks. A line
// with nothing on it is no record.
QList<QStringList> records(const QString& text)
{
    QList<QStringList> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    const auto endRecord = [&] {
        fields.append(field);
        field.clear();
        if (fields.size() > 1 || !fields.constFirst().isEmpty())
            rows.append(fields);
        fields.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                field += c;
            else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endRecord();
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        endRecord();
    return rows;
}

bool wasSent(const QString& outcome)
{
    for (const Outcome sent : {Outcome::Deleted, Outcome::SyncFailed, Outcome::SyncTimedOut,
                               Outcome::Rejected, Outcome::RequestFailed, Outcome::OutcomeUnknown}) {
        if (outcome == RunResultsFile::outcomeText(sent))
            return true;
    }
    return false;
}

} // namespace

std::optional<QList<QStringList>> resultsRows(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<QStringList> rows = records(text);
    if (rows.isEmpty())
        return std::nullopt;
    const QStringList expected = RunResultsFile::headingFields();
    const QStringList heading = rows.takeFirst();
    if (heading.size() != expected.size())
        return std::nullopt;
    for (qsizetype i = 0; i < heading.size(); ++i) {
        if (heading.at(i).trimmed().compare(expected.at(i), Qt::CaseInsensitive) != 0)
            return std::nullopt;
    }
    return rows;
}

Plan plan(const QList<QStringList>& rows)
{
    const QStringList heading = RunResultsFile::headingFields();
    const qsizetype idAt = heading.indexOf(QStringLiteral("ObjectID"));
    const qsizetype outcomeAt = heading.indexOf(QStringLiteral("Outcome"));
    const QString notAttempted = RunResultsFile::outcomeText(Outcome::NotAttempted);
    const QString notSent = RunResultsFile::outcomeText(Outcome::NotSent);
    Plan plan;
    for (const QStringList& row : rows) {
        const QString outcome = row.value(outcomeAt).trimmed();
        if (outcome == notAttempted || outcome == notSent) {
            plan.objectIds.append(row.value(idAt).trimmed());
            continue;
        }
        plan.leftOutWereSent = plan.leftOutWereSent && wasSent(outcome);
        auto counted = std::find_if(plan.leftOut.begin(), plan.leftOut.end(),
                                    [&](const QPair<QString, int>& entry) { return entry.first == outcome; });
        if (counted == plan.leftOut.end())
            plan.leftOut.append({outcome, 1});
        else
            ++counted->second;
    }
    return plan;
}

QString leftOutLine(const Plan& plan)
{
    int rows = 0;
    QStringList counts;
    for (const auto& [outcome, count] : plan.leftOut) {
        rows += count;
        counts.append(QStringLiteral("%1 %2").arg(count).arg(outcome.isEmpty() ? QStringLiteral("without an "
                                                                                                "outcome")
                                                                               : outcome));
    }
    if (rows == 0)
        return QString();
    const QString why = plan.leftOutWereSent
                            ? QStringLiteral("their requests were sent")
                            : QStringLiteral("only rows not attempted or not sent are taken again");
    return QStringLiteral("%1 %2 left out, %3: %4")
        .arg(rows)
        .arg(rows == 1 ? QStringLiteral("row") : QStringLiteral("rows"), why,
             counts.join(QStringLiteral(", ")));
}

} // namespace RunResume
