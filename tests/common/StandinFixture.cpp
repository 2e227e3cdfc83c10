#include "common/StandinFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtDebug>

namespace {

QString sqliteOdbcDriver()
{
    const QByteArray chosen = qgetenv("CULVANE_SQLITE_ODBC_DRIVER");
    if (!chosen.isEmpty())
        return QString::fromLocal8Bit(chosen);
    const QStringList candidates = {
        QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"),
        QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so"),
        QStringLiteral("/usr/lib/odbc/libsqlite3odbc.so"),
        QStringLiteral("/usr/lib64/libsqlite3odbc.so"),
        QStringLiteral("/usr/local/lib/libsqlite3odbc.so"),
    };
    for (const QString& candidate : candidates) {
        if (QFile::exists(candidate))
            return candidate;
    }
    return candidates.first();
}

// The folder of the process's odbcinst.ini, made on first use and kept until the process ends.
struct OdbcFolder {
    QTemporaryDir dir;
    OdbcFolder()
    {
        QFile ini(dir.filePath(QStringLiteral("odbcinst.ini")));
        if (dir.isValid() && ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ini.write("[SQL Server]\nDescription=Culvane stand-in (SQLite)\nDriver=");
            ini.write(sqliteOdbcDriver().toLocal8Bit());
            ini.write("\n");
        }
    }
};

const QTemporaryDir& odbcFolder()
{
    static const OdbcFolder folder;
    return folder.dir;
}

// A connection of its own to the database file, removed when the object goes.
class DirectConnection {
public:
    explicit DirectConnection(const QString& file)
        : m_name(QStringLiteral("standin-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        db.setDatabaseName(QStringLiteral("Driver={SQL Server};database=") + file);
        if (!db.open())
            qWarning("stand-in: cannot open %s: %s", qPrintable(file), qPrintable(db.lastError().text()));
    }
    ~DirectConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    DirectConnection(const DirectConnection&) = delete;
    DirectConnection& operator=(const DirectConnection&) = delete;
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
};

bool run(QSqlQuery& query, const QString& sql, const QVariantList& bindValues)
{
    if (!query.prepare(sql)) {
        qWarning("stand-in: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return false;
    }
    for (const QVariant& value : bindValues)
        query.addBindValue(value);
    if (!query.exec()) {
        qWarning("stand-in: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return false;
    }
    return true;
}

} // namespace

StandinFixture::StandinFixture(int subscribers)
{
    if (!m_dir.isValid() || !odbcFolder().isValid()) {
        qWarning("stand-in: no temporary folder");
        return;
    }
    QProcess maker;
    maker.start(QStringLiteral(CULVANE_SOURCE_DIR "/standin/new-orvanedb"),
                {databasePath(), QString::number(subscribers)});
    if (!maker.waitForFinished(120000) || maker.exitStatus() != QProcess::NormalExit ||
        maker.exitCode() != 0) {
        qWarning("stand-in: new-orvanedb failed: %s %s", qPrintable(maker.errorString()),
                 maker.readAllStandardError().constData());
        return;
    }
    m_hadOdbcSysIni = qEnvironmentVariableIsSet("ODBCSYSINI");
    m_previousOdbcSysIni = qgetenv("ODBCSYSINI");
    qputenv("ODBCSYSINI", QFile::encodeName(odbcFolder().path()));
    m_previousFolder = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    m_valid = true;
}

StandinFixture::~StandinFixture()
{
    if (!m_valid)
        return;
    QDir::setCurrent(m_previousFolder);
    if (m_hadOdbcSysIni)
        qputenv("ODBCSYSINI", m_previousOdbcSysIni);
    else
        qunsetenv("ODBCSYSINI");
}

QString StandinFixture::databasePath() const
{
    return m_dir.filePath(QStringLiteral("OrvaneDb"));
}

QString StandinFixture::odbcInstPath()
{
    return odbcFolder().filePath(QStringLiteral("odbcinst.ini"));
}

bool StandinFixture::exec(const QString& sql, const QVariantList& bindValues)
{
    DirectConnection connection(databasePath());
    QSqlQuery query(connection.database());
    return run(query, sql, bindValues);
}

QVariant StandinFixture::scalar(const QString& sql, const QVariantList& bindValues)
{
    DirectConnection connection(databasePath());
    QSqlQuery query(connection.database());
    if (!run(query, sql, bindValues) || !query.next())
        return {};
    return query.value(0);
}
