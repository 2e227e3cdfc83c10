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

// One attribute of a connection text such as "Driver={SQL Server};server=;database=OrvaneDb": keys ignore
// case, braces around a value are removed. Empty when the text has no such key.
QString connectionAttribute(const QString& connectionText, const QString& key);
// The text with the value of every password attribute (PWD, Password) hidden, fit for any message or log.
QString redacted(const QString& connectionText);

} // namespace OdbcSetup
