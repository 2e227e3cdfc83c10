// The memory 32,767 subscribers take in the grid of the selection page: the resident set of the shown,
// empty page against the same page holding 32,767 rows of stand-in subscribers, drawn at its last row, in
// the same run. Exits non-zero when the rows cost more than 30 MB.

#include "BenchSetup.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "localize/modLocalize.h"
#include "selection/SubscriberGridModel.h"
#include "selection/frmChooseSubscribers.h"
#include "server/DbConnection.h"
#include "server/OrvaneVersion.h"
#include "server/modOrvaneDB.h"

#include <QApplication>
#include <QFile>
#include <QSqlQuery>
#include <QTableView>

#include <cstdio>

namespace {

constexpr int kRows = 32767;
constexpr double kMaxMegabytes = 30.0;
const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");

// The resident set of this process in kB, from /proc/self/status.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// Every subscriber's row, as the "All subscribers" query hands them to the grid: drawing suspended, the
// query closed, then drawing resumed, in the page's order.
int fillGrid(SubscriberGridModel& grid)
{
    int rows = 0;
    grid.setRedraw(false);
    {
        DbConnection connection(kConnection);
        QSqlQuery query(connection.database());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral(
                "SELECT s.Alias, s.FirstName, s.LastName, s.DisplayName, s.DTMFAccessID, s.HomeServer, "
                "s.RemoteNodeID, s.LegacyMailbox, c.TextName, s.SubscriberObjectID, s.CallHandlerObjectID "
                "FROM vw_Subscriber s JOIN vw_COS c ON c.CosObjectID = s.CosObjectId "
                "WHERE s.CallHandlerObjectID <> '' AND s.Alias <> '' AND c.TextName <> '' ORDER BY s.Alias")))
            return -1;
        while (query.next() && rows < kRows) {
            const auto text = [&query](int column) { return query.value(column).toString(); };
            grid.AddUserToGridFAST(text(0), text(1), text(2), text(3), text(4), text(5), text(6), text(7),
                                   text(8), text(9), text(10));
            ++rows;
        }
    }
    grid.setRedraw(true);
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatformUnlessNamed();
    QApplication app(argc, argv);
    warnUnlessRelease("sizes");
    // The stand-in has a few subscribers the grid refuses (no call handler, say); more than enough others.
    StandinFixture standin(kRows + kRows / 10);
    if (!standin.isValid())
        return 1;
    ScriptedMessageBoxes boxes;
    modOrvaneDB::DbConnectionString() = kConnection;
    OrvaneVersion::setInstalledVersion({5, 0, 1, 33});
    if (!modOrvaneDB::OpenSharedLists(kConnection)) {
        std::printf("FAIL: the stand-in's shared lists do not open\n");
        return 1;
    }

    frmChooseSubscribers page;
    page.Form_Load();
    page.show();
    settle();
    const long emptyKb = residentKb();

    const int rows = fillGrid(page.grid());
    auto* view = page.findChild<QTableView*>(QStringLiteral("myGrid"));
    if (view) {
        view->scrollToBottom();
        view->viewport()->repaint();
    }
    settle();
    const long fullKb = residentKb();

    const double megabytes = double(fullKb - emptyKb) / 1024.0;
    std::printf("rows:                       %d\n", rows);
    std::printf("empty selection page:       %8.1f MB resident\n", double(emptyKb) / 1024.0);
    std::printf("with the rows:              %8.1f MB resident\n", double(fullKb) / 1024.0);
    std::printf("rows cost:                  %8.1f MB (limit %.0f MB, ratio %.2f)\n", megabytes,
                kMaxMegabytes, megabytes / kMaxMegabytes);
    bool ok = true;
    if (rows != kRows || page.grid().Rows() != kRows + 1 || !boxes.texts().isEmpty() || emptyKb < 0) {
        std::printf("FAIL: the page does not hold the rows it was given\n");
        for (const QString& text : boxes.texts())
            std::printf("  message: %s\n", qPrintable(text));
        ok = false;
    }
    if (megabytes > kMaxMegabytes) {
        std::printf("FAIL: the rows cost more than 30 MB\n");
        ok = false;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    modOrvaneDB::CloseSharedLists();
    return ok ? 0 : 1;
}
