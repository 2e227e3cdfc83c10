#pragma once

#include "ports/ErrorReport.h"
#include "server/modOrvaneDB.h"

#include <QString>

#include <functional>

// The checks every start of the program makes before it touches a subscriber, without a window: the
// wizard's first page runs them as it loads, and culvane-run before it selects or deletes. Their messages
// go through the MsgBox port, so each program shows them its own way with the same texts.
namespace StartupChecks {

// What a program adds to the sequence at fixed places.
struct Steps {
    // After the directory connector check: the wizard's background update step.
    std::function<void()> afterConnectorCheck;
    // Asked for the password of a data source that names its user but keeps none; nothing ends the start.
    modOrvaneDB::PasswordPrompt askPassword;
    // Hears which connection is used and, once signed in, how; without it the lines go to standard error.
    modOrvaneDB::ConnectionNote connectionNote;
    // Hears that the connection is not encrypted; without it the warning goes to standard error.
    modOrvaneDB::ConnectionNote connectionWarning;
    // Hears the restricted-rights message (435); without it the message is shown as a box.
    std::function<void(const QString&)> restrictedRightsNote;
};

struct Outcome {
    // A check failed and its message has been shown; the program ends with ExitStartupRefused.
    bool refused = false;
    // The installation forces restricted rights (message 435 shown): no full removal.
    bool restrictedRights = false;
};

// In order: the registry export file, the server version, the directory connector, the connection text
// (modOrvaneDB::DbConnectionString), the shared recordsets and how the server signed the program in, the
// switch integrations and the restricted rights. A step that fails is shown through `report` and counts as a
// failed check where it decides one.
Outcome run(const ErrorReport& report, const Steps& steps = Steps());

} // namespace StartupChecks
