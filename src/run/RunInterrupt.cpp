#include "run/RunInterrupt.h"

#include <atomic>

namespace RunInterrupt {
namespace {

// The one thing a signal handler may touch: a lock-free atomic, process-wide by nature of the signal.
std::atomic<int> g_count{0};
static_assert(std::atomic<int>::is_always_lock_free, "the count is written from a signal handler");

void onInterrupt(int)
{
    g_count.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

Scope::Scope()
{
    struct sigaction action {};
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a read or write the signal lands in goes on; the run looks at the count itself.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_previous);
}

Scope::~Scope()
{
    sigaction(SIGINT, &m_previous, nullptr);
}

int count()
{
    return g_count.load(std::memory_order_relaxed);
}

} // namespace RunInterrupt
