// "All subscribers" at 30,000 generated subscribers, query plus grid fill, against the raw QODBC fetch of
// the same statement (the same rows read into strings, no grid); and the CSV import of 10,000 lines
// against the same 10,000 lookups done bare on one reused connection. Exits non-zero when the query
// costs more than 1.5 times its raw fetch, or the import more than 1.3 times its bare lookups.

#include "BenchSetup.h"
#include "RawFetch.h"
#include "common/StandinFixture.h"
#include "ports/MsgBox.h"
#include "selection/CsvImport.h"
#include "selection/GridSink.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberGridView.h"
#include "selection/SubscriberQuery.h"
#include "server/DbConnection.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSet>
#include <QSqlQuery>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr int kSubscribers = 30000;
constexpr int kCsvLines = 10000;
constexpr int kRepetitions = 3;
constexpr double kMaxQueryRatio = 1.5;
constexpr double kMaxCsvRatio = 1.3;

const QString kConnection = Statements::ConnectionText;

double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// The splash window as the selection page shows it.
struct Splash {
    QWidget window;
    QLabel* label = new QLabel(QStringLiteral("Loading"), &window);
    Splash()
    {
        label->setObjectName(QStringLiteral("Label1"));
        (new QVBoxLayout(&window))->addWidget(label);
        window.show();
    }
};

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatformUnlessNamed();
    QApplication app(argc, argv);
    warnUnlessRelease("timings");
    int refused = 0;
    MsgBox::setHandler([&refused](const QString&, MsgBox::Buttons) {
        ++refused;
        return MsgBox::vbOK;
    });

    StandinFixture standin(kSubscribers);
    if (!standin.isValid() || !modOrvaneDB::OpenSharedLists(kConnection)) {
        std::printf("FAIL: no stand-in database\n");
        return 1;
    }

    SubscriberGridModel grid;
    QTableView view;
    attachSubscriberGrid(view, grid);
    view.resize(1000, 600);
    view.show();
    Splash splash;
    QCoreApplication::processEvents();

    // --- All subscribers ---
    const QString statement = Statements::allSubscribers();
    double bestRaw = std::numeric_limits<double>::infinity();
    double bestQuery = std::numeric_limits<double>::infinity();
    std::size_t rawRows = 0;
    qint32 gridRows = 0;
    int queryRefused = 0;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        std::vector<RawRow> rows;
        QElapsedTimer timer;
        timer.start();
        {
            DbConnection db(kConnection);
            fetchInto(db, statement, rows);
        }
        if (rep > 0)
            bestRaw = std::min(bestRaw, msSince(timer));
        rawRows = rows.size();

        grid.clear();
        QCoreApplication::processEvents();
        refused = 0;
        timer.restart();
        grid.setRedraw(false);
        {
            GridSink sink(grid, &splash.window);
            SubscriberQuery::Criteria criteria;
            criteria.code = SubscriberQuery::AllSubscribers;
            SubscriberQuery::run(criteria, kConnection, sink);
        }
        grid.setRedraw(true);
        view.viewport()->repaint();
        if (rep > 0)
            bestQuery = std::min(bestQuery, msSince(timer));
        gridRows = grid.Rows() - 1;
        queryRefused = refused;
    }
    const double queryRatio = bestQuery / bestRaw;
    std::printf("All subscribers: %zu rows fetched, %d in the grid, %d refused by the grid\n", rawRows,
                int(gridRows), queryRefused);
    std::printf("  raw QODBC fetch into strings: %8.2f ms\n", bestRaw);
    std::printf("  query + grid fill:            %8.2f ms\n", bestQuery);
    std::printf("  ratio:                        %8.2f (limit %.1f)\n", queryRatio, kMaxQueryRatio);

    // --- CSV import ---
    // Every third subscriber by alias and extension; most lines find a subscriber twice, some by one.
    const QString csvPath = standin.folder() + QStringLiteral("/bench.csv");
    std::vector<std::pair<QString, QString>> lines;
    {
        DbConnection db(kConnection);
        QSqlQuery query(db.database());
        query.setForwardOnly(true);
        query.exec(QStringLiteral("SELECT Alias, DTMFAccessID FROM subscriber ORDER BY rowid"));
        int n = 0;
        while (query.next() && int(lines.size()) < kCsvLines) {
            if (n++ % 3 == 0)
                lines.emplace_back(query.value(0).toString(), query.value(1).toString());
        }
    }
    QFile file(csvPath);
    if (!file.open(QIODevice::WriteOnly)) {
        std::printf("FAIL: cannot write %s\n", qPrintable(csvPath));
        return 1;
    }
    file.write("Alias,Extension\r\n");
    for (const auto& [alias, extension] : lines)
        file.write((alias + QLatin1Char(',') + extension + QStringLiteral("\r\n")).toUtf8());
    file.close();

    double bestBare = std::numeric_limits<double>::infinity();
    double bestImport = std::numeric_limits<double>::infinity();
    std::size_t bareRows = 0;
    // The import takes each subscriber once however often the file names it: the bare rows, counted by
    // their subscriber's ObjectID (the eighth column of both lookups).
    std::size_t bareSubscribers = 0;
    qint32 importRows = 0;
    const auto importOnce = [&] {
        grid.clear();
        QCoreApplication::processEvents();
        refused = 0;
        QElapsedTimer timer;
        timer.start();
        grid.setRedraw(false);
        {
            GridSink sink(grid, nullptr);
            CsvImport::ParseCSVForSubscribers(csvPath, kConnection, sink);
        }
        grid.setRedraw(true);
        view.viewport()->repaint();
        importRows = grid.Rows() - 1;
        return msSince(timer);
    };
    const auto bareOnce = [&] {
        std::vector<RawRow> rows;
        QElapsedTimer timer;
        timer.start();
        {
            DbConnection db(kConnection);
            for (const auto& [alias, extension] : lines) {
                if (!extension.isEmpty())
                    fetchInto(db, Statements::csvByExtension(extension), rows);
                fetchInto(db, Statements::csvByAlias(Statements::quoted(alias)), rows);
            }
        }
        const double elapsed = msSince(timer);
        bareRows = rows.size();
        QSet<QString> subscribers;
        for (const RawRow& row : rows)
            subscribers.insert(row[7]);
        bareSubscribers = std::size_t(subscribers.size());
        return elapsed;
    };
    // Whichever of the two runs second finds the heap as the first left it (the grid hands its freed pages
    // back when drawing resumes, the bare rows free theirs in place), which alone moves the ratio by a
    // quarter; so they take turns at going first.
    for (int rep = 0; rep <= 2 * kRepetitions; ++rep) {
        double bare = 0;
        double import = 0;
        if (rep % 2 == 0) {
            bare = bareOnce();
            import = importOnce();
        } else {
            import = importOnce();
            bare = bareOnce();
        }
        if (rep > 0) {
            bestBare = std::min(bestBare, bare);
            bestImport = std::min(bestImport, import);
        }
    }
    const double csvRatio = bestImport / bestBare;
    std::printf("CSV import: %zu lines, %zu rows found bare (%zu subscribers), %d in the grid\n",
                lines.size(), bareRows, bareSubscribers, int(importRows));
    std::printf("  bare lookups, one connection: %8.2f ms\n", bestBare);
    std::printf("  import + grid fill:           %8.2f ms\n", bestImport);
    std::printf("  ratio:                        %8.2f (limit %.1f)\n", csvRatio, kMaxCsvRatio);

    bool ok = true;
    if (rawRows < std::size_t(kSubscribers) * 9 / 10 || std::size_t(gridRows + queryRefused) != rawRows) {
        std::printf("FAIL: the grid does not hold the rows the statement returns\n");
        ok = false;
    }
    if (queryRatio > kMaxQueryRatio) {
        std::printf("FAIL: query + grid fill exceeds 1.5 times the raw fetch\n");
        ok = false;
    }
    // The summary is one more message than the rows the grid refused.
    if (std::size_t(importRows) + std::size_t(refused) != bareSubscribers + 1) {
        std::printf("FAIL: the import found fewer subscribers than the bare lookups\n");
        ok = false;
    }
    if (csvRatio > kMaxCsvRatio) {
        std::printf("FAIL: the CSV import exceeds 1.3 times the bare lookups\n");
        ok = false;
    }
    modOrvaneDB::CloseSharedLists();
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
