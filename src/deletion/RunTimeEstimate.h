#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The time a deletion run has taken and an estimate of what it still needs, from the subscribers done so
// far: each costs about as much as the average of those before it (mostly the directory synchronisation's
// wait). Times are milliseconds on a monotonic clock, handed in by the caller.
class RunTimeEstimate {
public:
    void start(qint32 subscribers, qint64 nowMs);
    void subscriberDone(qint64 nowMs);

    qint32 total() const { return m_total; }
    qint32 done() const { return m_done; }
    qint64 elapsedMs(qint64 nowMs) const;
    // Nothing until the first subscriber is done; 0 once all are.
    std::optional<qint64> remainingMs(qint64 nowMs) const;

    // "m:ss", or "h:mm:ss" from an hour on; whole seconds, rounded up so that a wait never shows 0:00.
    static QString format(qint64 ms);

private:
    qint32 m_total = 0;
    qint32 m_done = 0;
    qint64 m_startedMs = 0;
    qint64 m_lastDoneMs = 0;
};
