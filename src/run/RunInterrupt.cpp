#include "run/RunInterrupt.h"

#include <atomic>

namespace RunInterrupt {
namespace {

// The one thing a signal handler may touch: lock-free atomics, process-wide by nature of the signal.
std::atomic<int> g_count{0};
std::atomic<int> g_endingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the count is written from a signal handler");

void onSignal(int signal)
{
    if (signal == SIGINT) {
        g_count.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    int none = 0;
    g_endingSignal.compare_exchange_strong(none, signal, std::memory_order_relaxed);
    g_count.fetch_add(2, std::memory_order_relaxed);
}

} // namespace

Scope::Scope()
{
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a read or write the signal lands in goes on; the run looks at the count itself. A
    // write to a closed pipe fails with EPIPE instead of ending the process.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &action, &m_previous[i]);
}

Scope::~Scope()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &m_previous[i], nullptr);
}

int count()
{
    return g_count.load(std::memory_order_relaxed);
}

int endingSignal()
{
    return g_endingSignal.load(std::memory_order_relaxed);
}

} // namespace RunInterrupt
