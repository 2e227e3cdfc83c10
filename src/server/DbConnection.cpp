#include "server/DbConnection.h"

#include "ports/CulvaneError.h"

#include <QSqlDriver>
#include <QUuid>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

namespace {

// The DBMS behind an open QODBC connection, from the driver's SQL_DBMS_NAME.
SqlDialect::Dbms detectDbms(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    // QODBC hands out its HDBC as a void* (SQLHANDLE).
    if (!handle.isValid() || handle.metaType() != QMetaType::fromType<void*>())
        return SqlDialect::Dbms::SqlServer;
    const auto hdbc = *static_cast<const SQLHDBC*>(handle.constData());
    if (hdbc == nullptr)
        return SqlDialect::Dbms::SqlServer;
    SQLCHAR name[256] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetInfo(hdbc, SQL_DBMS_NAME, name, sizeof name, &length);
    if (!SQL_SUCCEEDED(rc))
        return SqlDialect::Dbms::SqlServer;
    const QString dbmsName = QString::fromLatin1(reinterpret_cast<const char*>(name));
    return dbmsName.contains(QLatin1String("SQLite"), Qt::CaseInsensitive) ? SqlDialect::Dbms::SQLite
                                                                           : SqlDialect::Dbms::SqlServer;
}

} // namespace

DbConnection::DbConnection(const QString& connectionText)
{
    if (connectionText.trimmed().isEmpty())
        raiseError(AdoErrors::NoConnection,
                   QStringLiteral("The connection cannot be used to perform this operation. It is either "
                                  "closed or invalid in this context."));
    m_name = QStringLiteral("culvane-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlError failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        db.setDatabaseName(connectionText);
        if (db.open())
            m_dbms = detectDbms(db);
        else
            failure = db.lastError();
    }
    if (failure.type() != QSqlError::NoError) {
        QSqlDatabase::removeDatabase(m_name);
        raise(failure);
    }
}

DbConnection::~DbConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase DbConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

void DbConnection::raise(const QSqlError& error)
{
    bool numeric = false;
    int number = error.nativeErrorCode().toInt(&numeric);
    if (!numeric || number == 0)
        number = AdoErrors::ProviderError;
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unspecified error");
    raiseError(number, text);
}
