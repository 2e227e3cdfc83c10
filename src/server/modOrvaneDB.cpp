#include "server/modOrvaneDB.h"

#include "ports/CulvaneError.h"
#include "server/Statements.h"

#include <QCoreApplication>
#include <QSqlDatabase>

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

bool OpenSharedLists(const QString& connection)
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
    } catch (const CulvaneError&) {
        CloseSharedLists();
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
