// A deletion run of 1,000 checked subscribers on the stand-in, every ticket finishing at the first poll and
// the pauses counted instead of slept, against the bare cost of the same procedure calls and polls on one
// connection kept open. Exits non-zero when the run costs more than 1.5 times that or 10 ms per
// subscriber. Each is taken three times, in turns on fresh stand-ins, and the fastest of each counts:
// the database's writes to disk make single timings vary widely.

#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/modLocalize.h"
#include "selection/SubscriberGridModel.h"
#include "server/DbConnection.h"
#include "server/OrvaneVersion.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

constexpr int kSubscribers = 1000;
constexpr int kRounds = 3;
constexpr double kMaxRatio = 1.5;
constexpr double kMaxMsPerSubscriber = 10.0;
const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");

struct Subscriber {
    QString alias;
    QString objectId;
};

QVector<Subscriber> subscribers()
{
    QVector<Subscriber> found;
    DbConnection connection(kConnection);
    QSqlQuery query(connection.database());
    query.exec(QStringLiteral("SELECT Alias, SubscriberObjectID FROM subscriber ORDER BY Alias"));
    while (query.next() && found.size() < kSubscribers)
        found.append({query.value(0).toString(), query.value(1).toString()});
    return found;
}

bool exec(QSqlQuery& query, const QString& text, const QVariantList& values)
{
    if (!query.prepare(text))
        return false;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return query.exec();
}

// The floor: the same three statements per subscriber, one connection, nothing else.
double bareMs(const QVector<Subscriber>& subscribers)
{
    DbConnection connection(kConnection);
    QSqlQuery query(connection.database());
    const QString request = connection.adapt(
        Statements::deleteSubscriberCommand(kConnection, QString(), false, true, QString()).statementText());
    const QString removal =
        connection.adapt(Statements::deleteTicketCommand(kConnection, QString()).statementText());
    QElapsedTimer timer;
    timer.start();
    for (const Subscriber& subscriber : subscribers) {
        const QString ticket = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
        if (!exec(query, request, {subscriber.objectId, 1, Statements::DirectorySyncFlags, 0, 1, ticket}))
            std::fprintf(stderr, "request failed\n");
        if (!exec(query, connection.adapt(Statements::ticketPoll(ticket)), {}) || !query.next())
            std::fprintf(stderr, "poll failed\n");
        const QString rowTicket = query.value(query.record().indexOf(QStringLiteral("Ticket"))).toString();
        query.finish();
        if (!exec(query, removal, {rowTicket}))
            std::fprintf(stderr, "removal failed\n");
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

double runMs(const QVector<Subscriber>& subscribers, int* processedOut)
{
    SubscriberGridModel grid;
    grid.setRedraw(false);
    for (const Subscriber& s : subscribers)
        grid.AddUserToGridFAST(s.alias, QString(), QString(), s.alias, QString(), QString(), QString(),
                               QString(), QStringLiteral("COS"), s.objectId, QStringLiteral("{H}"));
    grid.setRedraw(true);
    frmDeleteSubscribers page;
    page.setSources({[] { return false; }, [&grid] { return &grid; }});
    page.Form_Load();
    page.show();
    ScriptedMessageBoxes boxes;
    boxes.setNextAnswer(MsgBox::vbYes);
    boxes.setNextAnswer(MsgBox::vbCancel);
    CountingSleeper sleeper;
    QElapsedTimer timer;
    timer.start();
    page.cmdDeleteSubscribers_Click();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    *processedOut = sleeper.pauses().size();
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QTemporaryDir program;
    modLocalize::setProgramLocation(program.path(), QStringLiteral("Culvane"));
    modOrvaneDB::DbConnectionString() = kConnection;
    OrvaneVersion::setInstalledVersion({5, 0, 1, 33});

    double bare = std::numeric_limits<double>::infinity();
    double run = std::numeric_limits<double>::infinity();
    int pauses = 0;
    for (int round = 0; round < kRounds; ++round) {
        {
            StandinFixture standin(kSubscribers);
            if (!standin.isValid())
                return 2;
            bare = std::min(bare, bareMs(subscribers()));
            const int left = standin.scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt();
            if (left != 0) {
                std::fprintf(stderr, "bare loop left %d subscribers\n", left);
                return 2;
            }
        }
        {
            StandinFixture standin(kSubscribers);
            if (!standin.isValid())
                return 2;
            run = std::min(run, runMs(subscribers(), &pauses));
            const int left = standin.scalar(QStringLiteral("SELECT count(*) FROM subscriber")).toInt();
            if (left != 0 || pauses != kSubscribers) {
                std::fprintf(stderr, "the run left %d subscribers and paused %d times\n", left, pauses);
                return 2;
            }
        }
    }
    const double ratio = run / bare;
    const double perSubscriber = run / kSubscribers;
    std::printf("fastest of %d rounds each\n", kRounds);
    std::printf("deletion run of %d subscribers: %.1f ms (%.2f ms each, %d pauses counted)\n", kSubscribers,
                run, perSubscriber, pauses);
    std::printf("same calls and polls on one connection: %.1f ms\n", bare);
    std::printf("ratio: %.2f (budget %.1f), per subscriber budget %.0f ms\n", ratio, kMaxRatio,
                kMaxMsPerSubscriber);
    return ratio <= kMaxRatio && perSubscriber < kMaxMsPerSubscriber ? 0 : 1;
}
