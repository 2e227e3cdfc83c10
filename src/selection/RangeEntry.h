#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace Module1 {

// Whether a text is a whole, non-negative number without a decimal point, within minimum..maximum
// (both 0: no limit). An empty text is acceptable. Errors are shown ("Error in MyIsNumber function:" and
// the description) and answer false.
bool MyIsNumber(const QString& value, qint32 minimum, qint32 maximum);

} // namespace Module1

namespace RangeEntry {

// Each extension box takes at most the width a bound is padded to in the range query.
constexpr int ExtensionBoxMaxLength = 20;

// The program's reading of a text as a number: surrounding spaces, an optional sign, digits with an
// optional decimal point ("." only, whatever the locale) and an optional exponent (1e3). Thousands
// separators, currency signs and "&H" hexadecimal are not numbers. Answers nothing for a text that is
// not a number; raises CulvaneError 6 "Overflow" for a number beyond the range of a double.
std::optional<double> readNumber(const QString& text);

// readNumber without the error: a number too large to read is not numeric.
bool isNumeric(const QString& text);

// The extension boxes' rule: true when the box's text must be refused (message 403, box emptied).
bool checkExtensionBox(const QString& text);

} // namespace RangeEntry
