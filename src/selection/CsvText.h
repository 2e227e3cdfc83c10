#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The CSV file's bytes as lines and fields, without files, database or windows.
namespace CsvText {

// The lines of a file. A UTF-8 byte-order mark at the start is dropped. A line ends at CR LF, at a lone CR
// or at a lone LF; a terminator at the very end does not start another line. Text is UTF-8; a byte that
// is not part of a well-formed UTF-8 sequence is read as Windows-1252 reads it (the code page Windows
// spreadsheets save in: 0x92 is a right single quote, 0x96 an en dash, 0x80 the euro sign), so no byte is
// lost and no input is refused.
QStringList splitLines(const QByteArray& bytes);

// One line's fields, cut at every comma; quotes are ordinary characters. An empty line has no fields.
QStringList splitFields(const QString& line);

// The text without leading and trailing spaces; tabs and other white space stay.
QString stripSpaces(const QString& text);

// The header's alias column: the first field whose stripped text contains "alias" in any letter case, or -1.
int aliasColumn(const QStringList& header);

// The header's extension column: the first field whose stripped text equals heading (string 300 of the
// current language) in any letter case, or -1.
int extensionColumn(const QStringList& header, const QString& heading);

// The text as one field of a written file, as RFC 4180 quotes: in double quotes with inner quotes doubled
// when it holds a comma, a quote or a line break (or always, when asked), else as it is.
QString quoteField(const QString& text, bool always = false);

// Whether a field written with quoteField, first on a line below the header, comes back from this reader
// as the same text: nothing to quote, no blank at either end, not empty, and every character expressible
// in UTF-8.
bool readsBackUnchanged(const QString& field);

} // namespace CsvText
