#pragma once

#include "server/Recordset.h"

#include <QString>

// The database state the whole program shares from start-up until the process ends.
namespace modOrvaneDB {

QString& DbConnectionString();

// The connection text for this workstation: through the ODBC data source OrvaneDb when the user's or the
// system's odbc.ini defines one, else the program's own connection text. Says on standard error which.
QString ChooseConnectionString();
// The same choice without the note; safe on any thread, and before the application object exists.
QString ChosenConnectionString();
Recordset& CosRecords();
Recordset& DistributionListRecords();

// Opens both shared recordsets on the given connection; false (and both closed) when either fails, with
// the failure's detail (data source and driver error) in failureDetail when given.
bool OpenSharedLists(const QString& connection, QString* failureDetail = nullptr);
void CloseSharedLists();

} // namespace modOrvaneDB
