#pragma once

#include <QString>

#include <optional>

// The password of a data source that names a user (UID) but keeps no password (PWD): culvane-run reads it
// from a file or the terminal, never from its command line; the connection text takes it from there.
namespace RunPassword {

// The first line of the file, without its line end. Nothing, with the reason, when it cannot be read or
// the line is empty.
std::optional<QString> readPasswordFile(const QString& path, QString* reason);

// Whether users other than the file's owner may read it (its group or everyone), as a password file
// should not allow.
bool othersCanRead(const QString& path);

} // namespace RunPassword
