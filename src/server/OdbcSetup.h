#pragma once

#include <QString>
#include <QStringList>

// What the ODBC driver manager knows of this workstation: the data sources of the user's and the system's
// odbc.ini, the drivers of odbcinst.ini, and the parts of a connection text.
namespace OdbcSetup {

// Data source names, user ones first, as the driver manager lists them.
QStringList dataSourceNames();
// Whether a data source of this name exists (names compare ignoring case, as unixODBC does).
bool hasDataSource(const QString& name);
// The driver a data source uses: an odbcinst.ini entry name or a library path. Empty when unknown.
QString dataSourceDriver(const QString& name);
// The library file behind an odbcinst.ini driver entry. Empty when there is no such entry.
QString driverLibrary(const QString& driverName);
// The library file a connection text would load: its Driver, or the driver of its DSN.
QString libraryForConnection(const QString& connectionText);
// Whether a driver library is FreeTDS's ODBC driver.
bool isFreeTds(const QString& library);

// One setting of a data source as the driver manager resolves it (the user's odbc.ini, else the system's),
// or an empty text when the data source or the setting is missing. A driver may ignore settings it does not
// know, as FreeTDS ignores UID and PWD.
QString dataSourceSetting(const QString& dataSource, const QString& key);

// How a driver reads a value in braces: ODBC's rule ("}}" stands for "}"), or FreeTDS 1.3's (the value
// ends at the first "};" and "}}" stays as it is).
enum class BraceRule { Odbc, FreeTds };
// A value as a connection text carries it: as it is where the driver reads it unchanged, else in braces.
// Empty when the driver cannot be given the value at all (FreeTDS 1.3 and a value holding "};").
QString connectionValue(const QString& value, BraceRule rule);

// One attribute of a connection text such as "Driver={SQL Server};server=;database=OrvaneDb": keys ignore
// case, braces around a value are removed. Empty when the text has no such key.
QString connectionAttribute(const QString& connectionText, const QString& key);
// The text with everything from the first password attribute's value (PWD, Password) on hidden, fit for
// any message or log. The program puts the password last, so only the password goes.
QString redacted(const QString& connectionText);

} // namespace OdbcSetup
