#pragma once

#include <QString>

// Passwords live in memory only, and there as briefly as the program can manage.
namespace Secrets {

// Overwrites the text's characters before letting it go. A copy that shares the text keeps its own.
void wipe(QString& secret);
// From now until the process ends it leaves no core dump and cannot be traced by other processes of the
// same user: a password is held.
void keepOutOfCoreDumps();

} // namespace Secrets
