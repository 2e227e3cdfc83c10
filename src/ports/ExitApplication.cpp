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

RunLogCloser& runLogCloser()
{
    static RunLogCloser closer;
    return closer;
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
    // Closing the run log may fail; the program ends all the same.
    if (runLogCloser()) {
        try {
            runLogCloser()();
        } catch (...) {
        }
    }
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

RunLogCloser setRunLogCloser(RunLogCloser closer)
{
    RunLogCloser previous = std::move(runLogCloser());
    runLogCloser() = std::move(closer);
    return previous;
}

} // namespace Module1
