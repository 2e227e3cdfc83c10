#include "selection/RangeEntry.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/CulvaneError.h"
#include "ports/ErrorReport.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Scans [sign] (digits [. digits] | . digits) [(e|E) [sign] digits] over text[from, to). Answers whether
// the whole span matched and whether the exponent was negative.
bool matchesNumber(const QString& text, qsizetype from, qsizetype to, bool& negativeExponent)
{
    qsizetype at = from;
    if (at < to && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-')))
        ++at;
    qsizetype digits = 0;
    while (at < to && isDigit(text[at])) {
        ++at;
        ++digits;
    }
    if (at < to && text[at] == QLatin1Char('.')) {
        ++at;
        while (at < to && isDigit(text[at])) {
            ++at;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    negativeExponent = false;
    if (at < to && (text[at] == QLatin1Char('e') || text[at] == QLatin1Char('E'))) {
        ++at;
        if (at < to && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-'))) {
            negativeExponent = text[at] == QLatin1Char('-');
            ++at;
        }
        qsizetype exponentDigits = 0;
        while (at < to && isDigit(text[at])) {
            ++at;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return false;
    }
    return at == to;
}

bool check(const QString& value, qint32 minimum, qint32 maximum)
{
    if (value.isEmpty())
        return true;
    const std::optional<double> number = RangeEntry::readNumber(value);
    if (!number)
        return false;
    const double v = *number;
    if (v != std::fabs(std::floor(v)))
        return false;
    if (value.contains(QLatin1Char('.')))
        return false;
    if (minimum == 0 && maximum == 0)
        return true;
    return static_cast<double>(minimum) <= v && v <= static_cast<double>(maximum);
}

} // namespace

namespace RangeEntry {

std::optional<double> readNumber(const QString& text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    bool negativeExponent = false;
    if (!matchesNumber(text, from, to, negativeExponent))
        return std::nullopt;

    // Only ASCII is left, so Latin-1 is exact. from_chars ignores the locale but takes no leading "+".
    std::string ascii = text.mid(from, to - from).toLatin1().toStdString();
    if (ascii.front() == '+')
        ascii.erase(0, 1);
    double value = 0.0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (!negativeExponent)
            raiseOverflow();
        // Too small to represent: still a number, and not a whole one unless its digits are all zero.
        const bool allZero = ascii.find_first_of("123456789") > ascii.find_first_of("eE");
        return allZero ? 0.0 : std::numeric_limits<double>::denorm_min();
    }
    if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size())
        return std::nullopt;
    return value;
}

bool isNumeric(const QString& text)
{
    try {
        return readNumber(text).has_value();
    } catch (const CulvaneError&) {
        return false;
    }
}

bool checkExtensionBox(const QString& text)
{
    return !text.isEmpty() && !Module1::MyIsNumber(text, 0, 0);
}

} // namespace RangeEntry

namespace Module1 {

bool MyIsNumber(const QString& value, qint32 minimum, qint32 maximum)
{
    const ErrorReport report([] { return modLocalize::mymyLoadString(StringIds::MyIsNumberError); },
                             [] { return QString(); }, ErrorReport::Shape::DescriptionOnly);
    bool answer = false;
    report.step([&] { answer = check(value, minimum, maximum); });
    return answer;
}

} // namespace Module1
