#pragma once

#include <QString>

#include <optional>

// The password of a data source that names a user (UID) but keeps no password (PWD): culvane-run reads it
// from a file or the terminal, never from its command line, and hands it to the driver in the connection
// text only.
namespace RunPassword {

// The data source's UID when the connection goes through a data source (DSN=) whose entry in odbc.ini has
// a UID and no PWD and the text itself has no PWD; empty otherwise.
QString userWithoutPassword(const QString& connection);

// The connection text with PWD added, braced as ODBC quotes a value.
QString withPassword(const QString& connection, const QString& password);

// The first line of the file, without its line end. Nothing, with the reason, when it cannot be read or
// the line is empty.
std::optional<QString> readPasswordFile(const QString& path, QString* reason);

} // namespace RunPassword
