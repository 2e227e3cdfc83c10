#pragma once

#include <QString>

// Each deletion carries a ticket of its own; the directory synchronisation reports under that ticket
// whether it carried the deletion out. These two make the ticket and wait for its report.
namespace Module1 {

// A new random (version 4) GUID in the braced, upper-case, 38-character registry form.
QString NewTicketGuid();

// Pauses 2000 ms before each of at most 20 polls of the ticket's row. True when the first row's result
// is 0, false for any other result, when no result came within the polls (a line in the run log says so;
// the ticket is kept) and when the database could not be read (reported once, with the driver's text in
// the run log). A ticket whose result was read is removed through sp_DeleteDirectorySyncTicket.
bool WaitForSyncToFinished(const QString& ticket);

namespace SyncWait {
constexpr int PauseMilliseconds = 2000;
constexpr int Polls = 20;
} // namespace SyncWait

} // namespace Module1
