#include "selection/SelectionExport.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/MsgBox.h"
#include "ports/Ports.h"
#include "selection/CsvText.h"
#include "selection/SubscriberGridModel.h"

#include <QDir>
#include <QSaveFile>

using modLocalize::mymyLoadString;

namespace {

constexpr int AliasAt = 0;
constexpr int ExtensionAt = 1;
// The refusal names this many rows; the count says how many there are.
constexpr int NamedRefusals = 10;

bool holdsLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

// The heading as written: "Extension" rather than the table's "extension", where a capital changes nothing
// for the import's comparison.
QString writtenHeading(const QString& heading)
{
    if (heading.isEmpty())
        return heading;
    const QString capital = heading.at(0).toUpper() + heading.mid(1);
    return capital.compare(heading, Qt::CaseInsensitive) == 0 ? capital : heading;
}

// An alias as the refusal shows it: in quotes, so that blanks at either end can be seen, on one line.
QString shownAlias(QString alias)
{
    alias.replace(QLatin1Char('\r'), QLatin1Char(' '));
    alias.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QLatin1Char('"') + alias + QLatin1Char('"');
}

} // namespace

namespace SelectionExport {

const QStringList& columnKeys()
{
    static const QStringList keys{QStringLiteral("Alias"),       QStringLiteral("Extension"),
                                  QStringLiteral("DisplayName"), QStringLiteral("FirstName"),
                                  QStringLiteral("LastName"),    QStringLiteral("HomeServer"),
                                  QStringLiteral("COS")};
    return keys;
}

QList<QStringList> checkedRows(const SubscriberGridModel& grid)
{
    QList<int> columns;
    for (const QString& key : columnKeys())
        columns.append(grid.ColIndex(key));
    QList<QStringList> rows;
    const qint32 count = grid.Rows();
    for (qint32 row = 1; row < count; ++row) {
        if (!grid.isChecked(row))
            continue;
        QStringList texts;
        for (int column : columns)
            texts.append(column < 0 ? QString() : grid.TextMatrix(row, column));
        rows.append(texts);
    }
    return rows;
}

bool readsBack(const QStringList& row)
{
    if (!CsvText::readsBackUnchanged(row.value(AliasAt)))
        return false;
    // A line break anywhere starts a line of its own, which the import would look up as an alias.
    for (const QString& text : row) {
        if (holdsLineBreak(text))
            return false;
    }
    return true;
}

QString extensionHeading()
{
    return writtenHeading(mymyLoadString(StringIds::CsvExtensionHeading));
}

QByteArray csv(const QList<QStringList>& rows, const QString& extensionHeading)
{
    QStringList heading = columnKeys();
    heading[ExtensionAt] = extensionHeading;
    const auto line = [](const QStringList& fields, bool extensionQuoted) {
        QStringList quoted;
        for (int i = 0; i < fields.size(); ++i)
            quoted.append(CsvText::quoteField(fields.at(i), extensionQuoted && i == ExtensionAt));
        return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    // The heading's extension stays bare, so that the import recognises the column. The rows' extensions
    // are always quoted: the import then takes them for no number and finds each subscriber once, by its
    // alias, instead of once by extension and again by alias.
    QString text = line(heading, false);
    for (const QStringList& row : rows)
        text += line(row, true);
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool writeFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (reason)
        *reason = file.errorString();
    return false;
}

std::optional<QString> exportChecked(const SubscriberGridModel& grid)
{
    const QList<QStringList> rows = checkedRows(grid);
    if (rows.isEmpty()) {
        MsgBox::show(mymyLoadString(StringIds::ExportNothingChecked));
        return std::nullopt;
    }

    int refused = 0;
    QStringList named;
    for (const QStringList& row : rows) {
        if (readsBack(row))
            continue;
        if (++refused <= NamedRefusals)
            named.append(shownAlias(row.value(AliasAt)));
    }
    if (refused > 0) {
        QString names = named.join(QStringLiteral(", "));
        if (refused > NamedRefusals)
            names += QStringLiteral(", \u2026");
        MsgBox::show(mymyLoadString(StringIds::ExportRefused).arg(QString::number(refused), names));
        return std::nullopt;
    }

    FileDialog::Request request;
    request.initialFolder = QDir::homePath();
    request.title = mymyLoadString(StringIds::ExportDialogTitle);
    request.fileName = QStringLiteral("Culvane_Selection.csv");
    request.filter = QStringLiteral("CSV (*.csv)");
    request.defaultSuffix = QStringLiteral("csv");
    const std::optional<QString> path = FileDialog::getSaveFileName(request);
    if (!path || path->isEmpty())
        return std::nullopt;

    const QByteArray bytes = csv(rows, extensionHeading());
    QString reason;
    if (!writeFile(*path, bytes, &reason)) {
        MsgBox::show(
            mymyLoadString(StringIds::ExportWriteFailed).arg(QDir::toNativeSeparators(*path), reason));
        return std::nullopt;
    }
    return path;
}

} // namespace SelectionExport
