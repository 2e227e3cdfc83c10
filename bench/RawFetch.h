#pragma once

#include "server/DbConnection.h"

#include <QSqlQuery>
#include <QString>

#include <array>
#include <vector>

// The yardstick of the fetch benchmarks: a subscriber statement's rows read forward-only on the given
// connection, every value into a string, nothing else.
using RawRow = std::array<QString, 11>;

inline void fetchInto(DbConnection& db, const QString& statement, std::vector<RawRow>& rows)
{
    QSqlQuery query(db.database());
    query.setForwardOnly(true);
    if (!query.exec(db.adapt(statement)))
        return;
    while (query.next()) {
        RawRow row;
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = query.value(int(i)).toString();
        rows.push_back(std::move(row));
    }
}
