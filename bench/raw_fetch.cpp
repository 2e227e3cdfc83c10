// The raw fetch of "All subscribers" as a program of its own: one connection, the statement forward-only,
// every value of every row into a string, the row count on standard output. bench_run_select times it as
// a fresh process beside culvane-run, so that both pay the same start, driver load, connection and fresh
// heap. Started by bench_run_select only.

#include "RawFetch.h"
#include "ports/CulvaneError.h"
#include "server/Statements.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<RawRow> rows;
    try {
        DbConnection db(Statements::ConnectionText);
        fetchInto(db, Statements::allSubscribers(), rows);
    } catch (const CulvaneError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.description()));
        return 1;
    }
    std::printf("%zu\n", rows.size());
    return 0;
}
