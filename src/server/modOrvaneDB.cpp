#include "server/modOrvaneDB.h"

#include "ports/CulvaneError.h"
#include "server/DbConnection.h"
#include "server/OdbcSetup.h"
#include "server/Secrets.h"
#include "server/Statements.h"

#include <QCoreApplication>
#include <QSqlDatabase>

#include <cstdio>

namespace {

// The shared recordsets live until the process ends. Qt's SQL globals (the connection list and the driver
// loader) are made first, so that they outlive the recordsets whatever way the process ends; a normal
// application end closes the recordsets before Qt goes away.
struct SharedLists {
    Recordset distributionLists;
    Recordset classesOfService;
};

SharedLists& sharedLists()
{
    static const bool sqlReady = [] {
        QSqlDatabase::drivers();
        QSqlDatabase::connectionNames();
        qAddPostRoutine(&modOrvaneDB::CloseSharedLists);
        return true;
    }();
    Q_UNUSED(sqlReady);
    static SharedLists lists;
    return lists;
}

} // namespace

namespace modOrvaneDB {

QString& DbConnectionString()
{
    static QString text;
    return text;
}

Recordset& CosRecords()
{
    return sharedLists().classesOfService;
}

Recordset& DistributionListRecords()
{
    return sharedLists().distributionLists;
}

QString ChosenConnectionString()
{
    return OdbcSetup::hasDataSource(Statements::DataSourceName) ? Statements::DataSourceConnectionText
                                                                : Statements::ConnectionText;
}

namespace {

// The data source's connection text with its user and password: the data source's own or the one asked for.
std::optional<QString> signedIn(const QString& base, const QString& user, OdbcSetup::BraceRule rule,
                                const PasswordPrompt& askPassword)
{
    const QString& name = Statements::DataSourceName;
    Secrets::keepOutOfCoreDumps();
    QString password = OdbcSetup::dataSourceSetting(name, QStringLiteral("PWD"));
    if (password.isEmpty()) {
        std::optional<QString> asked = askPassword ? askPassword(name, user) : std::nullopt;
        if (!asked)
            return std::nullopt;
        password = std::move(*asked);
    }
    const QString userValue = OdbcSetup::connectionValue(user, rule);
    QString passwordValue = OdbcSetup::connectionValue(password, rule);
    const bool unreadable =
        (userValue.isEmpty() && !user.isEmpty()) || (passwordValue.isEmpty() && !password.isEmpty());
    Secrets::wipe(password);
    if (unreadable) {
        Secrets::wipe(passwordValue);
        raiseError(
            AdoErrors::WrongArguments,
            QStringLiteral("The UID or PWD of the ODBC data source %1 holds \"};\", which FreeTDS cannot "
                           "read from a connection text.")
                .arg(name));
    }
    // The password goes last: what is shown of the text ends before it. Appended to room made beforehand,
    // it is copied into no intermediate text.
    QString text;
    text.reserve(base.size() + userValue.size() + passwordValue.size() + 16);
    text += base;
    text += QLatin1String(";UID=");
    text += userValue;
    text += QLatin1String(";PWD=");
    text += passwordValue;
    Secrets::wipe(passwordValue);
    return text;
}

} // namespace

std::optional<QString> ChooseConnectionString(const PasswordPrompt& askPassword, const ConnectionNote& note)
{
    std::optional<QString> text = ChosenConnectionString();
    const bool dataSource = *text == Statements::DataSourceConnectionText;
    if (dataSource) {
        const bool freeTds = OdbcSetup::isFreeTds(OdbcSetup::libraryForConnection(*text));
        // FreeTDS hands texts over in the client character set, which it takes from the locale unless told:
        // under LC_ALL=C that is ASCII and every other letter, a name's or a statement's, arrives as '?'. Qt
        // reads and writes UTF-8.
        if (freeTds)
            *text += QStringLiteral(";ClientCharset=UTF-8");
        const QString user = OdbcSetup::dataSourceSetting(Statements::DataSourceName, QStringLiteral("UID"));
        if (!user.isEmpty())
            text = signedIn(*text, user, freeTds ? OdbcSetup::BraceRule::FreeTds : OdbcSetup::BraceRule::Odbc,
                            askPassword);
        if (!text)
            return std::nullopt;
    }
    const QString shown = OdbcSetup::redacted(*text);
    const QString which = dataSource ? QStringLiteral("connecting through the ODBC data source %1 (%2)")
                                           .arg(Statements::DataSourceName, shown)
                                     : QStringLiteral("no ODBC data source %1 is defined; connecting with %2")
                                           .arg(Statements::DataSourceName, shown);
    if (note) {
        note(which);
    } else {
        std::fprintf(stderr, "Culvane: %s\n", which.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    return text;
}

bool OpenSharedLists(const QString& connection, QString* failureDetail)
{
    try {
        DistributionListRecords().setCursorLocation(Recordset::adUseServer);
        DistributionListRecords().Open(Statements::DistributionListsStatement, connection,
                                       Recordset::adOpenKeyset, Recordset::adLockReadOnly,
                                       Recordset::adCmdUnspecified);
        CosRecords().setCursorLocation(Recordset::adUseServer);
        CosRecords().Open(Statements::CosStatement, connection, Recordset::adOpenKeyset,
                          Recordset::adLockReadOnly, Recordset::adCmdUnspecified);
        return true;
    } catch (const CulvaneError& error) {
        CloseSharedLists();
        if (failureDetail)
            *failureDetail = error.detail().isEmpty()
                                 ? QStringLiteral("Error %1: %2").arg(error.number()).arg(error.description())
                                 : error.detail();
        return false;
    }
}

void CloseSharedLists()
{
    try {
        CosRecords().Close();
    } catch (const CulvaneError&) {
    }
    try {
        DistributionListRecords().Close();
    } catch (const CulvaneError&) {
    }
}

} // namespace modOrvaneDB
