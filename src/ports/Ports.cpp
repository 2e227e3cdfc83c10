#include "ports/Ports.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
template <class Handler> Handler& slot()
{
    static Handler handler;
    return handler;
}

template <class Handler> Handler replace(Handler handler)
{
    Handler previous = std::move(slot<Handler>());
    slot<Handler>() = std::move(handler);
    return previous;
}
} // namespace

namespace FileDialog {
std::optional<QString> getOpenFileName(const Request& request)
{
    if (slot<Handler>())
        return slot<Handler>()(request);
    return std::nullopt;
}

std::optional<QString> getSaveFileName(Request request)
{
    request.mode = Request::Mode::Save;
    return getOpenFileName(request);
}

Handler setHandler(Handler handler)
{
    return replace(std::move(handler));
}
} // namespace FileDialog

namespace Clock {
void sleep(int milliseconds)
{
    if (slot<Sleeper>()) {
        slot<Sleeper>()(milliseconds);
        return;
    }
    // On the user-interface thread the pause lets clicks through in short slices, so that a button such as
    // the deletion run's "Stop" is seen during a long wait; the pause lasts as long all the same.
    const QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    constexpr qint64 slice = 20;
    const QDeadlineTimer deadline(milliseconds);
    for (qint64 left = deadline.remainingTime(); left > 0; left = deadline.remainingTime()) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, slice)));
    }
}

Sleeper setSleeper(Sleeper sleeper)
{
    return replace(std::move(sleeper));
}

qint64 monotonicMs()
{
    if (slot<Monotonic>())
        return slot<Monotonic>()();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Monotonic setMonotonic(Monotonic monotonic)
{
    return replace(std::move(monotonic));
}
} // namespace Clock

namespace Launcher {
bool start(const QString& program, const QStringList& arguments)
{
    if (slot<Handler>())
        return slot<Handler>()(program, arguments);
    return QProcess::startDetached(program, arguments);
}

Handler setHandler(Handler handler)
{
    return replace(std::move(handler));
}
} // namespace Launcher
