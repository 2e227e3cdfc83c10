#pragma once

#include <functional>

namespace Module1 {

// Exit statuses, so that scripts can tell a refused start from a normal end.
constexpr int ExitNormal = 0;
constexpr int ExitStartupRefused = 2;

// The program's only end: closes what must be closed and ends the process at once. Callers return right
// after the call, which matters only where a test has replaced the ending.
void ExitApplication(int exitStatus = ExitNormal);
// The status the last ExitApplication asked for (tests, whose handler ends nothing).
int requestedExitStatus();

// Replaces how the process ends (tests record the call instead). Returns the previous handler.
using ExitHandler = std::function<void()>;
ExitHandler setExitHandler(ExitHandler handler);

// What ExitApplication closes first: the run log registers its closer when it opens a log (this library
// sits below the run log, so it cannot call it by name). Returns the previous closer.
using RunLogCloser = std::function<void()>;
RunLogCloser setRunLogCloser(RunLogCloser closer);

} // namespace Module1
