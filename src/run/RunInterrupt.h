#pragma once

#include <signal.h>

#include <initializer_list>
#include <utility>
#include <vector>

// Stop requests during a run: counted, not acted on in the handler. The run asks the count between its
// steps; the sleeper asks it in short slices during the wait's pauses.
namespace RunInterrupt {

// A handler for each of the signals for the life of the object; the handling before comes back when it
// goes.
class Handlers {
public:
    Handlers(std::initializer_list<int> numbers, void (*handler)(int), int flags);
    ~Handlers();
    Handlers(const Handlers&) = delete;
    Handlers& operator=(const Handlers&) = delete;

private:
    std::vector<std::pair<int, struct sigaction>> m_previous;
};

// While an instance lives, SIGINT (Ctrl-C) adds one to the count instead of ending the process. SIGTERM
// (a scheduler's time limit), SIGHUP and SIGPIPE (the terminal or the ssh session that watched the run is
// gone) add two at once: the current wait ends and no further subscriber is started, so that the run log
// and the results file still say what became of each subscriber.
class Scope {
public:
    Scope();

private:
    Handlers m_handlers;
};

// The stop requests since the first Scope of the process began: one per Ctrl-C, two per ending signal.
int count();

// The first ending signal that came (SIGTERM, SIGHUP or SIGPIPE), or 0 when none did.
int endingSignal();

} // namespace RunInterrupt
