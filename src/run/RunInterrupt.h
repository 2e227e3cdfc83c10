#pragma once

#include <signal.h>

// Ctrl-C during a run: counted, not acted on in the handler. The run asks the count between its steps;
// the sleeper asks it in short slices during the wait's pauses.
namespace RunInterrupt {

// While an instance lives, SIGINT adds one to the count instead of ending the process; the handling before
// comes back when it goes.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    struct sigaction m_previous {};
};

// How many Ctrl-C have come since the first Scope of the process began.
int count();

} // namespace RunInterrupt
