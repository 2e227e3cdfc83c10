#pragma once

#include "ports/CulvaneError.h"
#include "server/SqlDialect.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVector>

#include <memory>

class QSqlQuery;

// ADO's default timeouts: how long a connection may take to open, and a statement to run.
struct DbTimeouts {
    int connectSeconds = 15;
    int commandSeconds = 30;
};

// The database connection for one connection text, lent to one recordset open or one command. ADO pools
// connections behind "a new connection per query"; so does this: one open connection per connection text
// is kept between uses, checked before it is lent again, and closed and replaced when it is broken or
// holds state a query left behind (an open transaction). A connection in use is never lent twice; a
// second user meanwhile gets a connection of its own.
// The constructor raises CulvaneError when no connection can be made.
class DbConnection {
public:
    explicit DbConnection(const QString& connectionText);
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    QSqlDatabase database() const;
    SqlDialect::Dbms dbms() const;
    // The statement in the form the connected DBMS understands.
    QString adapt(const QString& statement) const;
    // Prepares the adapted statement as a forward-only result with the command timeout; raises the driver's
    // error on failure.
    void prepare(QSqlQuery& query, const QString& statement);
    // Runs the adapted statement, which has no parameters, as a forward-only result within the command
    // timeout; raises the driver's error on failure.
    void execute(QSqlQuery& query, const QString& statement);
    // Raises the driver's error of a statement run on this connection, with what the driver's diagnostics
    // tell about the server's part in it (see statementOutcome).
    [[noreturn]] void fail(const QSqlQuery& query) const;

    // Raises the driver's error: its native number when it has one, and its message text. The error's
    // detail names the data source (never a password) and gives the driver's error number and message.
    [[noreturn]] static void raise(const QSqlError& error, const QString& connectionText = QString(),
                                   CulvaneError::Statement statement = CulvaneError::Statement::None);

    // Whether a statement that failed with these diagnostics (SQLSTATE and native error of each record)
    // was refused by the server or went unanswered: a timeout (HYT00, HYT01, S1T00), a cancel (HY008,
    // S1008) or a connection failure (class 08) happens on this side, and so does the stand-in's wait for a
    // locked file (SQLite's busy and locked errors, 5 and 6). Without any diagnostic nothing shows that the
    // server answered.
    struct Diagnostic {
        QString sqlState;
        int nativeError = 0;
    };
    static CulvaneError::Statement statementOutcome(const QVector<Diagnostic>& diagnostics,
                                                    SqlDialect::Dbms dbms);

    // Closes every kept connection; the process end does this too.
    static void closeKeptConnections();
    static int keptConnectionCount();

    static DbTimeouts timeouts();
    // For tests only: shorter timeouts than ADO's, so that a lock or a silent server fails quickly.
    // Kept connections are closed, so every later connection uses the new values.
    static void setTimeoutsForTests(const DbTimeouts& timeouts);

    struct Open;

private:
    std::unique_ptr<Open> m_open;
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
