#pragma once

#include "server/SqlDialect.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// One database connection made from a connection text, open for the life of the object. Every recordset
// and command of the program opens one of these, as ADO opens a connection per ActiveConnection text.
// The constructor raises CulvaneError when the connection cannot be made.
class DbConnection {
public:
    explicit DbConnection(const QString& connectionText);
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    QSqlDatabase database() const;
    SqlDialect::Dbms dbms() const { return m_dbms; }
    // The statement in the form the connected DBMS understands.
    QString adapt(const QString& statement) const { return SqlDialect::adapt(statement, m_dbms); }

    // Raises the driver's error: its native number when it has one, and its message text.
    [[noreturn]] static void raise(const QSqlError& error);

private:
    QString m_name;
    SqlDialect::Dbms m_dbms = SqlDialect::Dbms::SqlServer;
};

namespace AdoErrors {
// ADO's own numbers for the misuses the program can make of a recordset or command.
constexpr int ProviderError = -2147467259; // E_FAIL, when the driver gives no native number
constexpr int WrongArguments = 3001;
constexpr int NoCurrentRecord = 3021;
constexpr int ItemNotFound = 3265;
constexpr int ObjectClosed = 3704;
constexpr int ObjectOpen = 3705;
constexpr int NoConnection = 3709;
} // namespace AdoErrors
