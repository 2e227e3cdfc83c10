#include "server/SignInReport.h"

#include "ports/CulvaneError.h"
#include "server/DbConnection.h"
#include "server/OdbcSetup.h"
#include "server/Statements.h"

#include <QSqlQuery>
#include <QVariant>

namespace SignInReport {

namespace {

// The columns of the statement's first row as texts; none when it has no row. Raises the driver's error.
QStringList firstRow(DbConnection& db, const QString& statement, int columns)
{
    QSqlQuery query(db.database());
    db.execute(query, statement);
    QStringList values;
    if (!query.next())
        return values;
    for (int i = 0; i < columns; ++i)
        values.append(query.value(i).isNull() ? QString() : query.value(i).toString().trimmed());
    return values;
}

// Qt's ODBC driver warns on standard error of every statement that fails. A refusal here is no fault and
// is told once, in the line; a quiet culvane-run would otherwise show it on every start.
class QtWarningsHeld {
public:
    QtWarningsHeld()
        : m_previous(qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}))
    {
    }
    ~QtWarningsHeld() { qInstallMessageHandler(m_previous); }
    QtWarningsHeld(const QtWarningsHeld&) = delete;
    QtWarningsHeld& operator=(const QtWarningsHeld&) = delete;

private:
    QtMessageHandler m_previous;
};

QString schemeText(const QString& authScheme)
{
    if (authScheme.compare(QLatin1String("KERBEROS"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Kerberos");
    if (authScheme.compare(QLatin1String("NTLM"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("NTLM");
    if (authScheme.compare(QLatin1String("SQL"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("SQL login");
    // A way this program does not know by name is still the server's word.
    return authScheme.isEmpty() ? QStringLiteral("sign-in method unknown") : authScheme;
}

QString encryptionText(const QString& encryptOption)
{
    if (encryptOption.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("connection encrypted");
    if (encryptOption.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("connection not encrypted");
    return QStringLiteral("connection encryption unknown");
}

} // namespace

QString serverName(const QString& connection)
{
    const QString dataSource = OdbcSetup::connectionAttribute(connection, QStringLiteral("DSN"));
    QString name;
    if (!dataSource.isEmpty()) {
        name = OdbcSetup::dataSourceSetting(dataSource, QStringLiteral("Server"));
        if (name.isEmpty())
            name = OdbcSetup::dataSourceSetting(dataSource, QStringLiteral("Servername"));
    } else {
        name = OdbcSetup::connectionAttribute(connection, QStringLiteral("server"));
    }
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("(local)") : name;
}

std::optional<Facts> ask(const QString& connection)
{
    Facts facts;
    facts.server = serverName(connection);
    facts.freeTds = OdbcSetup::isFreeTds(OdbcSetup::libraryForConnection(connection));
    try {
        DbConnection db(connection);
        if (db.dbms() == SqlDialect::Dbms::SQLite)
            return std::nullopt;
        const QtWarningsHeld quiet;
        // Each asked on its own: a server may let an account read its own name but not the connections.
        try {
            facts.login = firstRow(db, Statements::SignedInLoginStatement, 1).value(0);
        } catch (const CulvaneError& error) {
            facts.refusal = error.description();
        }
        try {
            const QStringList values = firstRow(db, Statements::SignedInConnectionStatement, 2);
            facts.authScheme = values.value(0);
            facts.encryptOption = values.value(1);
        } catch (const CulvaneError& error) {
            if (facts.refusal.isEmpty())
                facts.refusal = error.description();
        }
    } catch (const CulvaneError& error) {
        facts.refusal = error.description();
    }
    return facts;
}

QString line(const Facts& facts)
{
    QString text = QStringLiteral("signed in to %1 as %2 (%3), %4")
                       .arg(facts.server, facts.login.isEmpty() ? QStringLiteral("unknown") : facts.login,
                            schemeText(facts.authScheme), encryptionText(facts.encryptOption));
    const bool unknown = facts.login.isEmpty() || facts.authScheme.isEmpty() ||
                         (facts.encryptOption.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) != 0 &&
                          facts.encryptOption.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) != 0);
    if (unknown && !facts.refusal.isEmpty())
        text += QStringLiteral("; the server did not tell: ") + facts.refusal;
    return text;
}

QString warning(const Facts& facts)
{
    if (facts.encryptOption.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) != 0)
        return QString();
    // FreeTDS's setting; Microsoft's driver names it otherwise.
    const QString setting =
        facts.freeTds ? QStringLiteral("Encryption=require") : QStringLiteral("Encrypt=yes");
    return QStringLiteral("warning: the connection to %1 is not encrypted: the subscribers' data and every "
                          "request cross the network readable; %2 in the data source %3 encrypts it")
        .arg(facts.server, setting, Statements::DataSourceName);
}

} // namespace SignInReport
