#pragma once

#include <QString>

#include <optional>

// How the program signed in, as the server tells it: the account it sees, the way it was signed in and
// whether the connection is encrypted. An administrator reads it once at start-up; nothing depends on it.
namespace SignInReport {

// What the server said of this session; an empty text where it would not say.
struct Facts {
    QString server;        // the server as the data source or the connection text names it
    QString login;         // SUSER_SNAME()
    QString authScheme;    // sys.dm_exec_connections: KERBEROS, NTLM, SQL
    QString encryptOption; // sys.dm_exec_connections: TRUE, FALSE
    QString refusal;       // why the server did not say, when it refused to
    bool freeTds = false;  // whether the connection goes through FreeTDS's driver
};

// Asks the server over the open connection. Nothing for the embedded stand-in file: it has no server to
// sign in to. Never raises: what cannot be read stays empty.
std::optional<Facts> ask(const QString& connection);

// The server's name for the line: the data source's Server (or Servername), else the connection text's;
// "(local)" for the local default instance.
QString serverName(const QString& connection);

// "signed in to SERVER as NAME (Kerberos|NTLM|SQL login), connection encrypted|not encrypted", each part
// the server did not tell said to be unknown.
QString line(const Facts& facts);

// The warning for a connection known to cross the network unencrypted, naming the data source setting that
// encrypts it; empty otherwise.
QString warning(const Facts& facts);

} // namespace SignInReport
