#pragma once

#include <functional>

namespace Module1 {

// The program's only end: closes what must be closed and ends the process at once. Callers return right
// after the call, which matters only where a test has replaced the ending.
void ExitApplication();

// Replaces how the process ends (tests record the call instead). Returns the previous handler.
using ExitHandler = std::function<void()>;
ExitHandler setExitHandler(ExitHandler handler);

// What ExitApplication closes first: the run log registers its closer when it opens a log (this library
// sits below the run log, so it cannot call it by name). Returns the previous closer.
using RunLogCloser = std::function<void()>;
RunLogCloser setRunLogCloser(RunLogCloser closer);

} // namespace Module1
