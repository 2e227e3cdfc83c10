// The CSV reader: any bytes become lines and fields without a fault, the header's columns are fields that
// name them, and a field the export accepts comes back from the reader as it was written.
#include "selection/CsvText.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// RFC 4180's reading of one field as quoteField writes it.
QString unquoted(const QString& field)
{
    if (!field.startsWith(QLatin1Char('"'))) {
        check(!field.contains(QLatin1Char('"')));
        return field;
    }
    check(field.size() >= 2 && field.endsWith(QLatin1Char('"')));
    const QString inner = field.mid(1, field.size() - 2);
    QString text;
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner.at(i) == QLatin1Char('"')) {
            check(i + 1 < inner.size() && inner.at(i + 1) == QLatin1Char('"'));
            ++i;
        }
        text.append(inner.at(i));
    }
    return text;
}

void readAnyBytes(const QByteArray& bytes)
{
    const QStringList lines = CsvText::splitLines(bytes);
    for (const QString& line : lines) {
        check(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        const QStringList fields = CsvText::splitFields(line);
        check(fields.size() == (line.isEmpty() ? 0 : line.count(QLatin1Char(',')) + 1));
        for (const QString& field : fields) {
            const QString stripped = CsvText::stripSpaces(field);
            check(!stripped.startsWith(QLatin1Char(' ')) && !stripped.endsWith(QLatin1Char(' ')));
            check(field.contains(stripped));
        }
    }
    const QStringList header = lines.isEmpty() ? QStringList() : CsvText::splitFields(lines.constFirst());
    const int alias = CsvText::aliasColumn(header);
    check(alias < int(header.size()));
    if (alias >= 0)
        check(header.at(alias).contains(QLatin1String("alias"), Qt::CaseInsensitive));
    for (const char* heading : {"extension", "durchwahl", "poste", ""}) {
        const QString name = QString::fromUtf8(heading);
        const int at = CsvText::extensionColumn(header, name);
        check(at < int(header.size()));
        if (at >= 0)
            check(CsvText::stripSpaces(header.at(at)).compare(name, Qt::CaseInsensitive) == 0);
    }
}

// One exported line around the field, read back as the import reads it.
void writeAndReadBack(const QString& field)
{
    check(unquoted(CsvText::quoteField(field)) == field);
    check(unquoted(CsvText::quoteField(field, true)) == field);
    if (!CsvText::readsBackUnchanged(field))
        return;
    const QString text = QStringLiteral("Alias,Extension,DisplayName\r\n") + CsvText::quoteField(field) +
                         QLatin1Char(',') + CsvText::quoteField(field, true) + QStringLiteral(",x\r\n");
    const QStringList lines = CsvText::splitLines(QByteArray("\xEF\xBB\xBF") + text.toUtf8());
    check(lines.size() == 2);
    const QStringList header = CsvText::splitFields(lines.at(0));
    check(CsvText::aliasColumn(header) == 0 &&
          CsvText::extensionColumn(header, QStringLiteral("extension")) == 1);
    check(CsvText::stripSpaces(CsvText::splitFields(lines.at(1)).value(0)) == field);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const char*>(data);
    readAnyBytes(QByteArray::fromRawData(bytes, qsizetype(size)));
    // The same bytes as UTF-8 text and as UTF-16 units (lone surrogates included) in a field.
    writeAndReadBack(QString::fromUtf8(bytes, qsizetype(size)));
    std::vector<char16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    writeAndReadBack(QString::fromUtf16(units.data(), qsizetype(units.size())));
    return 0;
}
