#pragma once

#include "server/Recordset.h"

#include <QString>

// The database state the whole program shares from start-up until the process ends.
namespace modOrvaneDB {

QString& DbConnectionString();
Recordset& CosRecords();
Recordset& DistributionListRecords();

// Opens both shared recordsets on the given connection; false (and both closed) when either fails.
bool OpenSharedLists(const QString& connection);
void CloseSharedLists();

} // namespace modOrvaneDB
