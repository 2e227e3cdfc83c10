#pragma once

#include "server/Recordset.h"

#include <QString>

#include <functional>
#include <optional>

// The database state the whole program shares from start-up until the process ends.
namespace modOrvaneDB {

QString& DbConnectionString();

// Asks the person at the screen for the password of a data source's user; nothing when they decline.
using PasswordPrompt = std::function<std::optional<QString>(const QString& dataSource, const QString& user)>;

// Hears which connection is used ("connecting through the ODBC data source ..."), the password hidden.
using ConnectionNote = std::function<void(const QString& note)>;

// The connection text for this workstation: through the ODBC data source OrvaneDb when the user's or the
// system's odbc.ini defines one, else the program's own connection text. Says which to `note`, or without
// one on standard error after "Culvane: ". FreeTDS reads neither UID nor PWD from a data source, so they go
// into the text: the data source's own, or for a UID without a PWD the password `askPassword` brings, asked
// once. Nothing when the person declines to give one (or nobody can be asked).
std::optional<QString> ChooseConnectionString(const PasswordPrompt& askPassword = {},
                                              const ConnectionNote& note = {});
// Which of the two without the note and without sign-in; safe on any thread, and before the application
// object exists.
QString ChosenConnectionString();
Recordset& CosRecords();
Recordset& DistributionListRecords();

// Opens both shared recordsets on the given connection; false (and both closed) when either fails, with
// the failure's detail (data source and driver error) in failureDetail when given.
bool OpenSharedLists(const QString& connection, QString* failureDetail = nullptr);
void CloseSharedLists();

} // namespace modOrvaneDB
