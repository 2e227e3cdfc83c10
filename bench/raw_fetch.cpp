// The raw fetch of "All subscribers" as a program of its own: one connection, the statement forward-only,
// every value of every row into a string, the row count on standard output. bench_run_select times it as
// a fresh process beside culvane-run, so that both pay the same start, driver load, connection and fresh
// heap. Started by bench_run_select only.

#include "ports/CulvaneError.h"
#include "server/DbConnection.h"
#include "server/Statements.h"

#include <QCoreApplication>
#include <QSqlQuery>

#include <array>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::array<QString, 11>> rows;
    try {
        DbConnection db(Statements::ConnectionText);
        QSqlQuery query(db.database());
        query.setForwardOnly(true);
        if (!query.exec(db.adapt(Statements::allSubscribers())))
            return 1;
        while (query.next()) {
            std::array<QString, 11> row;
            for (std::size_t i = 0; i < row.size(); ++i)
                row[i] = query.value(int(i)).toString();
            rows.push_back(std::move(row));
        }
    } catch (const CulvaneError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.description()));
        return 1;
    }
    std::printf("%zu\n", rows.size());
    return 0;
}
