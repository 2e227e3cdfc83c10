#include "server/modOrvaneDB.h"

#include "ports/CulvaneError.h"
#include "server/OdbcSetup.h"
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

QString ChooseConnectionString()
{
    const QString text = ChosenConnectionString();
    const bool dataSource = text == Statements::DataSourceConnectionText;
    const QString note =
        dataSource ? QStringLiteral("Culvane: connecting through the ODBC data source %1 (%2)")
                         .arg(Statements::DataSourceName, text)
                   : QStringLiteral("Culvane: no ODBC data source %1 is defined; connecting with %2")
                         .arg(Statements::DataSourceName, text);
    std::fprintf(stderr, "%s\n", note.toLocal8Bit().constData());
    std::fflush(stderr);
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
