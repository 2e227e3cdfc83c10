#include "server/OdbcSetup.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

#include <sql.h>
#include <sqlext.h>

namespace {

// An ODBC 3 environment handle for the life of the object; null when the driver manager refuses one.
class Environment {
public:
    Environment()
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env))) {
            m_env = SQL_NULL_HENV;
            return;
        }
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    ~Environment()
    {
        if (m_env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;
    SQLHENV handle() const { return m_env; }

private:
    SQLHENV m_env = SQL_NULL_HENV;
};

QString text(const SQLCHAR* buffer, SQLSMALLINT length, std::size_t capacity)
{
    const auto size = std::min<std::size_t>(length < 0 ? 0 : static_cast<std::size_t>(length), capacity - 1);
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
}

struct DataSource {
    QString name;
    QString driver;
};

QList<DataSource> dataSources()
{
    QList<DataSource> sources;
    Environment env;
    if (env.handle() == SQL_NULL_HENV)
        return sources;
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 64] = {};
    SQLCHAR driver[1024] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT driverLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDataSources(env.handle(), direction, name, sizeof name, &nameLength, driver,
                                        sizeof driver, &driverLength))) {
        sources.append({text(name, nameLength, sizeof name), text(driver, driverLength, sizeof driver)});
        direction = SQL_FETCH_NEXT;
    }
    return sources;
}

} // namespace

namespace OdbcSetup {

QStringList dataSourceNames()
{
    QStringList names;
    for (const DataSource& source : dataSources())
        names.append(source.name);
    return names;
}

bool hasDataSource(const QString& name)
{
    return dataSourceNames().contains(name, Qt::CaseInsensitive);
}

QString dataSourceDriver(const QString& name)
{
    for (const DataSource& source : dataSources()) {
        if (source.name.compare(name, Qt::CaseInsensitive) == 0)
            return source.driver;
    }
    return QString();
}

QString driverLibrary(const QString& driverName)
{
    // Read from odbcinst.ini itself: unixODBC's SQLDrivers ignores ODBCSYSINI and leaves the driver
    // manager unable to find data sources afterwards.
    const QString folder = qEnvironmentVariableIsEmpty("ODBCSYSINI") ? QStringLiteral("/etc")
                                                                     : qEnvironmentVariable("ODBCSYSINI");
    const QString name = qEnvironmentVariableIsEmpty("ODBCINSTINI") ? QStringLiteral("odbcinst.ini")
                                                                    : qEnvironmentVariable("ODBCINSTINI");
    QFile file(folder + QLatin1Char('/') + name);
    if (driverName.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromLocal8Bit(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inEntry = line.mid(1, line.size() - 2).trimmed().compare(driverName, Qt::CaseInsensitive) == 0;
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (inEntry && equals > 0 &&
            line.left(equals).trimmed().compare(QLatin1String("Driver"), Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1).trimmed();
    }
    return QString();
}

QString libraryForConnection(const QString& connectionText)
{
    QString driver = connectionAttribute(connectionText, QStringLiteral("Driver"));
    if (driver.isEmpty()) {
        const QString dsn = connectionAttribute(connectionText, QStringLiteral("DSN"));
        if (dsn.isEmpty())
            return QString();
        driver = dataSourceDriver(dsn);
    }
    if (driver.contains(QLatin1Char('/')))
        return driver;
    return driverLibrary(driver);
}

QString connectionAttribute(const QString& connectionText, const QString& key)
{
    // key=value pairs separated by ';'; a value in braces may itself hold ';'.
    static const QRegularExpression pair(QStringLiteral(R"(\s*([^=;]+?)\s*=\s*(\{[^}]*\}|[^;]*)\s*(?:;|$))"));
    QRegularExpressionMatchIterator it = pair.globalMatch(connectionText);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(1).compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QString value = match.captured(2).trimmed();
        if (value.startsWith(QLatin1Char('{')) && value.endsWith(QLatin1Char('}')))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return QString();
}

QString redacted(const QString& connectionText)
{
    static const QRegularExpression password(
        QStringLiteral(R"(((?:^|;)\s*(?:PWD|Password)\s*=\s*)(\{[^}]*\}|[^;]*))"),
        QRegularExpression::CaseInsensitiveOption);
    QString result = connectionText;
    return result.replace(password, QStringLiteral("\\1****"));
}

} // namespace OdbcSetup
