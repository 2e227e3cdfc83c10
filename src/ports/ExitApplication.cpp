#include "ports/ExitApplication.h"

#include <cstdio>
#include <cstdlib>

namespace Module1 {
namespace {
ExitHandler& exitHandler()
{
    static ExitHandler handler;
    return handler;
}
int& lastExitStatus()
{
    static int status = ExitNormal;
    return status;
}
} // namespace

void ExitApplication(int exitStatus)
{
    lastExitStatus() = exitStatus;
    // The run log, once the deletion page keeps one, is closed here before the process ends.
    if (exitHandler()) {
        exitHandler()();
        return;
    }
    std::fflush(nullptr);
    // At once: no window is asked whether it may close and no destructor runs.
    std::_Exit(exitStatus);
}

int requestedExitStatus()
{
    return lastExitStatus();
}

ExitHandler setExitHandler(ExitHandler handler)
{
    ExitHandler previous = std::move(exitHandler());
    exitHandler() = std::move(handler);
    return previous;
}

} // namespace Module1
