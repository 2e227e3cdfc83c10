#include "server/DbConnection.h"

#include "ports/CulvaneError.h"
#include "server/OdbcSetup.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlResult>
#include <QUuid>
#include <QVariant>

#include <map>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

namespace {
SQLHDBC connectionHandle(const QSqlDatabase& db);
} // namespace

struct DbConnection::Open {
    // The QSqlDatabase connection, kept at hand: looking it up by name each time costs a lock. Invalid
    // until the connection is open.
    QSqlDatabase db;
    QString text;
    SqlDialect::Dbms dbms = SqlDialect::Dbms::SqlServer;
    // Commands with parameters run again and again with other values; their adapted texts are kept.
    QHash<QString, QString> adaptedCommands;
    // The stand-in's database file as the text names it, and which file that was when it was opened.
    QString file;
    dev_t device = 0;
    ino_t inode = 0;
    QElapsedTimer idle;

    Open() = default;
    Open(const Open&) = delete;
    Open& operator=(const Open&) = delete;
    ~Open()
    {
        if (!db.isValid())
            return;
        const QString name = db.connectionName();
        // A transaction left open is undone; a driver may refuse to disconnect while it lasts.
        const SQLHDBC hdbc = connectionHandle(db);
        SQLULEN autocommit = SQL_AUTOCOMMIT_ON;
        if (hdbc && SQL_SUCCEEDED(SQLGetConnectAttr(hdbc, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr)) &&
            autocommit != SQL_AUTOCOMMIT_ON)
            db.rollback();
        db.close();
        db = QSqlDatabase(); // the last copy goes before the connection is removed
        QSqlDatabase::removeDatabase(name);
    }
};

namespace {

// A kept connection to the stand-in's file that has been idle this long is asked a trivial query before it
// is lent again; one to a server is asked every time.
constexpr qint64 kIdleCheckMilliseconds = 60 * 1000;
constexpr qsizetype kAdaptedCommandsKept = 64;

struct Pool {
    DbTimeouts timeouts;
    std::map<QString, std::unique_ptr<DbConnection::Open>> kept;
};

Pool& pool()
{
    // Qt's SQL globals are made first, so that they outlive the pool however the process ends; a normal
    // application end closes the kept connections before Qt goes away.
    static const bool sqlReady = [] {
        QSqlDatabase::drivers();
        QSqlDatabase::connectionNames();
        qAddPostRoutine(&DbConnection::closeKeptConnections);
        return true;
    }();
    Q_UNUSED(sqlReady);
    static Pool instance;
    return instance;
}

SQLHANDLE odbcHandle(const QVariant& handle)
{
    // QODBC hands out its handles as a void* (SQLHANDLE).
    if (!handle.isValid() || handle.metaType() != QMetaType::fromType<void*>())
        return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

SQLHDBC connectionHandle(const QSqlDatabase& db)
{
    return db.driver() ? static_cast<SQLHDBC>(odbcHandle(db.driver()->handle())) : nullptr;
}

// The DBMS behind an open QODBC connection, from the driver's SQL_DBMS_NAME.
SqlDialect::Dbms detectDbms(const QSqlDatabase& db)
{
    const SQLHDBC hdbc = connectionHandle(db);
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

bool fileIdentity(const QString& file, dev_t* device, ino_t* inode)
{
    struct stat info {};
    // A relative name resolves against the working folder, as the driver resolved it.
    if (::stat(QFile::encodeName(file).constData(), &info) != 0)
        return false;
    *device = info.st_dev;
    *inode = info.st_ino;
    return true;
}

// Every statement is a default result set, read once from start to end. A scrollable QSqlQuery asks the
// driver for a static cursor, which FreeTDS opens on the server with sp_cursoropen; SQL Server refuses that
// for a procedure call (16937) and it costs a round trip per fetch elsewhere. Recordsets keep their rows, so
// moving back and counting need no cursor.
void forwardOnly(QSqlQuery& query)
{
    query.setForwardOnly(true);
}

void applyTimeout(QSqlQuery& query, int seconds)
{
    const QSqlResult* result = query.result();
    const SQLHANDLE statement = result ? odbcHandle(result->handle()) : nullptr;
    if (statement == nullptr)
        return;
    SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
}

void applyCommandTimeout(QSqlQuery& query)
{
    applyTimeout(query, pool().timeouts.commandSeconds);
}

enum class Use { Lend, Keep };

// Whether a connection can be lent (again) without carrying anything over from its last use. Kept after a
// use, it need only hold no transaction: whatever else may break meanwhile is checked when it is lent.
bool usable(DbConnection::Open& open, Use use)
{
    QSqlDatabase& db = open.db;
    if (!db.isOpen())
        return false;
    if (const SQLHDBC hdbc = connectionHandle(db)) {
        SQLULEN autocommit = SQL_AUTOCOMMIT_ON;
        if (SQL_SUCCEEDED(SQLGetConnectAttr(hdbc, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr)) &&
            autocommit != SQL_AUTOCOMMIT_ON)
            return false; // a transaction was left open
        if (use == Use::Keep)
            return true;
        SQLULEN dead = SQL_CD_FALSE;
        if (SQL_SUCCEEDED(SQLGetConnectAttr(hdbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
            dead == SQL_CD_TRUE)
            return false;
    } else if (use == Use::Keep) {
        return true;
    }
    // A stand-in file that was removed or replaced, or a relative name that now means another file.
    if (!open.file.isEmpty()) {
        dev_t device = 0;
        ino_t inode = 0;
        if (!fileIdentity(open.file, &device, &inode) || device != open.device || inode != open.inode)
            return false;
    }
    // A server's socket that its end closed (a restart, a crash) shows only when it is used, and then as a
    // failed query without a number: the server is asked first. The stand-in's file is checked above.
    const bool server = open.file.isEmpty() && open.dbms == SqlDialect::Dbms::SqlServer;
    if (server || (open.idle.isValid() && open.idle.elapsed() > kIdleCheckMilliseconds)) {
        QSqlQuery ping(db);
        ping.setForwardOnly(true);
        if (!ping.prepare(QStringLiteral("SELECT 1")))
            return false;
        // A server that stopped answering costs no more here than a new connection would.
        applyTimeout(ping, pool().timeouts.connectSeconds);
        if (!ping.exec())
            return false;
    }
    return true;
}

// The diagnostic records of an ODBC handle, in their order.
QVector<DbConnection::Diagnostic> diagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle)
{
    QVector<DbConnection::Diagnostic> records;
    if (handle == nullptr)
        return records;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        // Only the state and number are needed; a longer message is cut, which is no failure here.
        SQLCHAR message[8] = {};
        const SQLRETURN rc =
            SQLGetDiagRec(handleType, handle, record, state, &native, message, sizeof message, &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        records.append({QString::fromLatin1(reinterpret_cast<const char*>(state)), int(native)});
    }
    return records;
}

// The driver's number for a failure, 0 when it gave none. QODBC reads every diagnostic record the driver
// left; Qt 6.4 keeps the number of the one it reads last, which is the driver's first (18456 "Login failed
// for user ..." after FreeTDS's own "Unable to connect to data source", which has none), later versions
// join all numbers with ';' in the driver's order. Either way the first number that is not 0 names it.
int nativeNumber(const QSqlError& error)
{
    const QString codes = error.nativeErrorCode();
    for (const QStringView code : QStringView(codes).split(QLatin1Char(';'))) {
        bool numeric = false;
        const int number = code.trimmed().toInt(&numeric);
        if (numeric && number != 0)
            return number;
    }
    return 0;
}

QString detailOf(const QSqlError& error, const QString& connectionText)
{
    QStringList lines;
    if (!connectionText.isEmpty())
        lines.append(QStringLiteral("Data source: ") + OdbcSetup::redacted(connectionText));
    const int number = nativeNumber(error);
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    lines.append(QStringLiteral("Driver error %1: %2")
                     .arg(number == 0 ? QStringLiteral("(none)") : QString::number(number),
                          text.isEmpty() ? QStringLiteral("(no message)") : text));
    return lines.join(QLatin1Char('\n'));
}

std::unique_ptr<DbConnection::Open> connect(const QString& text)
{
    if (text.trimmed().isEmpty())
        raiseError(AdoErrors::NoConnection,
                   QStringLiteral("The connection cannot be used to perform this operation. It is either "
                                  "closed or invalid in this context."));
    const DbTimeouts timeouts = pool().timeouts;
    auto open = std::make_unique<DbConnection::Open>();
    open->text = text;
    // The SQLite ODBC driver waits for a locked file as long as its Timeout (ms) says, 100 s unless told,
    // and makes an empty database where the file is missing. The stand-in gets the connection timeout and
    // never a new file.
    QString driverText = text;
    QString file;
    const bool sqliteDriver = QFileInfo(OdbcSetup::libraryForConnection(text))
                                  .fileName()
                                  .contains(QLatin1String("sqlite"), Qt::CaseInsensitive);
    if (sqliteDriver) {
        if (!driverText.trimmed().endsWith(QLatin1Char(';')))
            driverText += QLatin1Char(';');
        driverText += QStringLiteral("Timeout=%1;NoCreat=1").arg(timeouts.connectSeconds * 1000);
        file = OdbcSetup::connectionAttribute(text, QStringLiteral("database"));
    }
    // FreeTDS, reached through QODBC and unixODBC, reads one character past the text, its terminating NUL,
    // into the last value: a last PWD=x signs in with "x\0", a last database=OrvaneDb opens "OrvaneDb\0".
    // After a closing ';' the NUL stands outside every value.
    if (!driverText.trimmed().endsWith(QLatin1Char(';')))
        driverText += QLatin1Char(';');
    const QString name = QStringLiteral("culvane-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlError failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        // QODBC puts "DSN=" before a text that names neither a driver nor a server.
        static const QRegularExpression dsnFirst(QStringLiteral(R"(^\s*DSN\s*=\s*)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        const bool prefixed = !driverText.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive) &&
                              !driverText.contains(QLatin1String("SERVER="), Qt::CaseInsensitive);
        db.setDatabaseName(prefixed ? QString(driverText).remove(dsnFirst) : driverText);
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(timeouts.connectSeconds));
        if (db.open()) {
            open->dbms = detectDbms(db);
            if (open->dbms == SqlDialect::Dbms::SQLite) {
                // From here on a locked file waits as long as a command may.
                QSqlQuery busy(db);
                busy.setForwardOnly(true);
                busy.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(timeouts.commandSeconds * 1000));
            }
        } else {
            failure = db.lastError();
        }
    }
    if (failure.type() != QSqlError::NoError) {
        QSqlDatabase::removeDatabase(name);
        if (!file.isEmpty() && !QFileInfo::exists(file)) {
            QSqlError missing(failure.driverText(),
                              failure.databaseText() +
                                  QStringLiteral(" (the database file %1 does not exist)")
                                      .arg(QDir::current().absoluteFilePath(file)),
                              failure.type(), failure.nativeErrorCode());
            DbConnection::raise(missing, text, CulvaneError::Statement::NotSent);
        }
        // Nothing was sent: whatever the caller meant to run, the server never saw it.
        DbConnection::raise(failure, text, CulvaneError::Statement::NotSent);
    }
    open->db = QSqlDatabase::database(name, false);
    if (!file.isEmpty() && fileIdentity(file, &open->device, &open->inode))
        open->file = file;
    return open;
}

} // namespace

DbConnection::DbConnection(const QString& connectionText)
{
    auto& kept = pool().kept;
    const auto found = kept.find(connectionText);
    if (found != kept.end()) {
        std::unique_ptr<Open> candidate = std::move(found->second);
        kept.erase(found);
        if (usable(*candidate, Use::Lend))
            m_open = std::move(candidate);
        // otherwise the candidate closes here and a new connection takes its place
    }
    if (!m_open)
        m_open = connect(connectionText);
}

DbConnection::~DbConnection()
{
    if (!m_open)
        return;
    auto& kept = pool().kept;
    if (kept.count(m_open->text) == 0 && usable(*m_open, Use::Keep)) {
        m_open->idle.start();
        QString text = m_open->text;
        kept.emplace(std::move(text), std::move(m_open));
    }
}

QSqlDatabase DbConnection::database() const
{
    return m_open->db;
}

SqlDialect::Dbms DbConnection::dbms() const
{
    return m_open->dbms;
}

QString DbConnection::adapt(const QString& statement) const
{
    if (m_open->dbms == SqlDialect::Dbms::SqlServer)
        return statement;
    if (!statement.contains(QLatin1Char('?')))
        return SqlDialect::adapt(statement, m_open->dbms);
    QHash<QString, QString>& known = m_open->adaptedCommands;
    const auto found = known.constFind(statement);
    if (found != known.constEnd())
        return *found;
    if (known.size() >= kAdaptedCommandsKept)
        known.clear();
    return *known.insert(statement, SqlDialect::adapt(statement, m_open->dbms));
}

void DbConnection::prepare(QSqlQuery& query, const QString& statement)
{
    forwardOnly(query);
    if (!query.prepare(adapt(statement)))
        fail(query);
    applyCommandTimeout(query);
}

void DbConnection::execute(QSqlQuery& query, const QString& statement)
{
    // The stand-in's command timeout is its connection's busy timeout, so its statements need no handle
    // before they run, and a direct run costs its driver less than a prepared one: a CSV import of
    // thousands of lookups is about 6% faster. Elsewhere the statement gets its timeout before it runs.
    if (dbms() == SqlDialect::Dbms::SQLite) {
        forwardOnly(query);
        if (!query.exec(adapt(statement)))
            fail(query);
        return;
    }
    prepare(query, statement);
    if (!query.exec())
        fail(query);
}

void DbConnection::fail(const QSqlQuery& query) const
{
    // The driver keeps a failed call's diagnostics on its statement until the statement is used again.
    const QSqlResult* result = query.result();
    QVector<Diagnostic> diagnostics =
        diagnosticsOf(SQL_HANDLE_STMT, result ? odbcHandle(result->handle()) : nullptr);
    if (diagnostics.isEmpty())
        diagnostics = diagnosticsOf(SQL_HANDLE_DBC, connectionHandle(m_open->db));
    raise(query.lastError(), m_open->text, statementOutcome(diagnostics, m_open->dbms));
}

CulvaneError::Statement DbConnection::statementOutcome(const QVector<Diagnostic>& diagnostics,
                                                       SqlDialect::Dbms dbms)
{
    if (diagnostics.isEmpty())
        return CulvaneError::Statement::Unanswered;
    for (const Diagnostic& diagnostic : diagnostics) {
        const QString state = diagnostic.sqlState.toUpper();
        if (state == QLatin1String("HYT00") || state == QLatin1String("HYT01") ||
            state == QLatin1String("S1T00") || state == QLatin1String("HY008") ||
            state == QLatin1String("S1008") || state.startsWith(QLatin1String("08")))
            return CulvaneError::Statement::Unanswered;
        // SQLITE_BUSY and SQLITE_LOCKED: the stand-in's command timeout ran out waiting for the file.
        if (dbms == SqlDialect::Dbms::SQLite && (diagnostic.nativeError == 5 || diagnostic.nativeError == 6))
            return CulvaneError::Statement::Unanswered;
    }
    return CulvaneError::Statement::Refused;
}

void DbConnection::raise(const QSqlError& error, const QString& connectionText,
                         CulvaneError::Statement statement)
{
    int number = nativeNumber(error);
    if (number == 0)
        number = AdoErrors::ProviderError;
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unspecified error");
    throw CulvaneError(number, text, detailOf(error, connectionText), statement);
}

void DbConnection::closeKeptConnections()
{
    pool().kept.clear();
}

int DbConnection::keptConnectionCount()
{
    return static_cast<int>(pool().kept.size());
}

DbTimeouts DbConnection::timeouts()
{
    return pool().timeouts;
}

void DbConnection::setTimeoutsForTests(const DbTimeouts& timeouts)
{
    pool().timeouts = timeouts;
    closeKeptConnections();
}
