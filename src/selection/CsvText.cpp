#include "selection/CsvText.h"

namespace {

// Length of the well-formed UTF-8 sequence at data[i], 0 when there is none.
int sequenceLength(const unsigned char* data, qsizetype i, qsizetype size, char32_t& code)
{
    const unsigned char lead = data[i];
    int length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (size - i < length)
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = data[i + k];
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Windows-1252 for 0x80 to 0x9F, the code page Windows spreadsheets save CSV files in; the rest of its
// upper half is Latin-1. The five bytes it leaves undefined map to their C1 controls, as Windows does.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

QChar windows1252(unsigned char byte)
{
    return QChar(byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : char16_t(byte));
}

QString decode(const unsigned char* data, qsizetype size)
{
    QString text;
    text.reserve(size);
    for (qsizetype i = 0; i < size;) {
        char32_t code = 0;
        const int length = sequenceLength(data, i, size, code);
        if (length == 0) {
            text.append(windows1252(data[i]));
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            const char32_t ucs4[] = {code};
            text.append(QString::fromUcs4(ucs4, 1));
        } else {
            text.append(QChar(char16_t(code)));
        }
        i += length;
    }
    return text;
}

} // namespace

namespace CsvText {

QStringList splitLines(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    qsizetype size = bytes.size();
    qsizetype start = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        start = 3;
    QStringList lines;
    qsizetype lineStart = start;
    for (qsizetype i = start; i < size; ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        lines.append(decode(data + lineStart, i - lineStart));
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < size)
        lines.append(decode(data + lineStart, size - lineStart));
    return lines;
}

QStringList splitFields(const QString& line)
{
    if (line.isEmpty())
        return {};
    return line.split(QLatin1Char(','));
}

QString stripSpaces(const QString& text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text.at(from) == QLatin1Char(' '))
        ++from;
    while (to > from && text.at(to - 1) == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

int aliasColumn(const QStringList& header)
{
    for (int i = 0; i < header.size(); ++i) {
        if (stripSpaces(header.at(i)).contains(QLatin1String("alias"), Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

int extensionColumn(const QStringList& header, const QString& heading)
{
    for (int i = 0; i < header.size(); ++i) {
        if (stripSpaces(header.at(i)).compare(heading, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString quoteField(const QString& text, bool always)
{
    if (!always && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

bool readsBackUnchanged(const QString& field)
{
    // The reader neither removes quotes nor joins lines, and it strips blanks; a lone surrogate would reach
    // the file as a replacement character.
    return !field.isEmpty() && quoteField(field) == field && stripSpaces(field) == field &&
           field.isValidUtf16();
}

} // namespace CsvText
