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

// Several waits at once, each from its own request on, with one statement polling every waiting ticket.
// Each ticket keeps its own bound. The polls follow the schedule of the ticket that has waited longest:
// since a schedule's pauses never shrink as the time waited grows, the database sees no more polls than
// one ticket's wait would send, however many tickets wait. A ticket whose bound comes between two such
// polls gets a poll of its own at its bound. With one ticket this is WaitForSyncToFinished's wait, pause
// for pause and statement for statement.
class SyncTicketGroup {
public:
    explicit SyncTicketGroup(SyncPollSchedule schedule);

    // The ticket's wait begins now.
    void add(const QString& ticket);
    qsizetype waiting() const { return m_waiting.size(); }
    bool isEmpty() const { return m_waiting.isEmpty(); }

    struct Ended {
        QString ticket;
        bool outcome = false;
        SyncWaitDetail detail;
        // What the wait leaves in the run log (its time-out, the poll that failed, the end by the user),
        // or nothing; the caller writes it where the subscriber's lines stand.
        QString logLine;
    };

    // Pauses until the next poll is due and polls. The waits that ended, in the order their tickets were
    // added; often none. A poll that fails ends every wait it covered (Unreadable), reported once.
    QList<Ended> next();

    // Why every wait still going is ended at once: the schedule's caller (a second Ctrl-C, a signal), or
    // the run's stop when the database could not be reached.
    enum class Abandon { ByUser, Unreachable };
    QList<Ended> abandonAll(Abandon why);

    // Poll statements sent so far.
    int polls() const { return m_polls; }

private:
    struct Waiting {
        QString ticket;
        qint64 sinceMs;
    };
    qint64 nextPollMs() const;
    bool abandoned(QList<Ended>& ended);

    SyncPollSchedule m_schedule;
    // Each poll's moment after the request, in ms: the running sums of the schedule's pauses.
    QList<qint64> m_dueMs;
    qint64 m_boundMs = 0;
    // The group's own clock: the pauses taken so far. The statements' own time does not count, as it does
    // not in a wait's bound.
    qint64 m_nowMs = 0;
    QList<Waiting> m_waiting;
    int m_polls = 0;
};

} // namespace Module1
