#pragma once

#include "selection/SubscriberQuery.h"

#include <QString>
#include <QtGlobal>

// Where the CSV import puts its rows and messages; it also needs the grid's row count, since the rows a
// file adds are those the grid gained (the grid may refuse a row).
class CsvSink : public SubscriberSink {
public:
    virtual qint32 gridRows() const = 0;
};

namespace CsvImport {

inline const QString ErrorClosing =
    QStringLiteral(") in procedure ParseCSVForSubscribers of Form frmChooseSubscribers");

// Reads the CSV file at path, looks each data line up by extension and then by alias on the connection
// text, appends what it finds to the sink and ends with the summary message. Errors after the header go
// to the run log. Answers the data lines read (16-bit, stops at 32767).
std::int16_t ParseCSVForSubscribers(const QString& path, const QString& connection, CsvSink& sink);

// The lookup failures the run log could not take: "<n> lookups ... first error".
QString failedLookupsMessage(int failed, const QString& firstError);

} // namespace CsvImport
