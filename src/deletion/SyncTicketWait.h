#pragma once

#include "ports/CulvaneError.h"

#include <QList>
#include <QString>

#include <functional>

// Each deletion carries a ticket of its own; the directory synchronisation reports under that ticket
// whether it carried the deletion out. These two make the ticket and wait for its report.
namespace Module1 {

// A new random (version 4) GUID in the braced, upper-case, 38-character registry form.
QString NewTicketGuid();

// Pauses 2000 ms before each of at most 20 polls of the ticket's row. True when the first row's result
// is 0, false for any other result, when no result came within the polls (a line in the run log says so;
// the ticket is kept) and when the database could not be read (reported once, with the driver's text in
// the run log). A ticket whose result was read is removed through sp_DeleteDirectorySyncTicket.
// `detail`, when given, receives how the wait ended; the log reads the same either way.
struct SyncWaitDetail;
bool WaitForSyncToFinished(const QString& ticket, SyncWaitDetail* detail = nullptr);

// How a wait ended, beyond true or false: what the results file of a run records.
struct SyncWaitDetail {
    // Abandoned: the schedule's caller ended the wait before a result came (failure says so).
    enum Ending { ResultRead, TimedOut, Unreadable, Abandoned };
    Ending ending = TimedOut;
    // ResultRead: the ticket row's result as the database gave it (a number, 0 for success).
    QString result;
    // Unreadable: the database's reason, and whether the database answered with it (Refused) or could
    // not be reached (NotSent, Unanswered).
    QString failure;
    CulvaneError::Statement failureStatement = CulvaneError::Statement::None;
};

namespace SyncWait {
constexpr int PauseMilliseconds = 2000;
constexpr int Polls = 20;
} // namespace SyncWait

// How a wait polls: each pause is a share of the time waited so far (the pauses before it), no shorter
// than the shortest and no longer than the longest, until the pauses add up to the bound (the last one
// cut to fit). A result present T after the request is then read by T + max(shortest, share of T).
// The default is the wizard's: 20 pauses of 2000 ms.
struct SyncPollSchedule {
    int shortestPauseMilliseconds = SyncWait::PauseMilliseconds;
    int longestPauseMilliseconds = SyncWait::PauseMilliseconds;
    double waitedShare = 0;
    int boundMilliseconds = SyncWait::PauseMilliseconds * SyncWait::Polls;
    // Asked before and after each pause: true ends the wait there, its outcome unknown and the ticket kept.
    std::function<bool()> abandoned;

    // Each pause a quarter of the time waited, from 50 ms to 2 s, within the same 40 s.
    static SyncPollSchedule fast();
    QList<int> pauses() const;
};

// The wait above, polling on the given schedule.
bool WaitForSyncToFinished(const QString& ticket, SyncWaitDetail* detail, const SyncPollSchedule& schedule);

} // namespace Module1
