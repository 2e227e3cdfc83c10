#include "deletion/RunTimeEstimate.h"

#include <algorithm>

void RunTimeEstimate::start(qint32 subscribers, qint64 nowMs)
{
    m_total = std::max<qint32>(subscribers, 0);
    m_done = 0;
    m_startedMs = nowMs;
    m_lastDoneMs = nowMs;
}

void RunTimeEstimate::subscriberDone(qint64 nowMs)
{
    if (m_done < m_total)
        ++m_done;
    m_lastDoneMs = std::max(nowMs, m_startedMs);
}

qint64 RunTimeEstimate::elapsedMs(qint64 nowMs) const
{
    return std::max<qint64>(nowMs - m_startedMs, 0);
}

std::optional<qint64> RunTimeEstimate::remainingMs(qint64 nowMs) const
{
    if (m_done >= m_total)
        return 0;
    if (m_done == 0)
        return std::nullopt;
    const double perSubscriber = double(m_lastDoneMs - m_startedMs) / m_done;
    // The subscriber in progress has already used part of its own share, never more than that share.
    const double inProgress = std::min(double(std::max<qint64>(nowMs - m_lastDoneMs, 0)), perSubscriber);
    const double left = perSubscriber * (m_total - m_done) - inProgress;
    return std::max<qint64>(qint64(left), 0);
}

QString RunTimeEstimate::format(qint64 ms)
{
    const qint64 seconds = (std::max<qint64>(ms, 0) + 999) / 1000;
    const qint64 hours = seconds / 3600;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(hours > 0 ? QStringLiteral("%1").arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                           : QString::number(seconds / 60))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QString::number(hours) + QLatin1Char(':') + minutesAndSeconds : minutesAndSeconds;
}
