#include "server/OdbcSetup.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstring>

#include <odbcinst.h>
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

bool isFreeTds(const QString& library)
{
    return QFileInfo(library).fileName().startsWith(QLatin1String("libtdsodbc"), Qt::CaseInsensitive);
}

QString dataSourceSetting(const QString& dataSource, const QString& key)
{
    // odbcinst's own reader, so the setting is the one the driver sees: ODBCINI or ~/.odbc.ini first, then
    // the odbc.ini of ODBCSYSINI or /etc, the whole data source from the first file that defines it.
    std::array<char, 4096> buffer{};
    const QByteArray section = dataSource.toLocal8Bit();
    const QByteArray entry = key.toLocal8Bit();
    const int length = SQLGetPrivateProfileString(section.constData(), entry.constData(), "", buffer.data(),
                                                  static_cast<int>(buffer.size()), "ODBC.INI");
    QString value;
    if (length > 0)
        value = QString::fromLocal8Bit(buffer.data(),
                                       static_cast<qsizetype>(::strnlen(buffer.data(), buffer.size())));
    // The setting may be a password.
    ::explicit_bzero(buffer.data(), buffer.size());
    return value;
}

QString connectionValue(const QString& value, BraceRule rule)
{
    if (rule == BraceRule::FreeTds) {
        // FreeTDS 1.3 keeps blanks and braces inside a plain value; only ';' ends it, and a '{' at its start
        // opens braces, which then close at the first "};".
        if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{')))
            return value;
        if (value.contains(QLatin1String("};")))
            return QString();
        return QLatin1Char('{') + value + QLatin1Char('}');
    }
    const bool plain = std::none_of(value.cbegin(), value.cend(), [](QChar c) {
        return c == QLatin1Char(';') || c == QLatin1Char('{') || c == QLatin1Char('}') || c.isSpace();
    });
    if (plain)
        return value;
    QString braced = value;
    braced.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}

QString connectionAttribute(const QString& connectionText, const QString& key)
{
    // key=value pairs separated by ';'; a value in braces may itself hold ';'. Read by hand, not through a
    // regular expression: a pattern's first use compiles it to machine code, which cost the start-up
    // (every connection reads its text) about a millisecond. The pairs are read exactly as the pattern
    //   \s*([^=;]+?)\s*=\s*(\{[^}]*\}|[^;]*)\s*(?:;|$)
    // finds them one after another, a test holding the two side by side.
    const QStringView text(connectionText);
    const qsizetype size = text.size();
    // The pattern's \s: ASCII white space only.
    const auto isSpace = [](QChar c) {
        const char16_t u = c.unicode();
        return u == u' ' || (u >= u'\t' && u <= u'\r');
    };
    const auto skipSpaces = [&](qsizetype at) {
        while (at < size && isSpace(text[at]))
            ++at;
        return at;
    };
    qsizetype start = 0;
    while (start < size) {
        const qsizetype first = skipSpaces(start);
        qsizetype equals = first;
        while (equals < size && text[equals] != QLatin1Char('=') && text[equals] != QLatin1Char(';'))
            ++equals;
        if (equals == size || text[equals] == QLatin1Char(';') || (equals == first && first == start)) {
            ++start; // no pair begins here
            continue;
        }
        // A name is at least one character, so "  =x" names the blank just before '='.
        const qsizetype nameBegin = equals == first ? first - 1 : first;
        qsizetype nameEnd = equals;
        while (nameEnd > nameBegin + 1 && isSpace(text[nameEnd - 1]))
            --nameEnd;
        const qsizetype valueBegin = skipSpaces(equals + 1);
        qsizetype valueEnd = -1;
        qsizetype next = -1;
        if (valueBegin < size && text[valueBegin] == QLatin1Char('{')) {
            const qsizetype close = text.indexOf(QLatin1Char('}'), valueBegin + 1);
            if (close >= 0) {
                const qsizetype after = skipSpaces(close + 1);
                if (after == size || text[after] == QLatin1Char(';')) {
                    valueEnd = close + 1;
                    next = after == size ? size : after + 1;
                }
            }
        }
        if (valueEnd < 0) {
            const qsizetype semicolon = text.indexOf(QLatin1Char(';'), valueBegin);
            valueEnd = semicolon < 0 ? size : semicolon;
            next = semicolon < 0 ? size : semicolon + 1;
        }
        if (text.sliced(nameBegin, nameEnd - nameBegin).compare(key, Qt::CaseInsensitive) == 0) {
            QStringView value = text.sliced(valueBegin, valueEnd - valueBegin).trimmed();
            if (value.startsWith(QLatin1Char('{')) && value.endsWith(QLatin1Char('}')))
                value = value.sliced(1, value.size() - 2);
            return value.toString();
        }
        start = next;
    }
    return QString();
}

QString redacted(const QString& connectionText)
{
    // Every ';' counts as the start of a pair, even one inside braces: hiding too much is harmless.
    const QStringView text(connectionText);
    const auto skipBlanks = [&](qsizetype at) {
        while (at < text.size() && text[at].isSpace())
            ++at;
        return at;
    };
    for (qsizetype start = 0;;) {
        const qsizetype key = skipBlanks(start);
        for (const QLatin1String name : {QLatin1String("PWD"), QLatin1String("Password")}) {
            if (!text.sliced(key).startsWith(name, Qt::CaseInsensitive))
                continue;
            const qsizetype equals = skipBlanks(key + name.size());
            if (equals < text.size() && text[equals] == QLatin1Char('='))
                return text.first(equals + 1).toString() + QStringLiteral("***");
        }
        const qsizetype next = text.indexOf(QLatin1Char(';'), start);
        if (next < 0)
            return connectionText;
        start = next + 1;
    }
}

} // namespace OdbcSetup
