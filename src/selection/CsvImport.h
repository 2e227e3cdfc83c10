#pragma once

#include "selection/SubscriberQuery.h"

#include <QString>
#include <QtGlobal>

// Where the CSV import puts its rows and messages; it also needs the grid's row count, since the rows a
// file adds are those the grid gained (the grid may refuse a row).
class CsvSink : public SubscriberSink {
public:
    virtual qint32 gridRows() const = 0;
    // The closing summary; `duplicates` says how many subscribers the file named again (empty when none).
    // By default both in one message, the duplicates on a line of their own.
    virtual void importSummary(const QString& summary, const QString& duplicates)
    {
        message(duplicates.isEmpty() ? summary : summary + QLatin1Char('\n') + duplicates);
    }
};

namespace CsvImport {

inline const QString ErrorClosing =
    QStringLiteral(") in procedure ParseCSVForSubscribers of Form frmChooseSubscribers");

struct Outcome {
    enum class File { Read, CannotOpen, InvalidFormat };
    File file = File::Read;
    // Data lines read (16-bit, stops at 32767).
    std::int16_t linesRead = 0;
    // Subscribers found again, by a second lookup of a line or by another line, and not passed on again.
    qint32 duplicates = 0;
};

// Reads the CSV file at path, looks each data line up by extension and then by alias on the connection
// text, appends what it finds to the sink, each subscriber (by ObjectID) once, and ends with the summary.
// Errors after the header go to the run log.
Outcome ParseCSVForSubscribers(const QString& path, const QString& connection, CsvSink& sink);

// The lookup failures the run log could not take: "<n> lookups ... first error".
QString failedLookupsMessage(int failed, const QString& firstError);

// "<n> duplicate(s) left out: ..."; empty for none.
QString duplicatesMessage(qint32 duplicates);

} // namespace CsvImport
