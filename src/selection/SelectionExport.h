#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class SubscriberGridModel;

// "Export..." on the selection page: the checked rows of the grid, in the grid's order, as a CSV file that
// the page's own CSV import reads back into the same subscribers.
namespace SelectionExport {

// The grid columns written, by key, in the file's order. The Extension heading is string 300 of the
// current language, as the import looks for it.
const QStringList& columnKeys();

// The texts of the checked rows under columnKeys(); a column the grid lacks gives empty texts.
QList<QStringList> checkedRows(const SubscriberGridModel& grid);

// Whether the import would find the row's subscriber again from its line, and nothing else: it looks the
// alias up unquoted and stripped of blanks, and it ends a line at every line break, even within quotes.
bool readsBack(const QStringList& row);

// The extension column's heading as written: the import's own word in the current language, with a
// capital where that changes nothing for the import ("Extension").
QString extensionHeading();

// The file: a UTF-8 byte-order mark, the heading line, one line per row, CR LF after each line.
QByteArray csv(const QList<QStringList>& rows, const QString& extensionHeading);

// Writes the bytes through a temporary file that replaces path only when complete. False: reason says
// why, and path is as it was.
bool writeFile(const QString& path, const QByteArray& bytes, QString* reason);

// The whole of "Export...": says so when nothing is checked, refuses rows the import would misread (one
// message naming them), asks for the file and writes it, or says why it could not. Answers the path
// written, or nothing.
std::optional<QString> exportChecked(const SubscriberGridModel& grid);

} // namespace SelectionExport
