#include "ports/Ports.h"

#include <QProcess>

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
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Sleeper setSleeper(Sleeper sleeper)
{
    return replace(std::move(sleeper));
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
