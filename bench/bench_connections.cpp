// 10,000 single-row look-ups against the stand-in, each as the program makes it (a recordset opened on
// the connection text and closed), against the same look-ups each on a connection opened and closed for
// it, which is what every query cost before connections were kept. Prints both and their ratio; exits
// non-zero when keeping the connection is not at least twice as fast.

#include "server/DbConnection.h"
#include "server/Recordset.h"
#include "server/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kLookups = 10000;
constexpr double kMinGain = 2.0;

QString lookup(int i)
{
    return QStringLiteral("SELECT Alias FROM vw_Subscriber WHERE Alias='user%1'")
        .arg(i % 300 + 1, 5, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("odbcinst.ini")));
    if (!dir.isValid() || !ini.open(QIODevice::WriteOnly))
        return 2;
    QString driver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so");
    for (const char* candidate :
         {"/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/odbc/libsqlite3odbc.so"}) {
        if (!QFile::exists(driver) && QFile::exists(QString::fromLatin1(candidate)))
            driver = QString::fromLatin1(candidate);
    }
    ini.write("[SQL Server]\nDriver=" + QFile::encodeName(driver) + "\n");
    ini.close();
    qputenv("ODBCSYSINI", QFile::encodeName(dir.path()));
    QDir::setCurrent(dir.path());
    if (QProcess::execute(QStringLiteral(CULVANE_SOURCE_DIR "/standin/new-orvanedb"),
                          {dir.filePath(QStringLiteral("OrvaneDb")), QStringLiteral("300")}) != 0)
        return 2;

    int foundFresh = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kLookups; ++i) {
        const QString name = QStringLiteral("bench");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
            db.setDatabaseName(Statements::ConnectionText);
            if (db.open()) {
                QSqlQuery query(db);
                query.setForwardOnly(true);
                if (query.exec(lookup(i)) && query.next())
                    ++foundFresh;
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    const double fresh = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    int foundKept = 0;
    timer.restart();
    for (int i = 0; i < kLookups; ++i) {
        Recordset rows;
        rows.Open(lookup(i), Statements::ConnectionText, Recordset::adOpenForwardOnly);
        if (rows.RecordCount() == 1)
            ++foundKept;
        rows.Close();
    }
    const double kept = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    DbConnection::closeKeptConnections();

    const double gain = fresh / kept;
    std::printf("%d look-ups, a connection each: %.3f s\n", kLookups, fresh);
    std::printf("%d look-ups, kept connection:   %.3f s\n", kLookups, kept);
    std::printf("gain %.1fx (at least %.1fx expected)\n", gain, kMinGain);
    if (foundKept != foundFresh || foundKept == 0) {
        std::printf("the look-ups disagree: %d rows found on fresh connections, %d on the kept one\n",
                    foundFresh, foundKept);
        return 1;
    }
    return gain >= kMinGain ? 0 : 1;
}
