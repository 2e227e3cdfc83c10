#pragma once

#include <signal.h>

#include <array>

// Stop requests during a run: counted, not acted on in the handler. The run asks the count between its
// steps; the sleeper asks it in short slices during the wait's pauses.
namespace RunInterrupt {

// While an instance lives, SIGINT (Ctrl-C) adds one to the count instead of ending the process. SIGTERM
// (a scheduler's time limit), SIGHUP and SIGPIPE (the terminal or the ssh session that watched the run is
// gone) add two at once: the current wait ends and no further subscriber is started, so that the run log
// and the results file still say what became of each subscriber. The handling before comes back when the
// instance goes.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    std::array<struct sigaction, kSignals.size()> m_previous{};
};

// The stop requests since the first Scope of the process began: one per Ctrl-C, two per ending signal.
int count();

// The first ending signal that came (SIGTERM, SIGHUP or SIGPIPE), or 0 when none did.
int endingSignal();

} // namespace RunInterrupt
